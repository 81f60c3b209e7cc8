#pragma once

#include "timing/pacer.h"
#include "timing/stepper.h"

#include <QObject>

#include <memory>

namespace timing {

// Steps a kernel timer runs at each expiry on a thread of its own, at
// real-time priority where the system allows, instead of signalling expired().
// The window's thread takes the count when it needs it and is woken only at
// the count it asked for, so that a step wakes one thread, not two.
class TimerSteps : public QObject
{
    Q_OBJECT

public:
    ~TimerSteps() override;
    Q_DISABLE_COPY_MOVE(TimerSteps)

    // Runs stepper from now on, paced by pacer where there is one, in place of
    // any earlier pair; a null stepper ends the thread, and the timer signals
    // its expiries again. False where the system refuses the thread; stepper
    // and pacer are then dropped.
    virtual bool run(std::unique_ptr<Stepper> stepper, std::unique_ptr<Pacer> pacer) = 0;
    // Steps made so far, by every thread, never fewer than before.
    virtual quint64 made() const = 0;
    // woken() once, as soon as made() reaches count, while a thread runs;
    // replaces an earlier request.
    virtual void wakeAt(quint64 count) = 0;

Q_SIGNALS:
    void woken();

protected:
    explicit TimerSteps(QObject *parent);
};

} // namespace timing
