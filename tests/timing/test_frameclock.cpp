#include "timing/frameclock.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>

using timing::FrameClock;
using timing::FrameGrid;
using timing::Refresh;
using timing::SteadyFrameClock;

class TestFrameClock final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void steps_data();
    void steps();
    void fit_data();
    void fit();
    void countGoingBackStartsOver();
    void due_data();
    void due();
    void askedRefreshStaysTheStepsOwn();
    void stepRightBetweenRefreshesKeepsItsSide_data();
    void stepRightBetweenRefreshesKeepsItsSide();
    void stepDriftingThroughTheMiddleMovesOnce_data();
    void stepDriftingThroughTheMiddleMovesOnce();
};

namespace {

// An hour after boot, where a microsecond is the 10th digit.
constexpr qint64 kBoot = 3'600'000'000;
constexpr quint64 kFirstMsc = 5000;
// The last report a clock of kCapacity reports from kFirstMsc on has.
constexpr quint64 kLastLockedMsc = kFirstMsc + FrameClock::kCapacity - 1;

qint64 ustAt(quint64 msc, double period)
{
    return kBoot + std::llround(static_cast<double>(msc) * period);
}

// A clock fed with the given number of reports of a display at rate Hz,
// one every stride refreshes.
FrameClock displayClock(double rate, int reports = FrameClock::kCapacity, int stride = 1)
{
    FrameClock clock;
    for (int i = 0; i < reports; ++i) {
        const quint64 msc = kFirstMsc + static_cast<quint64>(i * stride);
        clock.add({msc, ustAt(msc, 1e6 / rate)});
    }
    return clock;
}

// A display at period (us) whose reports are off by up to noise (us), as a
// made-up clock's are; its first reports lock a steady clock onto it.
struct NoisyDisplay
{
    NoisyDisplay(double periodUs, double noiseUs, quint32 seed)
        : period(periodUs)
        , noise(noiseUs)
        , random(seed)
    {}
    Refresh report(quint64 msc)
    {
        return Refresh{msc, ustAt(msc, period)
                                + std::llround((random.generateDouble() * 2 - 1) * noise)};
    }
    // Whether the steady clock locked; the grid then starts phase (a part
    // of a refresh) after the last report.
    bool lock(SteadyFrameClock &steady, FrameGrid &grid, qint64 step, double phase)
    {
        for (int i = 0; i < FrameClock::kCapacity; ++i)
            steady.add(report(kFirstMsc + static_cast<quint64>(i)), step);
        grid.start(ustAt(kLastLockedMsc, period) + std::llround(phase * period), step);
        return steady.clock().isLocked();
    }

    double period;
    double noise;
    QRandomGenerator random;
};

} // namespace

// The refreshes each step shows: rate (Hz), step (ms), where in a refresh the
// grid starts (a fraction of it), the first steps' counts and all refreshes of
// the first 1000 steps.
void TestFrameClock::steps_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("stepMs");
    QTest::addColumn<double>("phase");
    QTest::addColumn<QList<int>>("firstCounts");
    QTest::addColumn<int>("thousandSteps");

    const QList<int> sixes(8, 6);
    QTest::newRow("59.94 Hz, 100 ms") << 59.94 << 100 << 0.13 << sixes << 5994;
    QTest::newRow("59.94 Hz, 150 ms") << 59.94 << 150 << 0.71 << QList<int>(8, 9) << 8991;
    QTest::newRow("59.94 Hz, 200 ms") << 59.94 << 200 << 0.13 << QList<int>(8, 12) << 11988;
    QTest::newRow("60 Hz, 100 ms") << 60.0 << 100 << 0.13 << sixes << 6000;
    QTest::newRow("60 Hz, 100 ms, late phase") << 60.0 << 100 << 0.71 << sixes << 6000;
    QTest::newRow("60 Hz, 150 ms") << 60.0 << 150 << 0.71 << QList<int>(8, 9) << 9000;
    QTest::newRow("60 Hz, 200 ms") << 60.0 << 200 << 0.13 << QList<int>(8, 12) << 12000;
    QTest::newRow("75 Hz, 100 ms")
        << 75.0 << 100 << 0.13 << QList<int>{8, 7, 8, 7, 8, 7, 8, 7} << 7500;
    QTest::newRow("75 Hz, 100 ms, late phase")
        << 75.0 << 100 << 0.71 << QList<int>{7, 8, 7, 8, 7, 8, 7, 8} << 7500;
    QTest::newRow("75 Hz, 150 ms")
        << 75.0 << 150 << 0.13 << QList<int>{11, 12, 11, 11, 11, 12, 11, 11} << 11250;
    QTest::newRow("75 Hz, 200 ms") << 75.0 << 200 << 0.71 << QList<int>(8, 15) << 15000;
    QTest::newRow("120 Hz, 100 ms") << 120.0 << 100 << 0.13 << QList<int>(8, 12) << 12000;
    QTest::newRow("120 Hz, 150 ms") << 120.0 << 150 << 0.71 << QList<int>(8, 18) << 18000;
    QTest::newRow("120 Hz, 200 ms") << 120.0 << 200 << 0.13 << QList<int>(8, 24) << 24000;
    QTest::newRow("144 Hz, 100 ms")
        << 144.0 << 100 << 0.13 << QList<int>{15, 14, 14, 15, 14, 15, 14, 14} << 14400;
    QTest::newRow("144 Hz, 150 ms")
        << 144.0 << 150 << 0.71 << QList<int>{21, 22, 22, 21, 22, 21, 22, 22} << 21600;
    QTest::newRow("144 Hz, 200 ms")
        << 144.0 << 200 << 0.13 << QList<int>{29, 29, 29, 28, 29, 29, 29, 29} << 28800;
}

