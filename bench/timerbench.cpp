// How closely the strobe's interval timer keeps its grid, without a screen in
// between: for each source of ticks and each speed, runs the timer for a while
// and prints how late each tick came after its deadline (start + n x interval)
// and how many deadlines passed without a tick.
//   timerbench [seconds per run, default 10]
#include "timing/intervaltimer.h"
#include "timing/monotonic.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using timing::IntervalTimer;
using timing::monotonicMicros;

namespace {

struct Run
{
    std::vector<double> lateMs;
    qint64 missed = 0;
    bool kernelTimer = false;
};

Run measure(IntervalTimer::Source source, int intervalMs, int seconds)
{
    Run run;
    IntervalTimer timer(nullptr, source);
    run.kernelTimer = timer.usesKernelTimer();
    const double interval = intervalMs * 1e3;
    double start = 0;
    qint64 last = 0;
    QObject::connect(&timer, &IntervalTimer::ticked, [&] {
        const double now = static_cast<double>(monotonicMicros());
        const auto n = static_cast<qint64>((now - start) / interval);
        run.lateMs.push_back((now - start - static_cast<double>(n) * interval) / 1e3);
        run.missed += n - last - 1;
        last = n;
    });
    timer.setInterval(intervalMs);
    start = static_cast<double>(monotonicMicros());
    timer.setEnabled(true);
    QTimer::singleShot(seconds * 1000, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    return run;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    std::printf("%-22s %8s %6s %11s %10s %10s %7s\n", "source", "interval", "ticks", "median late",
                "p99 late", "max late", "missed");
    for (const auto source : {IntervalTimer::Source::Best, IntervalTimer::Source::QtTimer}) {
        for (const int interval : {200, 150, 100}) {
            const Run run = measure(source, interval, seconds);
            const char *name = run.kernelTimer ? "system timer" : "Qt precise timer";
            std::printf("%-22s %5d ms %6zu %8.3f ms %7.3f ms %7.3f ms %7lld\n", name, interval,
                        run.lateMs.size(), percentile(run.lateMs, 0.5),
                        percentile(run.lateMs, 0.99), percentile(run.lateMs, 1.0),
                        static_cast<long long>(run.missed));
            std::fflush(stdout);
        }
    }
    return 0;
}
