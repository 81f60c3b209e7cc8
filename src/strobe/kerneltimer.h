#pragma once

#include "strobe/stepper.h"

#include <QObject>

#include <memory>

namespace strobe {

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
    // Hands every expiry to stepper on a thread of the timer's own, which
    // asks for real-time priority, instead of expired(); null ends the thread
    // and reads expiries here again. False where the timer has no such
    // thread; stepper is then dropped.
    virtual bool setStepper(std::unique_ptr<Stepper> stepper);
    // Steps made by steppers so far, never fewer than before.
    virtual quint64 steps() const;
    // stepsReached() once, as soon as steps() reaches count, while a stepper
    // runs; replaces an earlier request.
    virtual void reportAt(quint64 count);

Q_SIGNALS:
    void expired();
    void stepsReached();

protected:
    explicit KernelTimer(QObject *parent);
};

} // namespace strobe