void TestFrameClock::steps()
{
    QFETCH(double, rate);
    QFETCH(int, stepMs);
    QFETCH(double, phase);
    QFETCH(QList<int>, firstCounts);
    QFETCH(int, thousandSteps);

    const double period = 1e6 / rate;
    const FrameClock clock = displayClock(rate);
    QVERIFY(clock.isLocked());
    const qint64 start = ustAt(kLastLockedMsc, period) + std::llround(phase * period);
    const qint64 step = stepMs * 1000;
    FrameGrid grid;
    grid.start(start, step);
    // The same steps as the step thread asks for them, one after another.
    FrameGrid asking;
    asking.start(start, step);

    const double ratio = static_cast<double>(step) / period;
    quint64 previous = grid.target(0, clock);
    quint64 previousAsked = previous;
    const quint64 first = previous;
    QList<int> counts;
    for (qint64 k = 1; k <= 1000; ++k) {
        const quint64 target = grid.target(k, clock);
        const int count = static_cast<int>(target - previous);
        previous = target;
        if (counts.size() < firstCounts.size())
            counts.append(count);
        // A whole number of refreshes, the ratio's floor or ceiling...
        QVERIFY2(count == std::floor(ratio) || count == std::ceil(ratio),
                 qPrintable(QStringLiteral("step %1 shows %2 refreshes").arg(k).arg(count)));
        // ...and never more than half a refresh away from the time grid.
        const double drift = clock.ustOf(target) - static_cast<double>(start + k * step);
        QVERIFY2(std::abs(drift) <= period / 2 + 1,
                 qPrintable(QStringLiteral("step %1 is %2 us off").arg(k).arg(drift)));

        // Asked for in turn, a step right between two refreshes keeps the
        // side of the last one there, at most an eighth of a refresh further.
        const quint64 asked = asking.ask(k, clock);
        const int askedCount = static_cast<int>(asked - previousAsked);
        previousAsked = asked;
        QVERIFY2(
            askedCount == std::floor(ratio) || askedCount == std::ceil(ratio),
            qPrintable(QStringLiteral("step %1 asked for %2 refreshes").arg(k).arg(askedCount)));
        const double askedDrift = clock.ustOf(asked) - static_cast<double>(start + k * step);
        QVERIFY2(std::abs(askedDrift) <= period * (0.5 + 1.0 / 8) + 1,
                 qPrintable(QStringLiteral("step %1 asked %2 us off").arg(k).arg(askedDrift)));
    }
    QCOMPARE(counts, firstCounts);
    QCOMPARE(static_cast<int>(previous - first), thousandSteps);
    QVERIFY(qAbs(static_cast<int>(previousAsked - first) - thousandSteps) <= 1);
}

