#pragma once

namespace timing {

// Work done at each tick on the timer's own thread, before the tick reaches
// the window's thread. That thread runs at real-time priority where the system
// allows, so step() must be short and bounded (microseconds): no allocation,
// no lock that another thread may hold, no waiting on anything but the output
// it writes.
class Stepper
{
public:
    virtual ~Stepper() = default;
    virtual void step() noexcept = 0;
};

} // namespace timing
