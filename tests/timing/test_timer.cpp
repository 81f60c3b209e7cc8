#include "countingstepper.h"
#include "errors/failure.h"
#include "timing/intervaltimer.h"
#include "timing/pacer.h"
#include "timing/tickgrid.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>

#ifdef Q_OS_LINUX
#include <QDir>
#include <QFile>

#include <sys/socket.h>
#include <unistd.h>
#endif

using timing::IntervalTimer;
using timing::Micros;
using timing::TickGrid;

Q_DECLARE_METATYPE(QList<qint64>)
Q_DECLARE_METATYPE(IntervalTimer::Source)

namespace {

#ifdef Q_OS_LINUX
// Whether this process has a thread of that name.
bool hasThread(const QString &name)
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name.toUtf8())
            return true;
    }
    return false;
}
#endif

} // namespace

class TestTimer final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void grid_data();
    void grid();
    void readingOfTheGrid_data();
    void readingOfTheGrid();
    void arming_data();
    void arming();
    void stepsOnItsOwnThread();
#ifdef Q_OS_LINUX
    void stepsOnThePacersClock();
#endif
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
    const Micros start = 5'000'000;
    TickGrid grid;
    grid.start(start, 100'000);
    for (qsizetype i = 0; i < checks.size(); i += 4) {
        const TickGrid::Due due = grid.check(start + checks[i] * 1000);
        QCOMPARE(qint64(due.tick), checks[i + 1]);
        QCOMPARE(due.skipped, checks[i + 2]);
        QCOMPARE(due.untilNext, checks[i + 3] * 1000);
    }
}

