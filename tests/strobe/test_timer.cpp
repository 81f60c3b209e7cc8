#include "failure.h"
#include "intervaltimer.h"
#include "tickgrid.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

using namespace std::chrono_literals;
using strobe::IntervalTimer;
using strobe::TickGrid;

Q_DECLARE_METATYPE(QList<qint64>)
Q_DECLARE_METATYPE(IntervalTimer::Source)

class TestTimer final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void grid_data();
    void grid();
    void arming_data();
    void intervalZeroNeverArms_data() { arming_data(); }
    void intervalZeroNeverArms();
    void disabledNeverArms_data() { arming_data(); }
    void disabledNeverArms();
    void ticksWhenEnabled_data() { arming_data(); }
    void ticksWhenEnabled();
    void disablingStops_data() { arming_data(); }
    void disablingStops();
    void aBusyLoopDropsMissedDeadlines_data() { arming_data(); }
    void aBusyLoopDropsMissedDeadlines();
    void negativeIntervalFails();
};

// Timeouts arrive at the given moments (ms from the start) on a 100 ms grid.
void TestTimer::grid_data()
{
    QTest::addColumn<QList<qint64>>("arrivals");
    QTest::addColumn<QList<qint64>>("ticks"); // 1 tick, 0 none
    QTest::addColumn<QList<qint64>>("skipped");
    QTest::addColumn<QList<qint64>>("untilNext"); // ms

    QTest::newRow("on time") << QList<qint64>{100, 200, 300} << QList<qint64>{1, 1, 1}
                             << QList<qint64>{0, 0, 0} << QList<qint64>{100, 100, 100};
    QTest::newRow("late tick keeps the grid")
        << QList<qint64>{100, 260, 300} << QList<qint64>{1, 1, 1} << QList<qint64>{0, 0, 0}
        << QList<qint64>{100, 40, 100};
    QTest::newRow("early wake-up gives no tick") << QList<qint64>{99, 100} << QList<qint64>{0, 1}
                                                 << QList<qint64>{0, 0} << QList<qint64>{1, 100};
    QTest::newRow("missed deadlines are skipped, not replayed")
        << QList<qint64>{100, 450, 500} << QList<qint64>{1, 1, 1} << QList<qint64>{0, 2, 0}
        << QList<qint64>{100, 50, 100};
    QTest::newRow("two checks within one interval")
        << QList<qint64>{150, 160} << QList<qint64>{1, 0} << QList<qint64>{0, 0}
        << QList<qint64>{50, 40};
}

void TestTimer::grid()
{
    QFETCH(QList<qint64>, arrivals);
    QFETCH(QList<qint64>, ticks);
    QFETCH(QList<qint64>, skipped);
    QFETCH(QList<qint64>, untilNext);

    const TickGrid::Duration start = 5s;
    TickGrid grid;
    grid.start(start, 100ms);
    for (qsizetype i = 0; i < arrivals.size(); ++i) {
        const TickGrid::Due due = grid.check(start + std::chrono::milliseconds(arrivals[i]));
        QCOMPARE(qint64(due.tick), ticks[i]);
        QCOMPARE(due.skipped, skipped[i]);
        QCOMPARE(std::chrono::duration_cast<std::chrono::milliseconds>(due.untilNext).count(),
                 untilNext[i]);
    }
}

// Every arming rule holds for both sources of ticks.
void TestTimer::arming_data()
{
    QTest::addColumn<IntervalTimer::Source>("source");
    QTest::newRow("best") << IntervalTimer::Source::Best;
    QTest::newRow("Qt timer") << IntervalTimer::Source::QtTimer;
}

void TestTimer::intervalZeroNeverArms()
{
    QFETCH(IntervalTimer::Source, source);
    IntervalTimer timer(nullptr, source);
    QSignalSpy ticks(&timer, &IntervalTimer::Timer);
    timer.setEnabled(true);
    QVERIFY(timer.isEnabled());
    QCOMPARE(timer.interval(), 0);
    QVERIFY(!timer.isArmed());
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(ticks.count(), 0);
}

void TestTimer::disabledNeverArms()
{
    QFETCH(IntervalTimer::Source, source);
    IntervalTimer timer(nullptr, source);
    timer.setInterval(5);
    QVERIFY(!timer.isArmed());
}

void TestTimer::ticksWhenEnabled()
{
    QFETCH(IntervalTimer::Source, source);
    IntervalTimer timer(nullptr, source);
    QSignalSpy ticks(&timer, &IntervalTimer::Timer);
    timer.setInterval(5);
    timer.setEnabled(true);
    QVERIFY(timer.isArmed());
    QTRY_VERIFY(ticks.count() >= 3);
}

void TestTimer::disablingStops()
{
    QFETCH(IntervalTimer::Source, source);
    IntervalTimer timer(nullptr, source);
    timer.setInterval(5);
    timer.setEnabled(true);
    timer.setEnabled(false);
    QVERIFY(!timer.isArmed());
    timer.setEnabled(true);
    timer.setInterval(0);
    QVERIFY(!timer.isArmed());
}

void TestTimer::aBusyLoopDropsMissedDeadlines()
{
    QFETCH(IntervalTimer::Source, source);
    IntervalTimer timer(nullptr, source);
    QSignalSpy ticks(&timer, &IntervalTimer::Timer);
    timer.setInterval(20);
    timer.setEnabled(true);
    // About ten deadlines pass while the event loop is held up.
    QThread::msleep(210);
    QCoreApplication::processEvents();
    QCOMPARE(ticks.count(), 1);
    QTRY_VERIFY(ticks.count() >= 2);
}

void TestTimer::negativeIntervalFails()
{
    IntervalTimer timer;
    QVERIFY_THROWS_EXCEPTION(errors::Failure, timer.setInterval(-1));
    QCOMPARE(timer.interval(), 0);
}

QTEST_GUILESS_MAIN(TestTimer)
#include "test_timer.moc"