// Reports of a display at rate Hz, one every stride refreshes, with random
// noise of up to noise us either way; the reports listed in strays are off by
// the time given with them. How many reports, whether they make a clock, and
// how many of them the fit leaves out.
void TestFrameClock::fit_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("reports");
    QTest::addColumn<int>("stride");
    QTest::addColumn<double>("noise");
    QTest::addColumn<QList<int>>("strays");
    QTest::addColumn<bool>("locked");
    QTest::addColumn<int>("outliers");

    const QList<int> none;
    QTest::newRow("exact") << 60.0 << 32 << 1 << 0.0 << none << true << 0;
    QTest::newRow("noise") << 59.94 << 32 << 1 << 40.0 << none << true << 0;
    QTest::newRow("one report a step") << 144.0 << 32 << 15 << 40.0 << none << true << 0;
    QTest::newRow("noise and strays")
        << 75.0 << 32 << 1 << 30.0 << QList<int>{3, 2000, 9, -3000, 17, 800, 18, 900, 30, -400}
        << true << 5;
    QTest::newRow("strays among few")
        << 120.0 << 10 << 1 << 0.0 << QList<int>{2, 5000} << true << 1;
    QTest::newRow("a made-up clock's noise, one report a step")
        << 75.0 << 32 << 8 << 900.0 << QList<int>{20, 4000, 26, -2500} << true << 2;
    QTest::newRow("a made-up clock's noise, too few reports to be sure")
        << 144.0 << 8 << 1 << 900.0 << none << false << -1;
    QTest::newRow("too few") << 60.0 << 7 << 1 << 0.0 << none << false << 0;
    QTest::newRow("a refresh a second, no display") << 1.0 << 32 << 1 << 0.0 << none << false << 0;
    QTest::newRow("faster than any display") << 1000.0 << 32 << 1 << 0.0 << none << false << 0;
    QTest::newRow("times at random") << 60.0 << 32 << 1 << 400000.0 << none << false << -1;
    QTest::newRow("as many strays as not")
        << 60.0 << 16 << 1 << 0.0
        << QList<int>{0, 3000, 2, -7000, 4, 5000, 6, 9000, 8, 3000, 10, -4000, 12, 6000, 14, 2500}
        << false << -1;
    QList<int> everyOther;
    for (int i = 1; i < 30; i += 2)
        everyOther << i << 500;
    QTest::newRow("a made-up 500 Hz clock on whole milliseconds: 17 and 15 on two lines")
        << 500.0 << 32 << 1 << 20.0 << everyOther << false << -1;
    QTest::newRow("more than one stray in four")
        << 60.0 << 16 << 1 << 0.0 << QList<int>{1, 3000, 5, -3000, 9, 4000, 13, 2000, 15, 2500}
        << false << -1;
}

void TestFrameClock::fit()
{
    QFETCH(double, rate);
    QFETCH(int, reports);
    QFETCH(int, stride);
    QFETCH(double, noise);
    QFETCH(QList<int>, strays);
    QFETCH(bool, locked);
    QFETCH(int, outliers);

    const double period = 1e6 / rate;
    QRandomGenerator random(19);
    FrameClock clock;
    for (int i = 0; i < reports; ++i) {
        const quint64 msc = kFirstMsc + static_cast<quint64>(i * stride);
        qint64 ust = ustAt(msc, period) + std::llround((random.generateDouble() * 2 - 1) * noise);
        for (qsizetype s = 0; s < strays.size(); s += 2) {
            if (strays.at(s) == i)
                ust += strays.at(s + 1);
        }
        clock.add({msc, ust});
    }
    QCOMPARE(clock.isLocked(), locked);
    if (outliers >= 0)
        QCOMPARE(clock.outliers(), outliers);
    if (!locked)
        return;
    // The fit is as good as the reports: at 40 us of noise, to about a
    // hundredth of a percent in the period and the noise itself in the phase.
    QVERIFY2(std::abs(clock.period() - period) <= 0.0002 * period + 1e-3,
             qPrintable(QString::number(clock.period(), 'f', 4)));
    const quint64 last = kFirstMsc + static_cast<quint64>((reports - 1) * stride);
    QVERIFY(std::abs(clock.ustOf(last) - static_cast<double>(ustAt(last, period))) <= noise + 1);
    QCOMPARE(clock.nearest(static_cast<double>(ustAt(last + 3, period)) + period * 0.4), last + 3);
}

