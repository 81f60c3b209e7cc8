#include "errors/failure.h"
#include "strobe/intervaltimer.h"
#include "strobe/stepper.h"
#include "strobe/tickgrid.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>

#ifdef Q_OS_LINUX
#include "strobe/realtime.h"
#include "strobe/stepthread.h"

#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>
#include <thread>
#endif

using namespace std::chrono_literals;
using strobe::IntervalTimer;
using strobe::TickGrid;

Q_DECLARE_METATYPE(QList<qint64>)
Q_DECLARE_METATYPE(IntervalTimer::Source)

namespace {

// Counts its steps and, when it goes, that it went.
class CountingStepper final : public strobe::Stepper
{
public:
    CountingStepper(std::atomic<int> &steps, std::atomic<int> &gone)
        : m_steps(steps)
        , m_gone(gone)
    {}
    ~CountingStepper() override { ++m_gone; }
    Q_DISABLE_COPY_MOVE(CountingStepper)
    void step() noexcept override { ++m_steps; }

private:
    std::atomic<int> &m_steps;
    std::atomic<int> &m_gone;
};

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
    void stepsOnTheSteppersOwnClock();
    void priorityFallback_data();
    void priorityFallback();
    void priorityNeverHoldsSteps_data();
    void priorityNeverHoldsSteps();
    void stuckRealtimeThreadGoesBackToNormal();
    void realtimeRunLimit_data();
    void realtimeRunLimit();
    void cleanupTestCase();

private:
    // A private bus daemon's address, empty without one.
    QString privateBus();

    QProcess m_bus;
    QString m_busAddress;
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
    const strobe::Stepper::TimerGrid reading{nextDeadline, interval, exact};
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
    QSignalSpy reports(&timer, &IntervalTimer::stepsWaiting);
    timer.setInterval(5);
    timer.setEnabled(true);
#ifdef Q_OS_LINUX
    QVERIFY(timer.setStepper(std::make_unique<CountingStepper>(steps, gone)));
    QTRY_VERIFY(hasThread(QStringLiteral("strobe steps")));
    // Steps wake this thread only where it asked: once, at the count asked for.
    quint64 taken = 0;
    timer.reportAfter(4);
    QTRY_COMPARE(reports.count(), 1);
    taken += timer.takeSteps();
    QVERIFY(taken >= 4);
    QTRY_VERIFY(steps >= int(taken) + 3);
    QCOMPARE(reports.count(), 1);
    QCOMPARE(ticks.count(), 0);
    // A count the thread already passed is reported at once.
    QTRY_VERIFY(steps >= int(taken) + 5);
    timer.reportAfter(2);
    QTRY_COMPARE(reports.count(), 2);
    timer.reportAfter(0);
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

// A stepper with a clock of its own, driven by the test: a socket stands for
// the connection that brings the clock's reports, and the test says whether
// the thread waits on the timer.
class PacingStepper final : public strobe::Stepper
{
public:
    PacingStepper()
    {
        QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, m_sockets), 0);
    }
    ~PacingStepper() override
    {
        ::close(m_reports);
        hangUp();
    }
    Q_DISABLE_COPY_MOVE(PacingStepper)

    void step() noexcept override { ++steps; }
    int pacingFd() const noexcept override { return m_reports; }
    bool followsTimer() const noexcept override { return follow; }
    int pacingTimeout(qint64) const noexcept override
    {
        ++timeouts;
        return timeout;
    }
    bool deadlinePassed(TimerGrid grid, qint64 now) noexcept override
    {
        ++deadlines;
        interval = grid.interval;
        untilNext = grid.nextDeadline - now;
        return stepAtDeadlines;
    }
    bool paced(TimerGrid, qint64) noexcept override
    {
        ++pacings;
        char report = 0;
        return ::read(m_reports, &report, sizeof report) == sizeof report;
    }
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
    std::atomic<int> steps{0};
    std::atomic<int> deadlines{0};
    std::atomic<int> pacings{0};
    std::atomic<qint64> interval{0};
    std::atomic<qint64> untilNext{0};
    std::atomic<int> timeout{10};
    mutable std::atomic<int> timeouts{0};

private:
    int m_sockets[2] = {-1, -1};
    int &m_reports = m_sockets[0];
    int &m_server = m_sockets[1];
};

} // namespace

