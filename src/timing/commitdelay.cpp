#include "timing/commitdelay.h"

namespace timing {

void CommitDelay::add(quint64 committedIn, quint64 shownOn)
{
    if (shownOn < committedIn || shownOn - committedIn > static_cast<quint64>(kLongest)) {
        ++m_outliers;
        return;
    }
    m_delays[m_next] = static_cast<qint64>(shownOn - committedIn);
    m_next = (m_next + 1) % kCapacity;
    if (m_count < kCapacity)
        ++m_count;
    learn();
}

void CommitDelay::clear()
{
    m_count = 0;
    m_next = 0;
    m_outliers = 0;
    m_known = false;
    m_delay = 0;
}

void CommitDelay::learn()
{
    std::array<int, kLongest + 1> seen{};
    for (int i = 0; i < m_count; ++i)
        ++seen[static_cast<size_t>(m_delays[i])];
    // On a tie, the delay seen last of those tied: the compositor's latest.
    qint64 best = -1;
    for (int back = 1; back <= m_count; ++back) {
        const qint64 delay = m_delays[(m_next - back + kCapacity) % kCapacity];
        if (best < 0 || seen[static_cast<size_t>(delay)] > seen[static_cast<size_t>(best)])
            best = delay;
    }
    const bool enough = m_count >= kMinimum && 2 * seen[static_cast<size_t>(best)] >= m_count;
    // An unclear window keeps the delay known before, until one is clear again.
    if (enough) {
        m_delay = best;
        m_known = true;
    }
}

} // namespace timing
