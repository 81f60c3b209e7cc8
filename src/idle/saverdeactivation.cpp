#include "idle/saverdeactivation.h"

#include <QProcess>

#include <utility>

namespace idle {

SaverDeactivation::SaverDeactivation(Ways ways)
    : m_ways(std::move(ways))
{
    m_timer.setInterval(m_ways.intervalMs);
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, &SaverDeactivation::turn);
}

SaverDeactivation::~SaverDeactivation()
{
    // Killed and collected here, so that QProcess does not wait for it.
    if (!m_running)
        return;
    m_running->disconnect(this);
    m_running->kill();
    m_running->waitForFinished(100);
}

void SaverDeactivation::inhibit(QWidget &)
{
    m_held = true;
    m_timer.start();
    turn();
}

void SaverDeactivation::release()
{
    m_held = false;
    m_timer.stop();
    // A command that still runs is of no use any more and would otherwise stay
    // until the next opening; it is ended and cleans up after itself, so that
    // an opening straight after starts one afresh.
    if (QProcess *process = std::exchange(m_running, nullptr))
        process->kill();
}

void SaverDeactivation::turn()
{
    // One that still runs a whole interval later hangs: it is ended, and the
    // next turn starts afresh.
    if (m_running) {
        m_running->kill();
        return;
    }
    m_ways.askServiceOwned(*this, [this](bool owned) {
        if (m_held && !owned && !m_running && m_ways.saverRunning())
            deactivate();
    });
}

void SaverDeactivation::deactivate()
{
    auto *process = new QProcess(this);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    connect(process, &QProcess::finished, this, [this, process] { done(process); });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError) {
        if (process->state() == QProcess::NotRunning)
            done(process);
    });
    m_running = process;
    process->start(m_ways.program, m_ways.arguments);
    Q_EMIT commandStarted();
}

void SaverDeactivation::done(QProcess *process)
{
    if (m_running == process)
        m_running = nullptr;
    process->deleteLater();
}

} // namespace idle