// The stepper decides at each deadline whether to step; while it does not
// follow the timer, the thread waits for the stepper's reports alone, no
// longer than the stepper says, and steps when a report asks for it.
void TestTimer::stepsOnTheSteppersOwnClock()
{
    auto owned = std::make_unique<PacingStepper>();
    PacingStepper &stepper = *owned;
    IntervalTimer timer;
    timer.setInterval(20);
    timer.setEnabled(true);
    QVERIFY(timer.setStepper(std::move(owned)));
    QTRY_VERIFY(stepper.steps >= 2);
    QCOMPARE(stepper.interval.load(), 20000);
    QVERIFY(stepper.untilNext > 0 && stepper.untilNext <= 20000);
    stepper.stepAtDeadlines = false;
    const int atDeadlines = stepper.steps;
    QTRY_VERIFY(stepper.deadlines >= 2);
    QCOMPARE(stepper.steps.load(), atDeadlines);

    stepper.follow = false;
    // The wait in progress may still end at a deadline; none after it.
    const int pacings = stepper.pacings;
    QTRY_VERIFY(stepper.pacings >= pacings + 2);
    const int deadlines = stepper.deadlines;
    QTRY_VERIFY(stepper.pacings >= pacings + 10);
    QCOMPARE(stepper.deadlines.load(), deadlines);
    stepper.report();
    QTRY_COMPARE(stepper.steps.load(), atDeadlines + 1);

    stepper.follow = true;
    QTRY_VERIFY(stepper.deadlines >= deadlines + 2);

    // A connection that broke while the stepper waits for it, past its time
    // limit: the timer's deadlines go on, and the thread does not spin.
    stepper.timeout = 0;
    stepper.follow = false;
    QTRY_VERIFY(stepper.pacings >= pacings + 12);
    stepper.hangUp();
    const int resumed = stepper.deadlines + 1;
    QTRY_VERIFY(stepper.deadlines >= resumed);
    const int waits = stepper.timeouts;
    QTRY_VERIFY(stepper.deadlines >= resumed + 2);
    QCOMPARE(stepper.timeouts.load(), waits);
    QVERIFY(timer.setStepper(nullptr));
}

namespace {

// Refuses real-time scheduling as an unprivileged process would, and records
// what was asked of it, from whichever thread, instead of asking the system.
class FakeScheduling final : public strobe::ThreadScheduling
{
public:
    bool limitRealtimeRun(std::chrono::microseconds soft, std::chrono::microseconds hard) override
    {
        record(QStringLiteral("limit %1 %2").arg(soft.count()).arg(hard.count()));
        return true;
    }
    bool setRoundRobin(int priority) override
    {
        record(QStringLiteral("rr %1").arg(priority));
        return !refuseRealtime;
    }
    void setNormal() override { record(QStringLiteral("normal")); }
    void setThreadNormal(quint64 thread) override
    {
        record(QStringLiteral("normal %1").arg(thread));
    }
    quint64 threadId() const override { return 4242; }

    QStringList calls() const
    {
        const std::lock_guard lock(m_mutex);
        return m_calls;
    }

    bool refuseRealtime = false;

private:
    void record(const QString &call)
    {
        const std::lock_guard lock(m_mutex);
        m_calls << call;
    }

    mutable std::mutex m_mutex;
    QStringList m_calls;
};

// A timer descriptor that expires every 5 ms.
int fastTimer()
{
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    const itimerspec every5ms{{0, 5000000}, {0, 5000000}};
    if (fd >= 0)
        timerfd_settime(fd, 0, &every5ms, nullptr);
    return fd;
}

// A RealtimeKit on a private bus, with its limits and its refusals.
class FakeRealtimeKit final
    : public QObject
    , protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.RealtimeKit1")
    Q_PROPERTY(int MaxRealtimePriority MEMBER maxRealtimePriority)
    Q_PROPERTY(int MinNiceLevel MEMBER minNiceLevel)
    Q_PROPERTY(qlonglong RTTimeUSecMax MEMBER rtTimeUSecMax)

public:
    int maxRealtimePriority = 20;
    int minNiceLevel = -15;
    qlonglong rtTimeUSecMax = 200000;
    bool refuseRealtime = false;
    bool refuseHigh = false;
    // Calls are held unanswered until answerHeld().
    bool hold = false;
    QStringList calls;

    void answerHeld()
    {
        for (const auto &[bus, call] : std::as_const(m_held))
            bus.send(call.createReply());
        m_held.clear();
    }

public Q_SLOTS:
    void MakeThreadRealtime(qulonglong thread, uint priority)
    {
        calls << QStringLiteral("realtime %1 %2").arg(thread).arg(priority);
        answer(refuseRealtime);
    }
    void MakeThreadHighPriority(qulonglong thread, int priority)
    {
        calls << QStringLiteral("high %1 %2").arg(thread).arg(priority);
        answer(refuseHigh);
    }

private:
    void answer(bool refuse)
    {
        if (hold) {
            setDelayedReply(true);
            m_held.append({connection(), message()});
        } else if (refuse) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("refused"));
        }
    }

    QList<std::pair<QDBusConnection, QDBusMessage>> m_held;
};