void TestFrameClock::countGoingBackStartsOver()
{
    FrameClock clock = displayClock(60.0);
    QVERIFY(clock.isLocked());
    clock.add({kFirstMsc + 40, ustAt(kFirstMsc + 40, 1e6 / 60)});
    QCOMPARE(clock.reports(), FrameClock::kCapacity);
    clock.add({7, kBoot});
    QCOMPARE(clock.reports(), 1);
    QVERIFY(!clock.isLocked());
}

// Reports on a 60 Hz display to a 100 ms grid that starts just after refresh
// 5031, so step k is due at refresh 5031 + 6k. Each report: its refresh, how
// long after it began the caller could act (us), then whether a step is shown,
// which, how many are skipped, how many refreshes late, and whether late.
void TestFrameClock::due_data()
{
    QTest::addColumn<QList<qint64>>("reports");
    QTest::newRow("on time") << QList<qint64>{5037, 200, 1, 1, 0, 0, 0, 5043, 300, 1, 2, 0, 0, 0};
    QTest::newRow("a report before the step's refresh shows nothing")
        << QList<qint64>{5036, 200, 0, 0, 0, 0, 0, 5037, 200, 1, 1, 0, 0, 0};
    QTest::newRow("woken after the next refresh began keeps the grid")
        << QList<qint64>{5037, 17000, 1, 1, 0, 0, 1, 5043, 100, 1, 2, 0, 0, 0};
    QTest::newRow("a report for a later refresh keeps the grid")
        << QList<qint64>{5039, 100, 1, 1, 0, 2, 1, 5043, 100, 1, 2, 0, 0, 0};
    QTest::newRow("steps whose refreshes passed are skipped, not replayed") << QList<qint64>{
        5037, 100, 1, 1, 0, 0, 0, 5056, 100, 1, 4, 2, 1, 1, 5061, 100, 1, 5, 0, 0, 0};
    QTest::newRow("a second report of the same refresh shows nothing more")
        << QList<qint64>{5037, 100, 1, 1, 0, 0, 0, 5037, 200, 0, 0, 0, 0, 0};
}

