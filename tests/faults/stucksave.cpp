// A program whose one save never ends, as on a file system that stopped
// answering: it asks for the save, then ends, as the window's close does.
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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    StuckStore store;
    settings::SaveQueue queue(store, settings::SaveQueue::Mode::Background);
    queue.save(QStringLiteral("Quarnel"), QStringLiteral("Lumivex Software"),
               QStringLiteral("Combo1"), QStringLiteral("1"));
    return 0;
}
