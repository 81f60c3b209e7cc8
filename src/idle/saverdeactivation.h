#pragma once

#include "strobe/idleinhibitor.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class QProcess;

namespace idle {

// While held, runs a command that tells a screen saver to stay off: at once
// and then every interval, when the screen saver runs and no screen saver
// service on the session bus can take the inhibit instead. The command runs
// beside the window's thread, one at a time: one still running at the next
// turn or at the release is killed, and one that cannot start changes nothing.
class SaverDeactivation final
    : public QObject
    , public strobe::IdleInhibitor
{
    Q_OBJECT

public:
    struct Ways
    {
        QString program;
        QStringList arguments;
        int intervalMs = 50000;
        // Whether the screen saver runs; asked just before each command.
        std::function<bool()> saverRunning;
        // Whether a screen saver service is on the session bus, answered on
        // the context object's thread, at once or later.
        std::function<void(QObject &context, std::function<void(bool owned)>)> askServiceOwned;
    };

    explicit SaverDeactivation(Ways ways);
    ~SaverDeactivation() override;
    Q_DISABLE_COPY_MOVE(SaverDeactivation)

    void inhibit(QWidget &window) override;
    void release() override;

    bool commandRunning() const { return m_running != nullptr; }

Q_SIGNALS:
    // A command was started, or was asked for and could not start.
    void commandStarted();

private:
    void turn();
    void deactivate();
    void done(QProcess *process);

    Ways m_ways;
    QTimer m_timer;
    QProcess *m_running = nullptr;
    bool m_held = false;
};

} // namespace idle