bool offer(QDBusConnection &bus, FakeRealtimeKit &fake)
{
    return bus.registerObject(QStringLiteral("/org/freedesktop/RealtimeKit1"), &fake,
                              QDBusConnection::ExportAllSlots
                                  | QDBusConnection::ExportAllProperties)
           && bus.registerService(QStringLiteral("org.freedesktop.RealtimeKit1"));
}

void withdraw(QDBusConnection &bus)
{
    bus.unregisterService(QStringLiteral("org.freedesktop.RealtimeKit1"));
    bus.unregisterObject(QStringLiteral("/org/freedesktop/RealtimeKit1"));
}

// A step thread on a 5 ms timer under fake scheduling, as the priority cases
// run it.
struct PriorityRun final
{
    explicit PriorityRun(bool refuseRealtime) { scheduling->refuseRealtime = refuseRealtime; }
    ~PriorityRun()
    {
        stepping.reset();
        if (timer >= 0)
            ::close(timer);
    }
    Q_DISABLE_COPY_MOVE(PriorityRun)

    // Requests are one at a time in the process: an earlier case's ends first.
    bool start(const QString &address)
    {
        QDeadlineTimer patience(10000);
        while (strobe::RaisedPriority::requestPending() && !patience.hasExpired())
            QTest::qWait(10);
        if (timer < 0 || strobe::RaisedPriority::requestPending())
            return false;
        stepping = strobe::StepThread::start(timer, std::make_unique<CountingStepper>(steps, gone),
                                             scheduling, address.toStdString());
        return stepping != nullptr;
    }

    const std::shared_ptr<FakeScheduling> scheduling = std::make_shared<FakeScheduling>();
    const int timer = fastTimer();
    std::atomic<int> steps = 0;
    std::atomic<int> gone = 0;
    std::unique_ptr<strobe::StepThread> stepping;
};

} // namespace

// What the scheduling and RealtimeKit grant (a limit of 0: no RealtimeKit),
// and what the step thread gets and asks for.
void TestTimer::priorityFallback_data()
{
    QTest::addColumn<bool>("refuseDirect");
    QTest::addColumn<int>("maxPriority");
    QTest::addColumn<int>("minNice");
    QTest::addColumn<qlonglong>("rtTimeMax");
    QTest::addColumn<bool>("refuseRealtime");
    QTest::addColumn<bool>("refuseHigh");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QStringList>("scheduling");
    QTest::addColumn<QStringList>("kit");

    const int normal = int(strobe::ThreadPriority::Normal);
    const int high = int(strobe::ThreadPriority::High);
    const int realtime = int(strobe::ThreadPriority::RealTime);
    const QString limit = QStringLiteral("limit 100000 200000");
    const QString rr = QStringLiteral("rr 10");
    QTest::newRow("directly") << false << 20 << -15 << 200000LL << false << false << realtime
                              << QStringList{limit, rr} << QStringList{};
    QTest::newRow("from RealtimeKit")
        << true << 20 << -15 << 200000LL << false << false << realtime
        << QStringList{limit, rr, limit} << QStringList{QStringLiteral("realtime 4242 10")};
    QTest::newRow("within RealtimeKit's limits")
        << true << 5 << -15 << 150000LL << false << false << realtime
        << QStringList{limit, rr, QStringLiteral("limit 75000 150000")}
        << QStringList{QStringLiteral("realtime 4242 5")};
    QTest::newRow("RealtimeKit's run limit too short to share")
        << true << 20 << -15 << 1LL << false << false << high << QStringList{limit, rr}
        << QStringList{QStringLiteral("high 4242 -10")};
    QTest::newRow("RealtimeKit refuses real-time")
        << true << 20 << -15 << 200000LL << true << false << high << QStringList{limit, rr, limit}
        << QStringList{QStringLiteral("realtime 4242 10"), QStringLiteral("high 4242 -10")};
    QTest::newRow("nice within RealtimeKit's limit")
        << true << 0 << -5 << 200000LL << false << false << high << QStringList{limit, rr}
        << QStringList{QStringLiteral("high 4242 -5")};
    QTest::newRow("RealtimeKit refuses both")
        << true << 20 << -15 << 200000LL << true << true << normal << QStringList{limit, rr, limit}
        << QStringList{QStringLiteral("realtime 4242 10"), QStringLiteral("high 4242 -10")};
    QTest::newRow("no RealtimeKit") << true << 0 << 0 << 0LL << false << false << normal
                                    << QStringList{limit, rr} << QStringList{};
}

