// A program whose one save never ends, as on a file system that stopped
// answering: it asks for the save, then ends, as the window's close does.
// With "fails", the save fails instead, after the program began to end (a
// lock another program holds for longer than the save waits).
#include "errors/failure.h"
#include "settings/savequeue.h"
#include "settings/settingsstore.h"

#include <QCoreApplication>
#include <QThread>

namespace {

class StuckStore final : public settings::SettingsStore
{
public:
    QString setting(const QString &, const QString &, const QString &,
                    const QString &defaultValue) override
    {
        return defaultValue;
    }
    void saveSetting(const QString &, const QString &, const QString &, const QString &) override
    {
        for (;;)
            QThread::sleep(60);
    }
};

class FailingStore final : public settings::SettingsStore
{
public:
    QString setting(const QString &, const QString &, const QString &,
                    const QString &defaultValue) override
    {
        return defaultValue;
    }
    void saveSetting(const QString &, const QString &, const QString &, const QString &) override
    {
        QThread::msleep(300);
        throw errors::Failure(QStringLiteral("Another program holds the settings file's lock"));
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    StuckStore stuck;
    FailingStore failing;
    settings::SettingsStore &store = argc > 1 && QByteArray(argv[1]) == "fails"
                                         ? static_cast<settings::SettingsStore &>(failing)
                                         : stuck;
    settings::SaveQueue queue(store, settings::SaveQueue::Mode::Background);
    queue.save(QStringLiteral("Quarnel"), QStringLiteral("Lumivex Software"),
               QStringLiteral("Combo1"), QStringLiteral("1"));
    return 0;
}
