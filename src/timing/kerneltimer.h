#pragma once

#include <QObject>

namespace timing {

class TimerSteps;

// The operating system's own interval timer, read through the event loop. Its
// deadlines lie on the grid start + n * interval from the moment it starts, and
// however many of them passed since the last signal, it signals once.
class KernelTimer : public QObject
{
    Q_OBJECT

public:
    // This system's timer as a child of parent, or null where there is none.
    static KernelTimer *create(QObject *parent);

    ~KernelTimer() override;
    Q_DISABLE_COPY_MOVE(KernelTimer)

    // Starts a new grid now, replacing any earlier one. Returns false when the
    // system refuses the timer; it is then stopped.
    virtual bool start(int milliseconds) = 0;
    virtual void stop() = 0;
    // Where this system's timer can run steps on a thread of its own: those
    // steps. Null elsewhere.
    virtual TimerSteps *steps() { return nullptr; }

Q_SIGNALS:
    void expired();

protected:
    explicit KernelTimer(QObject *parent);
};

} // namespace timing