QString TestTimer::privateBus()
{
    if (m_bus.state() == QProcess::NotRunning) {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            return {};
        m_bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                             QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
        if (!m_bus.waitForStarted())
            return {};
        while (!m_bus.canReadLine()) {
            if (!m_bus.waitForReadyRead(10000))
                return {};
        }
        m_busAddress = QString::fromUtf8(m_bus.readLine().trimmed());
    }
    return m_busAddress;
}

void TestTimer::priorityFallback()
{
    QFETCH(bool, refuseDirect);
    QFETCH(int, maxPriority);
    QFETCH(int, minNice);
    QFETCH(qlonglong, rtTimeMax);
    QFETCH(bool, refuseRealtime);
    QFETCH(bool, refuseHigh);
    QFETCH(int, expected);
    QFETCH(QStringList, scheduling);
    QFETCH(QStringList, kit);

    const QString address = privateBus();
    if (address.isEmpty())
        QSKIP("dbus-daemon is missing");
    QDBusConnection serviceBus = QDBusConnection::connectToBus(address, QStringLiteral("service"));
    QVERIFY(serviceBus.isConnected());

    FakeRealtimeKit fake;
    fake.maxRealtimePriority = maxPriority;
    fake.minNiceLevel = minNice;
    fake.rtTimeUSecMax = rtTimeMax;
    fake.refuseRealtime = refuseRealtime;
    fake.refuseHigh = refuseHigh;
    if (rtTimeMax > 0)
        QVERIFY(offer(serviceBus, fake));

    PriorityRun run(refuseDirect);
    QVERIFY(run.start(address));
    // The request is answered by the fake, on this thread's event loop.
    QTRY_VERIFY(run.stepping->priority() && !strobe::RaisedPriority::requestPending());
    const int got = int(*run.stepping->priority());
    QTRY_VERIFY(run.steps > 0);
    run.stepping.reset();

    withdraw(serviceBus);
    QCOMPARE(got, expected);
    QCOMPARE(run.scheduling->calls(), scheduling + QStringList{QStringLiteral("normal")});
    QCOMPARE(fake.calls, kit);
}

// A bus or a RealtimeKit that does not answer (in time): the thread steps at
// once, and ends at once, while the request waits on its own. A grant that
// comes after the thread ended is taken back.
void TestTimer::priorityNeverHoldsSteps_data()
{
    QTest::addColumn<bool>("silentBus");
    QTest::addColumn<bool>("grantLate");
    QTest::addColumn<QStringList>("kit");
    QTest::addColumn<bool>("takenBack");

    const QString realtime = QStringLiteral("realtime 4242 10");
    QTest::newRow("bus that never answers") << true << false << QStringList{} << false;
    QTest::newRow("RealtimeKit that never answers")
        << false << false << QStringList{realtime, QStringLiteral("high 4242 -10")} << false;
    QTest::newRow("grant after the thread ended")
        << false << true << QStringList{realtime} << true;
}

void TestTimer::priorityNeverHoldsSteps()
{
    QFETCH(bool, silentBus);
    QFETCH(bool, grantLate);
    QFETCH(QStringList, kit);
    QFETCH(bool, takenBack);

    // A socket that takes connections and never says a word.
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QByteArray silentPath = QFile::encodeName(scratch.filePath(QStringLiteral("bus")));
    int silent = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(silent >= 0);
    // However the case ends, a request stuck on it lets go.
    const auto closeSilent = qScopeGuard([&] {
        if (silent >= 0)
            ::close(silent);
        silent = -1;
    });
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    qstrncpy(where.sun_path, silentPath.constData(), sizeof where.sun_path);
    QCOMPARE(bind(silent, reinterpret_cast<const sockaddr *>(&where), sizeof where), 0);
    QCOMPARE(listen(silent, 4), 0);

    QString address = QStringLiteral("unix:path=") + QString::fromLocal8Bit(silentPath);
    FakeRealtimeKit fake;
    fake.hold = true;
    QDBusConnection serviceBus(QStringLiteral("service"));
    if (!silentBus) {
        address = privateBus();
        if (address.isEmpty())
            QSKIP("dbus-daemon is missing");
        serviceBus = QDBusConnection::connectToBus(address, QStringLiteral("service"));
        QVERIFY(offer(serviceBus, fake));
    }

    PriorityRun run(true);
    QVERIFY(run.start(address));
    QTRY_VERIFY(run.stepping->priority());
    QCOMPARE(*run.stepping->priority(), strobe::ThreadPriority::Normal);
    QVERIFY(strobe::RaisedPriority::requestPending());
    QTRY_VERIFY(run.steps >= 3);
    if (!silentBus)
        QTRY_VERIFY(!fake.calls.isEmpty());
    // Ending the thread does not wait for the request, which is still under way.
    run.stepping.reset();
    QCOMPARE(run.gone.load(), 1);
    QVERIFY(strobe::RaisedPriority::requestPending());
    if (grantLate)
        fake.answerHeld();

    // The silent bus lets go of the request when it goes away.
    ::close(silent);
    silent = -1;
    QTRY_VERIFY_WITH_TIMEOUT(!strobe::RaisedPriority::requestPending(), 10000);
    if (!silentBus)
        withdraw(serviceBus);
    QCOMPARE(fake.calls, kit);
    QCOMPARE(run.scheduling->calls().contains(QStringLiteral("normal 4242")), takenBack);
}

