// What the one-copy check costs a start, in-process and without a display:
// working out the session's key from the environment, claiming it and letting
// it go, and a later launch asking the holder (on another thread) to come
// forward. Prints the median and the 99th percentile of each, in microseconds.
//   singleinstancebench [rounds]     (default 2000)
#include "shell/singleinstance.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcessEnvironment>

#include <algorithm>
#include <cstdio>
#include <future>
#include <vector>

namespace {

void report(const char *what, std::vector<qint64> &nanoseconds)
{
    std::sort(nanoseconds.begin(), nanoseconds.end());
    const auto at = [&](double share) {
        return double(nanoseconds[std::size_t(share * double(nanoseconds.size() - 1))]) / 1000.0;
    };
    std::printf("%-34s median %8.1f us   p99 %8.1f us\n", what, at(0.5), at(0.99));
}

} // namespace

int main(int argc, char *argv[])
{
    const QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    qputenv("DISPLAY", ":1234");
    std::vector<qint64> keys, claims, handOvers;
    QElapsedTimer timer;
    for (int i = 0; i < rounds; ++i) {
        timer.start();
        const QByteArray key = shell::sessionKey(argc, argv);
        keys.push_back(timer.nsecsElapsed());
        timer.start();
        {
            const shell::SingleInstance claim(key + QByteArray::number(i));
        }
        claims.push_back(timer.nsecsElapsed());
    }
    shell::SingleInstance holder("singleinstancebench."
                                 + QByteArray::number(app.applicationPid()));
    holder.listen([] {});
    for (int i = 0; i < rounds / 10 + 1; ++i) {
        timer.start();
        auto later = std::async(std::launch::async, [&] {
            return shell::SingleInstance("singleinstancebench."
                                         + QByteArray::number(app.applicationPid()))
                .handedOver();
        });
        while (later.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        if (!later.get())
            return 1;
        handOvers.push_back(timer.nsecsElapsed());
    }
    report("session key from the environment", keys);
    report("claim and let go", claims);
    report("hand-over to a listening holder", handOvers);
    return 0;
}