void TestFrameClock::due()
{
    QFETCH(QList<qint64>, reports);
    const double period = 1e6 / 60;
    const FrameClock clock = displayClock(60.0);
    FrameGrid grid;
    grid.start(ustAt(kLastLockedMsc, period) + std::llround(0.13 * period), 100'000);
    QCOMPARE(grid.ask(1, clock), kLastLockedMsc + 6);
    for (qsizetype i = 0; i < reports.size(); i += 7) {
        const auto msc = static_cast<quint64>(reports.at(i));
        const Refresh reported{msc, ustAt(msc, period)};
        const FrameGrid::Due due = grid.check(reported, reported.ust + reports.at(i + 1), clock);
        const QString where = QStringLiteral("report of %1").arg(msc);
        QVERIFY2(due.step == (reports.at(i + 2) != 0), qPrintable(where));
        if (!due.step)
            continue;
        QCOMPARE(due.index, reports.at(i + 3));
        QCOMPARE(due.skipped, reports.at(i + 4));
        QCOMPARE(due.lateBy, reports.at(i + 5));
        QCOMPARE(due.late, reports.at(i + 6) != 0);
    }
}

// The fit moves between asking for a step's refresh and its report, so far
// that the step would now round to the refresh after: the report of the refresh
// asked for still shows the step, on time.
void TestFrameClock::askedRefreshStaysTheStepsOwn()
{
    const double period = 1e6 / 60;
    const FrameClock before = displayClock(60.0);
    FrameClock after;
    for (int i = 0; i < FrameClock::kCapacity; ++i) {
        const quint64 msc = kFirstMsc + static_cast<quint64>(i);
        after.add({msc, ustAt(msc, period) - std::llround(0.1 * period)});
    }
    FrameGrid grid;
    grid.start(ustAt(kLastLockedMsc, period) + std::llround(0.45 * period), 100'000);
    QCOMPARE(grid.ask(1, before), kLastLockedMsc + 6);
    QCOMPARE(grid.target(1, after), kLastLockedMsc + 7);
    const Refresh reported{kLastLockedMsc + 6,
                           static_cast<qint64>(after.ustOf(kLastLockedMsc + 6))};
    const FrameGrid::Due due = grid.check(reported, reported.ust + 100, after);
    QVERIFY(due.step);
    QCOMPARE(due.index, 1);
    QCOMPARE(due.lateBy, 0);
    QVERIFY(!due.late);
}

// Steps whose times fall right between two refreshes (all of them, or every
// other, or one in five), on a clock with noisy reports, one a step as the step
// thread gets them: in every run of as many steps as the pattern has, the
// refreshes add up to the pattern's, so none goes to one side and a later one
// to the other. Rate (Hz), step (ms), the pattern's length in steps.
void TestFrameClock::stepRightBetweenRefreshesKeepsItsSide_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("stepMs");
    QTest::addColumn<int>("pattern");
    QTest::newRow("120 Hz, 150 ms: 18") << 120.0 << 150 << 1;
    QTest::newRow("75 Hz, 100 ms: 8, 7") << 75.0 << 100 << 2;
    QTest::newRow("144 Hz, 200 ms: 29, 29, 28, 29, 29") << 144.0 << 200 << 5;
}

void TestFrameClock::stepRightBetweenRefreshesKeepsItsSide()
{
    QFETCH(double, rate);
    QFETCH(int, stepMs);
    QFETCH(int, pattern);
    const double period = 1e6 / rate;
    const qint64 step = stepMs * 1000;
    NoisyDisplay display(period, 400, 18);
    SteadyFrameClock steady;
    FrameGrid grid;
    QVERIFY(display.lock(steady, grid, step, 0.5));
    const auto whole = std::llround(static_cast<double>(step) * pattern / period);
    QList<quint64> targets{grid.target(0, steady.clock())};
    for (qint64 k = 1; k <= 1000; ++k) {
        targets.append(grid.ask(k, steady.clock()));
        steady.add(display.report(targets.last()), step);
        // Step 0 was not asked for: from the first run of steps asked for.
        if (k <= pattern)
            continue;
        const auto refreshes = static_cast<qint64>(targets.last() - targets.at(k - pattern));
        QVERIFY2(refreshes == whole, qPrintable(QStringLiteral("steps %1 to %2: %3 refreshes")
                                                    .arg(k - pattern + 1)
                                                    .arg(k)
                                                    .arg(refreshes)));
    }
}

// A made-up clock of whole microseconds against steps that are whole numbers
// of refreshes at the nominal rate: the steps' times move slowly through the
// middle between two refreshes and out on the other side, on reports as noisy
// as Xvfb's (stamped by timers of whole milliseconds). The steps move to the
// other refresh once, and do not go back and forth where they leave the middle.
// Period (us), step (ms), where the grid starts in a refresh, steps.
void TestFrameClock::stepDriftingThroughTheMiddleMovesOnce_data()
{
    QTest::addColumn<double>("period");
    QTest::addColumn<int>("stepMs");
    QTest::addColumn<double>("phase");
    QTest::addColumn<int>("steps");
    // 12.00048 refreshes a step: 8 us later each step.
    QTest::newRow("60 Hz as 16666 us, 200 ms") << 16666.0 << 200 << 0.2 << 1500;
    // 12.00048 as well, at twice the rate.
    QTest::newRow("120 Hz as 8333 us, 100 ms") << 8333.0 << 100 << 0.2 << 1500;
}

void TestFrameClock::stepDriftingThroughTheMiddleMovesOnce()
{
    QFETCH(double, period);
    QFETCH(int, stepMs);
    QFETCH(double, phase);
    QFETCH(int, steps);
    const qint64 step = stepMs * 1000;
    NoisyDisplay display(period, 1000, 17);
    SteadyFrameClock steady;
    FrameGrid grid;
    QVERIFY(display.lock(steady, grid, step, phase));
    const auto whole = std::llround(static_cast<double>(step) / 1e6 * (1e6 / period));
    quint64 previous = grid.target(0, steady.clock());
    int longer = 0;
    for (qint64 k = 1; k <= steps; ++k) {
        const quint64 target = grid.ask(k, steady.clock());
        steady.add(display.report(target), step);
        const auto refreshes = static_cast<qint64>(target - previous);
        previous = target;
        QVERIFY2(refreshes == whole || refreshes == whole + 1,
                 qPrintable(QStringLiteral("step %1: %2 refreshes").arg(k).arg(refreshes)));
        longer += refreshes == whole + 1 ? 1 : 0;
    }
    QCOMPARE(longer, 1);
}

QTEST_APPLESS_MAIN(TestFrameClock)
#include "test_frameclock.moc"
