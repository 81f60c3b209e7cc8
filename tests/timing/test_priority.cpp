#include "countingstepper.h"
#include "timing/linux/raisedpriority.h"
#include "timing/linux/scheduling.h"
#include "timing/linux/stepthread.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

// The step thread's priority: what it asks of the system and of RealtimeKit (a
// fake one on a private bus), and the backstop behind a real-time thread.
class TestPriority final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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
};

namespace {

// Refuses real-time scheduling as an unprivileged process would, and records
// what was asked of it, from whichever thread, instead of asking the system.
class FakeScheduling final : public timing::ThreadScheduling
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
        while (timing::RaisedPriority::requestPending() && !patience.hasExpired())
            QTest::qWait(10);
        if (timer < 0 || timing::RaisedPriority::requestPending())
            return false;
        stepping = timing::StepThread::start(timer, std::make_unique<CountingStepper>(steps, gone),
                                             nullptr, scheduling, address.toStdString());
        return stepping != nullptr;
    }

    const std::shared_ptr<FakeScheduling> scheduling = std::make_shared<FakeScheduling>();
    const int timer = fastTimer();
    std::atomic<int> steps = 0;
    std::atomic<int> gone = 0;
    std::unique_ptr<timing::StepThread> stepping;
};

} // namespace

// What the scheduling and RealtimeKit grant (a limit of 0: no RealtimeKit),
// and what the step thread gets and asks for.
void TestPriority::priorityFallback_data()
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

    const int normal = int(timing::ThreadPriority::Normal);
    const int high = int(timing::ThreadPriority::High);
    const int realtime = int(timing::ThreadPriority::RealTime);
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

QString TestPriority::privateBus()
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

void TestPriority::priorityFallback()
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
    QTRY_VERIFY(run.stepping->priority() && !timing::RaisedPriority::requestPending());
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
void TestPriority::priorityNeverHoldsSteps_data()
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

void TestPriority::priorityNeverHoldsSteps()
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
    QCOMPARE(*run.stepping->priority(), timing::ThreadPriority::Normal);
    QVERIFY(timing::RaisedPriority::requestPending());
    QTRY_VERIFY(run.steps >= 3);
    if (!silentBus)
        QTRY_VERIFY(!fake.calls.isEmpty());
    // Ending the thread does not wait for the request, which is still under way.
    run.stepping.reset();
    QCOMPARE(run.gone.load(), 1);
    QVERIFY(timing::RaisedPriority::requestPending());
    if (grantLate)
        fake.answerHeld();

    // The silent bus lets go of the request when it goes away.
    ::close(silent);
    silent = -1;
    QTRY_VERIFY_WITH_TIMEOUT(!timing::RaisedPriority::requestPending(), 10000);
    if (!silentBus)
        withdraw(serviceBus);
    QCOMPARE(fake.calls, kit);
    QCOMPARE(run.scheduling->calls().contains(QStringLiteral("normal 4242")), takenBack);
}

// A real-time thread that never sleeps (here: it only asks for its own
// scheduling) reaches the soft RLIMIT_RTTIME; SIGXCPU puts it back to normal
// scheduling instead of ending the program.
void TestPriority::stuckRealtimeThreadGoesBackToNormal()
{
    std::atomic<int> raised = -1;
    std::atomic<int> policy = -1;
    std::thread stuck([&] {
        timing::RaisedPriority priority(std::make_shared<timing::ThreadScheduling>(),
                                        "unix:path=/nonexistent");
        priority.raise();
        raised = int(*priority.priority());
        if (raised != int(timing::ThreadPriority::RealTime)) {
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
    if (raised != int(timing::ThreadPriority::RealTime))
        QSKIP("this process may not use real-time scheduling by itself");
    QCOMPARE(policy.load(), SCHED_OTHER);
}

// RLIMIT_RTTIME as the process had it, and as it is once the
// step thread asked for 100 ms soft and 200 ms hard: a lower limit stays.
void TestPriority::realtimeRunLimit_data()
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

void TestPriority::realtimeRunLimit()
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
        timing::ThreadScheduling scheduling;
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

void TestPriority::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
    m_bus.kill();
    m_bus.waitForFinished();
}

QTEST_GUILESS_MAIN(TestPriority)
#include "test_priority.moc"
