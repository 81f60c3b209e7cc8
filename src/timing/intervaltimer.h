#pragma once

#include "errors/threadaffinity.h"
#include "timing/pacer.h"
#include "timing/stepper.h"
#include "timing/tickgrid.h"

#include <QBasicTimer>
#include <QObject>

#include <memory>

namespace timing {

class KernelTimer;
class TimerSteps;

// An interval timer in milliseconds. Interval 0 means no ticks at all, enabled
// or not. Ticks are due on a fixed grid from the moment the timer starts; a
// late tick does not delay the next, and deadlines missed entirely are skipped.
class IntervalTimer final : public QObject
{
    Q_OBJECT

public:
    enum class Source {
        // The system's own interval timer where there is one (timerfd on
        // Linux, a high-resolution waitable timer on Windows), Qt's precise
        // timer elsewhere.
        Best,
        // Qt's precise timer, whole milliseconds, steered back onto the grid.
        QtTimer,
    };

    explicit IntervalTimer(QObject *parent = nullptr, Source source = Source::Best);
    ~IntervalTimer() override;
    Q_DISABLE_COPY_MOVE(IntervalTimer)

    int interval() const { return m_interval; }
    // Throws errors::Failure for a negative interval.
    void setInterval(int milliseconds);
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    // Whether a tick is pending at all.
    bool isArmed() const { return m_armed; }
    bool usesKernelTimer() const { return m_kernelTimer != nullptr; }
    // Runs stepper at every tick on a thread of the system timer's own, at
    // real-time priority where the system allows, instead of ticked(), paced
    // by pacer where there is one: this thread is not woken for a step unless
    // it asked with wakeAfter(). Null goes back to ticked() for every tick.
    // False, and both dropped, where the ticks do not come from such a thread.
    bool setStepper(std::unique_ptr<Stepper> stepper, std::unique_ptr<Pacer> pacer = nullptr);
    // The steps made on that thread since the last call.
    quint64 takeSteps();
    // woken() once steps steps are waiting to be taken; 0 for never.
    void wakeAfter(quint64 steps);

Q_SIGNALS:
    // A tick was due and no stepper took it.
    void ticked();
    // The steps asked for with wakeAfter() are waiting to be taken.
    void woken();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    // The kernel timer's own step thread, where there is one.
    TimerSteps *timerSteps() const;
    void restart();
    void stop();
    void startQtTimer();

    TickGrid m_grid;
    QBasicTimer m_timer;
    KernelTimer *m_kernelTimer = nullptr;
    errors::ThreadAffinity m_owner;
    quint64 m_stepsTaken = 0;
    int m_interval = 0;
    bool m_enabled = false;
    bool m_armed = false;
    // The pending Qt timeout is a one-off aimed at the next deadline.
    bool m_realigning = false;
};

} // namespace timing
