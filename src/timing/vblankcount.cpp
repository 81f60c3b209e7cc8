#include "timing/vblankcount.h"

#include <cmath>

namespace timing {

namespace {

// A period that changed by more than this part of itself is another mode, not
// the same one given with other rounding.
constexpr double kSamePeriod = 1e-4;

bool samePeriod(double a, double b)
{
    return std::abs(a - b) <= kSamePeriod * b;
}

} // namespace

VblankCount::Result VblankCount::add(Micros now, double periodUs)
{
    const bool fast = m_hasReturn && now - m_lastReturn < kFastest;
    m_hasReturn = true;
    m_lastReturn = now;
    if (fast || periodUs < FrameClock::kShortestPeriod || periodUs > FrameClock::kLongestPeriod) {
        m_started = false;
        return Result::Unusable;
    }
    if (!m_started || !samePeriod(periodUs, m_period))
        return start(now, periodUs);

    const auto elapsed = std::llround(static_cast<double>(now - m_last.ust) / m_period);
    if (elapsed <= 0)
        return Result::Repeated;
    m_last = {m_last.msc + static_cast<quint64>(elapsed), now};
    return Result::Counted;
}

void VblankCount::restart()
{
    m_started = false;
    m_hasReturn = false;
}

VblankCount::Result VblankCount::start(Micros now, double periodUs)
{
    m_started = true;
    m_period = periodUs;
    m_last = {0, now};
    return Result::Started;
}

} // namespace timing
