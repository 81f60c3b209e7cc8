#include "timing/commitdelay.h"
#include "timing/presentationclock.h"
#include "timing/vblankcount.h"

#include <QTest>

#include <cmath>
#include <initializer_list>

using timing::ClockReadings;
using timing::CommitDelay;
using timing::Micros;
using timing::Nanos;
using timing::PresentationClock;
using timing::PresentationReport;
using timing::Refresh;
using timing::VblankCount;

class TestRefreshSources final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void presentation_data();
    void presentation();
    void commitDelay_data();
    void commitDelay();
    void vblankCount_data();
    void vblankCount();
};

namespace {

// An hour after boot, in nanoseconds.
constexpr Nanos kBootNs = 3'600'000'000'000;
constexpr Micros kBoot = 3'600'000'000;

// What a compositor's sequence numbers count.
enum Sequence { Refreshes, Frames, Zero };

QList<qint64> range(qint64 from, qint64 to)
{
    QList<qint64> all;
    for (qint64 i = from; i < to; ++i)
        all.append(i);
    return all;
}

} // namespace

// Reports of the refreshes listed (counted from the first a report tells of),
// from a compositor at rate Hz: what its sequence counts, the period it gives
// (Hz, 0: none), its clock's offset from the monotonic one (0: it is the
// monotonic clock) and whether it was measured, and the most its stamps are
// off by. Expected: the counts the refreshes get, from the first one's, and
// whether they are taken from time.
void TestRefreshSources::presentation_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("sequence");
    QTest::addColumn<double>("givenRate");
    QTest::addColumn<Nanos>("offset");
    QTest::addColumn<bool>("measured");
    QTest::addColumn<Nanos>("jitter");
    QTest::addColumn<QList<qint64>>("presented");
    QTest::addColumn<QList<qint64>>("counts");
    QTest::addColumn<bool>("fromTime");

    const QList<qint64> ten = range(0, 10);
    const QList<qint64> gaps{0, 1, 2, 5, 6, 7, 11, 12};
    const QList<qint64> none;
    const Nanos ms = 1'000'000;
    QTest::newRow("refresh counts, every refresh")
        << 60.0 << int(Refreshes) << 60.0 << Nanos(0) << false << Nanos(0) << ten << ten << false;
    QTest::newRow("refresh counts, reports dropped") << 60.0 << int(Refreshes) << 60.0 << Nanos(0)
                                                     << false << Nanos(0) << gaps << gaps << false;
    QTest::newRow("refresh counts, no period given")
        << 75.0 << int(Refreshes) << 0.0 << Nanos(0) << false << Nanos(0) << gaps << gaps << false;
    QTest::newRow("frame counts, a frame every refresh")
        << 60.0 << int(Frames) << 60.0 << Nanos(0) << false << Nanos(0) << ten << ten << false;
    QTest::newRow("frame counts, frames skipping refreshes")
        << 60.0 << int(Frames) << 60.0 << Nanos(0) << false << Nanos(0) << gaps << gaps << true;
    QTest::newRow("frame counts, skipping, stamps 1 ms off")
        << 144.0 << int(Frames) << 144.0 << Nanos(0) << false << ms << gaps << gaps << true;
    QTest::newRow("sequence 0, timer at 37 Hz")
        << 37.0 << int(Zero) << 37.0 << Nanos(0) << false << Nanos(0) << gaps << gaps << true;
    QTest::newRow("sequence 0, stamps half a ms off")
        << 60.0 << int(Zero) << 60.0 << Nanos(0) << false << ms / 2 << gaps << gaps << true;
    QTest::newRow("sequence 0, ten minutes, period given 0.4 % short")
        << 60.0 << int(Zero) << 60.24 << Nanos(0) << false << Nanos(0) << range(0, 36'000)
        << range(0, 36'000) << true;
    QTest::newRow("sequence 0, no period: no refreshes")
        << 60.0 << int(Zero) << 0.0 << Nanos(0) << false << Nanos(0) << ten << none << false;
    QTest::newRow("the same refresh twice, and one of the past")
        << 60.0 << int(Zero) << 60.0 << Nanos(0) << false << Nanos(0)
        << QList<qint64>{0, 1, 1, 2, 1, 3} << QList<qint64>{0, 1, 2, 3} << true;
    QTest::newRow("another clock, offset measured")
        << 60.0 << int(Refreshes) << 60.0 << Nanos(-1'700'000'000'000'000'000) << true << Nanos(0)
        << gaps << gaps << false;
    QTest::newRow("another clock, sequence 0, offset measured")
        << 75.0 << int(Zero) << 75.0 << Nanos(123'456'789) << true << Nanos(0) << gaps << gaps
        << true;
    QTest::newRow("another clock, offset not measured")
        << 60.0 << int(Refreshes) << 60.0 << Nanos(123'456'789) << false << Nanos(0) << ten << none
        << false;
}

void TestRefreshSources::presentation()
{
    QFETCH(double, rate);
    QFETCH(int, sequence);
    QFETCH(double, givenRate);
    QFETCH(Nanos, offset);
    QFETCH(bool, measured);
    QFETCH(Nanos, jitter);
    QFETCH(QList<qint64>, presented);
    QFETCH(QList<qint64>, counts);
    QFETCH(bool, fromTime);

    PresentationClock clock;
    if (measured) {
        // Read 40 us apart, the other clock halfway.
        const Nanos at = kBootNs - 1'000'000'000;
        QVERIFY(clock.measureOffset({at, at + 20'000 - offset, at + 40'000}));
    }
    const double period = 1e9 / rate;
    const Nanos givenPeriod = givenRate > 0 ? std::llround(1e9 / givenRate) : 0;
    QList<qint64> got;
    quint64 first = 0;
    for (int i = 0; i < presented.size(); ++i) {
        const qint64 refresh = presented[i];
        // Off by -jitter, 0 and +jitter in turn.
        const Nanos shown
            = kBootNs + std::llround(double(refresh) * period) + (i % 3 - 1) * jitter;
        const quint64 number = sequence == Refreshes ? quint64(9000 + refresh)
                               : sequence == Frames  ? quint64(500 + i)
                                                     : 0;
        const PresentationReport report{offset == 0, shown - offset, givenPeriod, number};
        Refresh out;
        if (!clock.normalise(report, out))
            continue;
        if (got.isEmpty())
            first = out.msc;
        got.append(qint64(out.msc - first));
        QCOMPARE(out.ust, std::llround(double(shown) / 1000));
    }
    QCOMPARE(got, counts);
    QCOMPARE(clock.countsFromTime(), fromTime);
}

// Commits shown the given numbers of refreshes after the refresh they were
// made in. Expected: whether a delay is known, which, the refresh to commit in
// to be shown on refresh 1000, and the delays left out.
void TestRefreshSources::commitDelay_data()
{
    QTest::addColumn<QList<int>>("delays");
    QTest::addColumn<bool>("known");
    QTest::addColumn<int>("delay");
    QTest::addColumn<int>("commitFor1000");
    QTest::addColumn<int>("outliers");

    const QList<int> threes(8, 3);
    QTest::newRow("3 refreshes, steadily") << threes << true << 3 << 997 << 0;
    QTest::newRow("too few commits yet") << QList<int>{3, 3, 3} << false << 0 << 1000 << 0;
    QTest::newRow("commits at the deadline: 3, sometimes 2")
        << QList<int>{3, 2, 3, 3, 2, 3, 3, 3} << true << 3 << 997 << 0;
    QTest::newRow("a report far later") << QList<int>{3, 3, 40, 3, 3} << true << 3 << 997 << 1;
    QTest::newRow("a report of a refresh before the commit")
        << QList<int>{3, -1, 3, 3, 3} << true << 3 << 997 << 1;
    QTest::newRow("the compositor slows: 2, then 3 for longer")
        << QList<int>(16, 2) + QList<int>(9, 3) << true << 3 << 997 << 0;
    QTest::newRow("the compositor slows: 2, then 3 for a while")
        << QList<int>(16, 2) + QList<int>(7, 3) << true << 2 << 998 << 0;
    QTest::newRow("as often 2 as 3: the latest")
        << QList<int>{2, 3, 2, 3, 2, 3} << true << 3 << 997 << 0;
    QTest::newRow("no delay clearly most often")
        << QList<int>{1, 2, 3, 4, 1, 2, 3, 4} << false << 0 << 1000 << 0;
    QTest::newRow("a delay known stays through a muddle")
        << threes + QList<int>{1, 2, 4, 5, 6, 7, 1, 2, 4, 5} << true << 3 << 997 << 0;
}

void TestRefreshSources::commitDelay()
{
    QFETCH(QList<int>, delays);
    QFETCH(bool, known);
    QFETCH(int, delay);
    QFETCH(int, commitFor1000);
    QFETCH(int, outliers);

    CommitDelay learner;
    quint64 committedIn = 5000;
    for (const int d : delays) {
        learner.add(committedIn, quint64(qint64(committedIn) + d));
        committedIn += 1;
    }
    QCOMPARE(learner.isKnown(), known);
    QCOMPARE(learner.delay(), qint64(delay));
    QCOMPARE(learner.commitFor(1000), quint64(commitFor1000));
    QCOMPARE(learner.outliers(), outliers);
}

namespace {

constexpr double k60 = 1e6 / 60;

// n returns gap microseconds apart.
QList<Micros> every(int n, double gap)
{
    QList<Micros> gaps;
    for (int i = 0; i < n; ++i)
        gaps.append(std::llround(gap));
    return gaps;
}

QList<int> results(std::initializer_list<VblankCount::Result> list)
{
    QList<int> all;
    for (const VblankCount::Result result : list)
        all.append(int(result));
    return all;
}

} // namespace

// Returns of a vblank wait, the first at boot and each a gap (us) after the
// one before, on a monitor whose period (us) is given, and from the return
// numbered changeAt on another period. Expected: what each return was, and
// the count after each.
void TestRefreshSources::vblankCount_data()
{
    QTest::addColumn<double>("period");
    QTest::addColumn<QList<Micros>>("gaps");
    QTest::addColumn<int>("changeAt");
    QTest::addColumn<double>("newPeriod");
    QTest::addColumn<QList<int>>("results");
    QTest::addColumn<QList<qint64>>("counts");

    using R = VblankCount::Result;
    const auto p = [](double parts) {
        return std::llround(parts * k60);
    };
    QTest::newRow("60 Hz, every refresh")
        << k60 << every(4, k60) << -1 << 0.0
        << results({R::Started, R::Counted, R::Counted, R::Counted, R::Counted})
        << QList<qint64>{0, 1, 2, 3, 4};
    QTest::newRow("waits missed: gaps of 3 and 2 refreshes")
        << k60 << QList<Micros>{p(1), p(3), p(1), p(2)} << -1 << 0.0
        << results({R::Started, R::Counted, R::Counted, R::Counted, R::Counted})
        << QList<qint64>{0, 1, 4, 5, 7};
    QTest::newRow("returns stamped up to 2 ms late")
        << k60 << QList<Micros>{p(1) + 2000, p(1) - 2000, p(1) + 1500, p(1), p(1) - 1500} << -1
        << 0.0 << results({R::Started, R::Counted, R::Counted, R::Counted, R::Counted, R::Counted})
        << QList<qint64>{0, 1, 2, 3, 4, 5};
    QTest::newRow("a return stamped 40 % of a refresh late")
        << k60 << QList<Micros>{p(1), p(1.4), p(0.6), p(1)} << -1 << 0.0
        << results({R::Started, R::Counted, R::Counted, R::Counted, R::Counted})
        << QList<qint64>{0, 1, 2, 3, 4};
    QTest::newRow("a second return 2 ms into a refresh")
        << k60 << QList<Micros>{p(1), 2000, p(1) - 2000, p(1)} << -1 << 0.0
        << results({R::Started, R::Counted, R::Repeated, R::Counted, R::Counted})
        << QList<qint64>{0, 1, 1, 2, 3};
    QTest::newRow("a return under 1 ms: the monitor sleeps, then wakes")
        << k60 << QList<Micros>{p(1), 300, p(1), p(1)} << -1 << 0.0
        << results({R::Started, R::Counted, R::Unusable, R::Started, R::Counted})
        << QList<qint64>{0, 1, 1, 0, 1};
    QTest::newRow("returns under 1 ms, again and again")
        << k60 << QList<Micros>{p(1), 200, 200, 200} << -1 << 0.0
        << results({R::Started, R::Counted, R::Unusable, R::Unusable, R::Unusable})
        << QList<qint64>{0, 1, 1, 1, 1};
    QTest::newRow("to a 144 Hz monitor")
        << k60 << QList<Micros>{p(1), 20'000, 6944, 6944, 4 * 6944} << 2 << 1e6 / 144
        << results({R::Started, R::Counted, R::Started, R::Counted, R::Counted, R::Counted})
        << QList<qint64>{0, 1, 0, 1, 2, 6};
    QTest::newRow("the same period rounded otherwise")
        << k60 << every(3, k60) << 2 << 16666.0
        << results({R::Started, R::Counted, R::Counted, R::Counted}) << QList<qint64>{0, 1, 2, 3};
    QTest::newRow("a display with no rate: one refresh a second")
        << 1e6 << every(2, 1e6) << -1 << 0.0 << results({R::Unusable, R::Unusable, R::Unusable})
        << QList<qint64>{0, 0, 0};

    // A minute of a monitor at 59.94 Hz that the system says runs at 60, stamps
    // alternately 1 ms late.
    const double ntsc = 1e6 * 1001 / 60'000;
    QList<Micros> minute;
    QList<int> counted{int(R::Started)};
    QList<qint64> counts{0};
    for (int i = 1; i <= 3596; ++i) {
        minute.append(std::llround(ntsc) + (i % 2 ? 1000 : -1000));
        counted.append(int(R::Counted));
        counts.append(i);
    }
    QTest::newRow("59.94 Hz given as 60, a minute, stamps 1 ms off")
        << k60 << minute << -1 << 0.0 << counted << counts;
}

void TestRefreshSources::vblankCount()
{
    QFETCH(double, period);
    QFETCH(QList<Micros>, gaps);
    QFETCH(int, changeAt);
    QFETCH(double, newPeriod);
    QFETCH(QList<int>, results);
    QFETCH(QList<qint64>, counts);

    VblankCount count;
    QList<int> got;
    QList<qint64> gotCounts;
    Micros now = kBoot;
    for (int i = 0; i <= gaps.size(); ++i) {
        if (i > 0)
            now += gaps[i - 1];
        const double current = changeAt >= 0 && i >= changeAt ? newPeriod : period;
        got.append(int(count.add(now, current)));
        gotCounts.append(qint64(count.last().msc));
    }
    QCOMPARE(got, results);
    QCOMPARE(gotCounts, counts);
}

QTEST_GUILESS_MAIN(TestRefreshSources)
#include "test_refreshsources.moc"
