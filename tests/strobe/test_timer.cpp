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
    void arming();
};

// Each check on a 100 ms grid: when it comes (ms from the start), whether it
// ticks, how many deadlines it skips and how long until the next one (ms).
void TestTimer::grid_data()
{
    QTest::addColumn<QList<qint64>>("checks");
    QTest::newRow("late tick keeps the grid") << QList<qint64>{100, 1, 0, 100, 260, 1, 0, 40};
    QTest::newRow("early wake-up gives no tick") << QList<qint64>{99, 0, 0, 1, 100, 1, 0, 100};
    QTest::newRow("missed deadlines are skipped, not replayed")
        << QList<qint64>{100, 1, 0, 100, 450, 1, 2, 50, 500, 1, 0, 100};
    QTest::newRow("two checks within one interval") << QList<qint64>{150, 1, 0, 50, 160, 0, 0, 40};
}

void TestTimer::grid()
{
    QFETCH(QList<qint64>, checks);
    const TickGrid::Duration start = 5s;
    TickGrid grid;
    grid.start(start, 100ms);
    for (qsizetype i = 0; i < checks.size(); i += 4) {
        const TickGrid::Due due = grid.check(start + std::chrono::milliseconds(checks[i]));
        QCOMPARE(qint64(due.tick), checks[i + 1]);
        QCOMPARE(due.skipped, checks[i + 2]);
        QCOMPARE(std::chrono::duration_cast<std::chrono::milliseconds>(due.untilNext).count(),
                 checks[i + 3]);
    }
}

// Every arming rule holds for both sources of ticks.
void TestTimer::arming_data()
{
    QTest::addColumn<IntervalTimer::Source>("source");
    QTest::newRow("best") << IntervalTimer::Source::Best;
    QTest::newRow("Qt timer") << IntervalTimer::Source::QtTimer;
}

void TestTimer::arming()
{
    QFETCH(IntervalTimer::Source, source);
    IntervalTimer timer(nullptr, source);
    // Linux and Windows both have a timer of their own.
    QCOMPARE(timer.usesKernelTimer(), source == IntervalTimer::Source::Best);
    QSignalSpy ticks(&timer, &IntervalTimer::Timer);
    QVERIFY_THROWS_EXCEPTION(errors::Failure, timer.setInterval(-1));
    QCOMPARE(timer.interval(), 0);
    timer.setEnabled(true);
    QVERIFY(!timer.isArmed());
    QCoreApplication::processEvents();
    QCOMPARE(ticks.count(), 0);

    timer.setEnabled(false);
    timer.setInterval(5);
    QVERIFY(!timer.isArmed());
    timer.setEnabled(true);
    QVERIFY(timer.isArmed());
    QTRY_VERIFY(ticks.count() >= 3);
    // About ten deadlines pass while the event loop is held up: one tick.
    timer.setInterval(20);
    ticks.clear();
    QThread::msleep(210);
    QCoreApplication::processEvents();
    QCOMPARE(ticks.count(), 1);
    QTRY_VERIFY(ticks.count() >= 2);
    timer.setEnabled(false);
    QVERIFY(!timer.isArmed());
    timer.setEnabled(true);
    timer.setInterval(0);
    QVERIFY(!timer.isArmed());
}

QTEST_GUILESS_MAIN(TestTimer)
#include "test_timer.moc"
