#include "timing/frameclock.h"

#include <algorithm>
#include <cmath>

namespace timing {

namespace {

// Reports this close to each other, in microseconds, always agree: a display
// stamps its refreshes to the microsecond, so a spread below this is noise.
constexpr double kAgreement = 20.0;
// How far off a report may be, in robust standard deviations of them all, and
// at most: a time an eighth of a refresh off is not that refresh's.
constexpr double kSpread = 5.0;
constexpr double kFarthest = 1.0 / 8;
// At most one report in this many may be left out of a fit.
constexpr int kMostStray = 4;
// How sure of the period a fit must be over the span of its reports, as a part
// of a refresh.
constexpr double kSureTo = 1.0 / 16;
// How close to halfway between two refreshes a step's time is taken to be
// right between them, as a part of a refresh.
constexpr double kTieBand = 1.0 / 8;
// Exactly between two refreshes (to this fraction of one), a step takes the
// later: a rounding error must not make a pattern of 8, 7, 8, 7 one of 7, 8.
constexpr double kTie = 1e-6;

// The median of the first n values, which it reorders.
double median(double *values, int n)
{
    double *middle = values + n / 2;
    std::nth_element(values, middle, values + n);
    if (n % 2 == 1)
        return *middle;
    const double below = *std::max_element(values, middle);
    return (below + *middle) / 2;
}

} // namespace

void FrameClock::add(Refresh refresh)
{
    if (m_count > 0) {
        const Refresh &last = m_reports[(m_first + m_count - 1) % kCapacity];
        if (refresh.msc == last.msc)
            return;
        if (refresh.msc < last.msc)
            clear();
    }
    if (m_count == kCapacity) {
        m_reports[m_first] = refresh;
        m_first = (m_first + 1) % kCapacity;
    } else {
        m_reports[(m_first + m_count) % kCapacity] = refresh;
        ++m_count;
    }
    fit();
}

void FrameClock::clear()
{
    m_count = 0;
    m_first = 0;
    m_locked = false;
    m_outliers = 0;
}

double FrameClock::ustOf(quint64 msc) const
{
    const auto frames = static_cast<double>(static_cast<qint64>(msc - m_originMsc));
    return m_originUst + frames * m_period;
}

quint64 FrameClock::nearest(double ust) const
{
    if (m_period <= 0)
        return m_originMsc;
    const double frames = std::floor((ust - m_originUst) / m_period + 0.5 + kTie);
    if (frames < -static_cast<double>(m_originMsc))
        return 0;
    return m_originMsc + static_cast<quint64>(static_cast<qint64>(frames));
}

void FrameClock::fit()
{
    m_locked = false;
    const int n = m_count;
    if (n < kMinimum)
        return;
    // Counts and times relative to the oldest report, to keep their digits.
    const Refresh &oldest = m_reports[m_first];
    std::array<double, kCapacity> frames{};
    std::array<double, kCapacity> times{};
    for (int i = 0; i < n; ++i) {
        const Refresh &report = m_reports[(m_first + i) % kCapacity];
        frames[i] = static_cast<double>(report.msc - oldest.msc);
        times[i] = static_cast<double>(report.ust - oldest.ust);
    }

    // A first guess that a few stray reports cannot pull: the median period
    // between reports half the window apart (neighbours would make noise of a
    // refresh's tenth a tenth of the period), and the median phase with it.
    std::array<double, kCapacity> scratch{};
    const int half = n / 2;
    for (int i = 0; i + half < n; ++i)
        scratch[i] = (times[i + half] - times[i]) / (frames[i + half] - frames[i]);
    const double guess = median(scratch.data(), n - half);
    if (!(guess > 0))
        return;
    std::array<double, kCapacity> phases{};
    for (int i = 0; i < n; ++i)
        phases[i] = scratch[i] = times[i] - guess * frames[i];
    const double phase = median(scratch.data(), n);
    for (int i = 0; i < n; ++i)
        scratch[i] = std::abs(phases[i] - phase);
    const double tolerance = std::min(
        std::max(kSpread * 1.4826 * median(scratch.data(), n), kAgreement), kFarthest * guess);

    // Least squares over the reports that agree with the guess.
    int kept = 0;
    double sumFrames = 0;
    double sumTimes = 0;
    for (int i = 0; i < n; ++i) {
        if (std::abs(phases[i] - phase) <= tolerance) {
            ++kept;
            sumFrames += frames[i];
            sumTimes += times[i];
        }
    }
    m_outliers = n - kept;
    // A display stamps nearly every refresh on one line. A made-up clock whose
    // timers fire on whole milliseconds puts a fast rate's reports on two or
    // three lines a part of a refresh apart: a fit to any one of them would put
    // the other reports' steps a refresh off.
    if (kept < kMinimum || kept < n - n / kMostStray)
        return;
    const double meanFrames = sumFrames / kept;
    const double meanTimes = sumTimes / kept;
    double covariance = 0;
    double variance = 0;
    for (int i = 0; i < n; ++i) {
        if (std::abs(phases[i] - phase) <= tolerance) {
            covariance += (frames[i] - meanFrames) * (times[i] - meanTimes);
            variance += (frames[i] - meanFrames) * (frames[i] - meanFrames);
        }
    }
    if (variance <= 0)
        return;
    const double period = covariance / variance;
    if (!(period >= kShortestPeriod && period <= kLongestPeriod))
        return;
    const double origin = meanTimes - period * meanFrames;
    // Noisy reports (a made-up clock stamps them with timers of whole
    // milliseconds) need more of them, or a longer span, before the period is
    // known well enough: across the span, the fit must be sure to a small part
    // of a refresh.
    double squares = 0;
    double first = frames[n - 1];
    double last = 0;
    for (int i = 0; i < n; ++i) {
        if (std::abs(phases[i] - phase) <= tolerance) {
            const double residual = times[i] - (origin + period * frames[i]);
            squares += residual * residual;
            first = std::min(first, frames[i]);
            last = std::max(last, frames[i]);
        }
    }
    const double periodError = std::sqrt(squares / (kept - 2) / variance);
    if (periodError * (last - first) > kSureTo * period)
        return;
    m_period = period;
    m_originMsc = oldest.msc;
    m_originUst = static_cast<double>(oldest.ust) + origin;
    m_locked = true;
}

void SteadyFrameClock::add(Refresh refresh, Micros stepUs)
{
    m_fit.add(refresh);
    if (!m_fit.isLocked())
        return;
    const double tolerance = m_fit.period() / 16;
    const auto movedAt = [&](quint64 msc) {
        return std::abs(m_fit.ustOf(msc) - m_steady.ustOf(msc)) > tolerance;
    };
    const auto ahead = static_cast<quint64>(std::max(0.0, std::ceil(stepUs / m_fit.period())));
    if (!m_steady.isLocked() || movedAt(refresh.msc) || movedAt(refresh.msc + ahead))
        m_steady = m_fit;
}

void SteadyFrameClock::clear()
{
    m_fit.clear();
    m_steady.clear();
}

void FrameGrid::start(Micros startUst, Micros stepUs)
{
    m_start = startUst;
    m_step = std::max<qint64>(stepUs, 1);
    m_next = 1;
    m_hasAsked = false;
    m_hasSide = false;
}

quint64 FrameGrid::ask(qint64 index, const FrameClock &clock)
{
    m_next = index;
    m_asked = target(index, clock);
    m_hasAsked = true;
    // Where the step's time lies right between two refreshes, it goes to the
    // same side as the last step that lay there: the clock's noise must not
    // move it to one side and a later one to the other, a step a refresh too
    // long and one too short. Where the time lies in the refresh: above 0
    // after its start.
    const double time = static_cast<double>(m_start) + static_cast<double>(index * m_step);
    const auto offset = [&] {
        return (time - clock.ustOf(m_asked)) / clock.period();
    };
    const double within = offset();
    const double fromMiddle = std::abs(std::abs(within) - 0.5);
    if (fromMiddle < kTieBand) {
        if (m_hasSide && within > 0 && m_side < 0)
            ++m_asked;
        else if (m_hasSide && within < 0 && m_side > 0)
            --m_asked;
        m_side = offset();
        m_hasSide = true;
        return m_asked;
    }
    // A step whose time drifted on from the last one in the middle (a rate
    // a little off the step's whole number of refreshes): just outside the
    // middle its side is the one to keep should the clock's noise move the
    // next step back in, so that the steps move to the other refresh once and
    // not back and forth; further out the middle is behind it. Steps at other
    // places in a refresh (a pattern such as 8, 7) leave the side alone.
    if (!m_hasSide)
        return m_asked;
    double sameRefresh = within;
    if (within - m_side > 0.5)
        sameRefresh -= 1;
    else if (m_side - within > 0.5)
        sameRefresh += 1;
    if (std::abs(sameRefresh - m_side) < kTieBand) {
        if (fromMiddle < 2 * kTieBand)
            m_side = within;
        else
            m_hasSide = false;
    }
    return m_asked;
}

quint64 FrameGrid::due(qint64 index, const FrameClock &clock) const
{
    return m_hasAsked && index == m_next ? m_asked : target(index, clock);
}

quint64 FrameGrid::target(qint64 index, const FrameClock &clock) const
{
    return clock.nearest(static_cast<double>(m_start) + static_cast<double>(index * m_step));
}

FrameGrid::Due FrameGrid::check(Refresh reported, Micros now, const FrameClock &clock)
{
    Due due;
    if (!clock.isLocked() || this->due(m_next, clock) > reported.msc)
        return due;
    // The last step whose refresh has come: found from the times, then put
    // right for the rounding to refreshes.
    const double reportedUst = clock.ustOf(reported.msc) + clock.period() / 2;
    qint64 last = static_cast<qint64>(
        std::floor((reportedUst - static_cast<double>(m_start)) / static_cast<double>(m_step)));
    last = std::max(last, m_next);
    while (last > m_next && target(last, clock) > reported.msc)
        --last;
    while (target(last + 1, clock) <= reported.msc)
        ++last;
    due.step = true;
    due.index = last;
    due.skipped = last - m_next;
    due.lateBy = static_cast<qint64>(reported.msc - this->due(last, clock));
    due.late = due.lateBy > 0 || static_cast<double>(now) >= clock.ustOf(reported.msc + 1);
    m_next = last + 1;
    m_hasAsked = false;
    return due;
}

} // namespace timing
