#pragma once

#include "tickgrid.h"

#include <QBasicTimer>
#include <QObject>

#include <functional>

namespace strobe {

// An interval timer in milliseconds. Interval 0 means no ticks at all, enabled
// or not. Ticks are due on a fixed grid from the moment the timer starts; a
// late tick does not delay the next, and deadlines missed entirely are skipped.
class IntervalTimer final : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<TickGrid::Duration()>;

    explicit IntervalTimer(QObject *parent = nullptr, Clock clock = steadyClock());
    ~IntervalTimer() override;
    Q_DISABLE_COPY_MOVE(IntervalTimer)

    static Clock steadyClock();

    int interval() const { return m_interval; }
    // Throws errors::Failure for a negative interval.
    void setInterval(int milliseconds);
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    // Whether a tick is pending at all.
    bool isArmed() const { return m_timer.isActive(); }

Q_SIGNALS:
    void Timer();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void restart();

    Clock m_clock;
    TickGrid m_grid;
    QBasicTimer m_timer;
    int m_interval = 0;
    bool m_enabled = false;
    // The pending timeout is a one-off aimed at the next deadline.
    bool m_realigning = false;
};

} // namespace strobe