// A real-time thread that never sleeps (here: it only asks for its own
// scheduling) reaches the soft RLIMIT_RTTIME; SIGXCPU puts it back to normal
// scheduling instead of ending the program.
void TestTimer::stuckRealtimeThreadGoesBackToNormal()
{
    std::atomic<int> raised = -1;
    std::atomic<int> policy = -1;
    std::thread stuck([&] {
        strobe::RaisedPriority priority(std::make_shared<strobe::ThreadScheduling>(),
                                        "unix:path=/nonexistent");
        priority.raise();
        raised = int(*priority.priority());
        if (raised != int(strobe::ThreadPriority::RealTime)) {
            priority.lower();
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        int now = sched_getscheduler(0);
        while (now != SCHED_OTHER && std::chrono::steady_clock::now() - start < 2s)
            now = sched_getscheduler(0);
        policy = now;
        priority.lower();
    });
    stuck.join();
    if (raised != int(strobe::ThreadPriority::RealTime))
        QSKIP("this process may not use real-time scheduling by itself");
    QCOMPARE(policy.load(), SCHED_OTHER);
}

// RLIMIT_RTTIME as the process had it, and as it is once the
// step thread asked for 100 ms soft and 200 ms hard: a lower limit stays.
void TestTimer::realtimeRunLimit_data()
{
    QTest::addColumn<qlonglong>("softBefore");
    QTest::addColumn<qlonglong>("hardBefore");
    QTest::addColumn<qlonglong>("softAfter");
    QTest::addColumn<qlonglong>("hardAfter");

    // Within 200 ms hard, which the process may have set already.
    QTest::newRow("as asked") << 200000LL << 200000LL << 100000LL << 200000LL;
    QTest::newRow("lower soft") << 50000LL << 200000LL << 50000LL << 200000LL;
    QTest::newRow("lower both") << 30000LL << 150000LL << 30000LL << 150000LL;
    QTest::newRow("lower hard") << 150000LL << 150000LL << 100000LL << 150000LL;
    QTest::newRow("below the soft asked") << 80000LL << 80000LL << 80000LL << 80000LL;
}

void TestTimer::realtimeRunLimit()
{
    QFETCH(qlonglong, softBefore);
    QFETCH(qlonglong, hardBefore);
    QFETCH(qlonglong, softAfter);
    QFETCH(qlonglong, hardAfter);

    // A hard limit once lowered stays lowered without privileges: each case
    // runs in a child process of its own.
    int results[2];
    QCOMPARE(pipe(results), 0);
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        const rlimit before{rlim_t(softBefore), rlim_t(hardBefore)};
        rlimit after{};
        if (setrlimit(RLIMIT_RTTIME, &before) != 0)
            _exit(2);
        strobe::ThreadScheduling scheduling;
        if (!scheduling.limitRealtimeRun(100000us, 200000us))
            _exit(1);
        getrlimit(RLIMIT_RTTIME, &after);
        const qlonglong got[2] = {qlonglong(after.rlim_cur), qlonglong(after.rlim_max)};
        _exit(write(results[1], got, sizeof got) == sizeof got ? 0 : 1);
    }
    ::close(results[1]);
    qlonglong got[2] = {-2, -2};
    const ssize_t read = ::read(results[0], got, sizeof got);
    ::close(results[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
        QSKIP("this process may not raise its RLIMIT_RTTIME");
    QCOMPARE(status, 0);
    QCOMPARE(read, ssize_t(sizeof got));
    QCOMPARE(got[0], softAfter);
    QCOMPARE(got[1], hardAfter);
}

void TestTimer::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
    m_bus.kill();
    m_bus.waitForFinished();
}

#endif

QTEST_GUILESS_MAIN(TestTimer)
#include "test_timer.moc"
