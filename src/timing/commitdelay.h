#pragma once

#include <QtGlobal>

#include <array>

namespace timing {

// The delay from a commit to the screen, in whole refreshes, learnt from the
// refresh each commit was made in and the refresh the compositor says it was
// shown on: the delay seen most often lately, so that a commit that just made
// or just missed the compositor's deadline, or a report of a refresh much
// later, does not move it. Holds a fixed number of delays, so adding one
// allocates nothing.
class CommitDelay final
{
public:
    static constexpr int kCapacity = 16;
    // Delays seen before one is given, and the longest taken for one: beyond
    // it the compositor held the frame back, and the delay says nothing.
    static constexpr int kMinimum = 4;
    static constexpr qint64 kLongest = 8;

    // A commit made in refresh committedIn was shown on refresh shownOn.
    void add(quint64 committedIn, quint64 shownOn);
    void clear();

    // Whether a delay is known: enough of them, and one seen at least as often
    // as all others together. While none is, the one known before stays.
    bool isKnown() const { return m_known; }
    qint64 delay() const { return m_delay; }
    // The refresh to commit in for the commit to be shown on target.
    quint64 commitFor(quint64 target) const { return target - static_cast<quint64>(m_delay); }
    int outliers() const { return m_outliers; }

private:
    void learn();

    std::array<qint64, kCapacity> m_delays{};
    int m_count = 0;
    int m_next = 0;
    int m_outliers = 0;
    bool m_known = false;
    qint64 m_delay = 0;
};

} // namespace timing