// A reading of the timer against a followed grid of 100 ms deadlines from 5 s,
// with 2 ms to spare: a deadline read on that grid, one off it (the timer
// started over), or one only guessed (read while due, or held up).
void TestTimer::readingOfTheGrid_data()
{
    QTest::addColumn<qint64>("nextDeadline");
    QTest::addColumn<qint64>("interval");
    QTest::addColumn<bool>("exact");
    QTest::addColumn<bool>("follows");
    QTest::newRow("a later deadline") << qint64(5'700'000) << qint64(100'000) << true << true;
    QTest::newRow("read a little late") << qint64(5'701'999) << qint64(100'000) << true << true;
    QTest::newRow("read a little early") << qint64(5'698'001) << qint64(100'000) << true << true;
    QTest::newRow("before the start") << qint64(4'999'000) << qint64(100'000) << true << true;
    QTest::newRow("started over") << qint64(5'703'500) << qint64(100'000) << true << false;
    QTest::newRow("guessed, late") << qint64(5'703'500) << qint64(100'000) << false << true;
    QTest::newRow("another interval") << qint64(5'700'000) << qint64(50'000) << true << false;
    QTest::newRow("another interval, guessed")
        << qint64(5'700'000) << qint64(50'000) << false << false;
    QTest::newRow("stopped") << qint64(0) << qint64(0) << false << false;
}

void TestTimer::readingOfTheGrid()
{
    QFETCH(qint64, nextDeadline);
    QFETCH(qint64, interval);
    QFETCH(bool, exact);
    QFETCH(bool, follows);
    const timing::Pacer::TimerGrid reading{nextDeadline, interval, exact};
    QCOMPARE(reading.follows(5'000'000, 100'000, 2000), follows);
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
    QSignalSpy ticks(&timer, &IntervalTimer::ticked);
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

void TestTimer::stepsOnItsOwnThread()
{
    std::atomic<int> steps = 0;
    std::atomic<int> gone = 0;
    // Qt's timer is read on this thread only: no stepper.
    IntervalTimer qtTimer(nullptr, IntervalTimer::Source::QtTimer);
    qtTimer.setInterval(5);
    qtTimer.setEnabled(true);
    QVERIFY(!qtTimer.setStepper(std::make_unique<CountingStepper>(steps, gone)));
    QCOMPARE(gone.load(), 1);

    IntervalTimer timer;
    QSignalSpy ticks(&timer, &IntervalTimer::ticked);
    QSignalSpy reports(&timer, &IntervalTimer::woken);
    timer.setInterval(5);
    timer.setEnabled(true);
#ifdef Q_OS_LINUX
    QVERIFY(timer.setStepper(std::make_unique<CountingStepper>(steps, gone)));
    QTRY_VERIFY(hasThread(QStringLiteral("strobe steps")));
    // Steps wake this thread only where it asked: once, at the count asked for.
    quint64 taken = 0;
    timer.wakeAfter(4);
    QTRY_COMPARE(reports.count(), 1);
    taken += timer.takeSteps();
    QVERIFY(taken >= 4);
    QTRY_VERIFY(steps >= int(taken) + 3);
    QCOMPARE(reports.count(), 1);
    QCOMPARE(ticks.count(), 0);
    // A count the thread already passed is reported at once.
    QTRY_VERIFY(steps >= int(taken) + 5);
    timer.wakeAfter(2);
    QTRY_COMPARE(reports.count(), 2);
    timer.wakeAfter(0);
    timer.setEnabled(false);
    // Every step made is taken once, also those of a thread that ended.
    QVERIFY(timer.setStepper(nullptr));
    QCOMPARE(gone.load(), 2);
    QVERIFY(!hasThread(QStringLiteral("strobe steps")));
    taken += timer.takeSteps();
    QCOMPARE(taken, quint64(steps.load()));
    QCOMPARE(timer.takeSteps(), quint64(0));
    QCOMPARE(reports.count(), 2);
    // Ticks are read here again, and step nothing.
    const int stepped = steps;
    ticks.clear();
    timer.setEnabled(true);
    QTRY_VERIFY(ticks.count() >= 2);
    QCOMPARE(steps.load(), stepped);
#else
    QVERIFY(!timer.setStepper(std::make_unique<CountingStepper>(steps, gone)));
    QCOMPARE(gone.load(), 2);
#endif
}

#ifdef Q_OS_LINUX

namespace {

// A pacer driven by the test: a socket stands for the connection that brings
// the clock's reports, and the test says whether the thread waits on the
// timer.
class FakePacer final : public timing::Pacer
{
public:
    FakePacer()
    {
        QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, m_sockets), 0);
    }
    ~FakePacer() override
    {
        ::close(m_reports);
        hangUp();
    }
    Q_DISABLE_COPY_MOVE(FakePacer)

    int descriptor() const noexcept override { return m_reports; }
    bool followsTimer() const noexcept override { return follow; }
    int timeout(Micros) const noexcept override
    {
        ++timeouts;
        return timeoutMs;
    }
    bool deadlinePassed(TimerGrid grid, Micros now) noexcept override
    {
        ++deadlines;
        interval = grid.interval;
        untilNext = grid.nextDeadline - now;
        return stepAtDeadlines;
    }
    bool paced(TimerGrid, Micros) noexcept override
    {
        ++pacings;
        char report = 0;
        return ::read(m_reports, &report, sizeof report) == sizeof report;
    }
    double refreshRate() const noexcept override { return 0; }
    quint64 lateSteps() const noexcept override { return 0; }
    void report() const
    {
        const char one = 1;
        QCOMPARE(::write(m_server, &one, sizeof one), ssize_t(sizeof one));
    }
    // The other end goes away, as a display server that ends the connection.
    void hangUp()
    {
        if (m_server >= 0)
            ::close(m_server);
        m_server = -1;
    }

    std::atomic<bool> follow{true};
    std::atomic<bool> stepAtDeadlines{true};
    std::atomic<int> deadlines{0};
    std::atomic<int> pacings{0};
    std::atomic<Micros> interval{0};
    std::atomic<Micros> untilNext{0};
    std::atomic<int> timeoutMs{10};
    mutable std::atomic<int> timeouts{0};

private:
    int m_sockets[2] = {-1, -1};
    int &m_reports = m_sockets[0];
    int &m_server = m_sockets[1];
};

} // namespace

// The pacer decides at each deadline whether to step; while it does not
// follow the timer, the thread waits for the pacer's reports alone, no longer
// than the pacer says, and steps when a report asks for it.
void TestTimer::stepsOnThePacersClock()
{
    std::atomic<int> steps = 0;
    std::atomic<int> gone = 0;
    auto owned = std::make_unique<FakePacer>();
    FakePacer &pacer = *owned;
    IntervalTimer timer;
    timer.setInterval(20);
    timer.setEnabled(true);
    QVERIFY(timer.setStepper(std::make_unique<CountingStepper>(steps, gone), std::move(owned)));
    QTRY_VERIFY(steps >= 2);
    QCOMPARE(pacer.interval.load(), 20000);
    QVERIFY(pacer.untilNext > 0 && pacer.untilNext <= 20000);
    pacer.stepAtDeadlines = false;
    const int atDeadlines = steps;
    QTRY_VERIFY(pacer.deadlines >= 2);
    QCOMPARE(steps.load(), atDeadlines);

    pacer.follow = false;
    // The wait in progress may still end at a deadline; none after it.
    const int pacings = pacer.pacings;
    QTRY_VERIFY(pacer.pacings >= pacings + 2);
    const int deadlines = pacer.deadlines;
    QTRY_VERIFY(pacer.pacings >= pacings + 10);
    QCOMPARE(pacer.deadlines.load(), deadlines);
    pacer.report();
    QTRY_COMPARE(steps.load(), atDeadlines + 1);

    pacer.follow = true;
    QTRY_VERIFY(pacer.deadlines >= deadlines + 2);

    // A connection that broke while the pacer waits for it, past its time
    // limit: the timer's deadlines go on, and the thread does not spin.
    pacer.timeoutMs = 0;
    pacer.follow = false;
    QTRY_VERIFY(pacer.pacings >= pacings + 12);
    pacer.hangUp();
    const int resumed = pacer.deadlines + 1;
    QTRY_VERIFY(pacer.deadlines >= resumed);
    const int waits = pacer.timeouts;
    QTRY_VERIFY(pacer.deadlines >= resumed + 2);
    QCOMPARE(pacer.timeouts.load(), waits);
    QVERIFY(timer.setStepper(nullptr));
}

#endif

QTEST_GUILESS_MAIN(TestTimer)
#include "test_timer.moc"
