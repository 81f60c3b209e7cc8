// One of many programs saving into the same settings file at once: saves its
// own key count times, alternating two values, and prints the longest and the
// median save in milliseconds and the number of failed saves.
#include "settings/inifilestore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <algorithm>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    settings::IniFileStore store(args[1]);
    const QString key = args[2];
    const int count = args[3].toInt();
    QList<qint64> times;
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        QElapsedTimer timer;
        timer.start();
        try {
            store.saveSetting(QStringLiteral("Quarnel"), QStringLiteral("Lumivex Software"), key,
                              QString::number(i % 2));
        } catch (const errors::Failure &failure) {
            QTextStream(stderr) << failure.description() << '\n';
            ++failures;
        }
        times.append(timer.elapsed());
    }
    std::sort(times.begin(), times.end());
    QTextStream(stdout) << times.last() << ' ' << times[times.size() / 2] << ' ' << failures
                        << '\n';
    return 0;
}
