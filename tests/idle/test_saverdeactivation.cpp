#include "idle/saverdeactivation.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <memory>

#include <signal.h>

using idle::SaverDeactivation;

namespace {

// A stand-in command that notes each run (its process id) in a file, then
// lasts as long as asked.
struct Runs
{
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("runs")); }
    int count() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? int(file.readAll().count('\n')) : 0;
    }
    pid_t last() const
    {
        QFile file(path());
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
        return pid_t(lines.last().toInt());
    }
};

bool running(pid_t pid)
{
    return ::kill(pid, 0) == 0;
}

SaverDeactivation::Ways ways(const Runs &runs, const QString &lasting, bool saverRunning,
                             bool serviceOwned)
{
    SaverDeactivation::Ways ways;
    ways.program = QStringLiteral("/bin/sh");
    ways.arguments = QStringList{QStringLiteral("-c"),
                                 QStringLiteral("echo $$ >> \"$0\"; exec sleep %1").arg(lasting),
                                 runs.path()};
    ways.intervalMs = 300;
    ways.saverRunning = [saverRunning] {
        return saverRunning;
    };
    ways.askServiceOwned = [serviceOwned](QObject &, std::function<void(bool)> answer) {
        answer(serviceOwned);
    };
    return ways;
}

} // namespace

class TestSaverDeactivation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void runsOnlyWhereNeeded_data();
    void runsOnlyWhereNeeded();
    void runsAtOnceThenEveryTurnWhileHeld();
    void aHangingCommandIsEndedAndNeverDoubled();
    void aCommandStillRunningAtReleaseIsEnded();
    void aMissingCommandChangesNothing();
};

void TestSaverDeactivation::runsOnlyWhereNeeded_data()
{
    QTest::addColumn<bool>("saverRunning");
    QTest::addColumn<bool>("serviceOwned");
    QTest::addColumn<int>("runs");
    QTest::newRow("saver, no service") << true << false << 1;
    QTest::newRow("saver and a service") << true << true << 0;
    QTest::newRow("no saver") << false << false << 0;
}

void TestSaverDeactivation::runsOnlyWhereNeeded()
{
    QFETCH(bool, saverRunning);
    QFETCH(bool, serviceOwned);
    QFETCH(int, runs);
    Runs noted;
    SaverDeactivation hold(ways(noted, QStringLiteral("0"), saverRunning, serviceOwned));
    QSignalSpy started(&hold, &SaverDeactivation::commandStarted);
    QWidget window;
    hold.inhibit(window);
    QCOMPARE(started.size(), runs);
    QTRY_COMPARE(noted.count(), runs);
    QTRY_VERIFY(!hold.commandRunning());
    hold.release();
}

void TestSaverDeactivation::runsAtOnceThenEveryTurnWhileHeld()
{
    Runs noted;
    SaverDeactivation hold(ways(noted, QStringLiteral("0"), true, false));
    QSignalSpy started(&hold, &SaverDeactivation::commandStarted);
    QWidget window;
    hold.inhibit(window);
    QCOMPARE(started.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(noted.count(), 3, 5000);
    hold.release();
    const int atRelease = started.size();
    QTest::qWait(700);
    QCOMPARE(started.size(), atRelease);
}

void TestSaverDeactivation::aHangingCommandIsEndedAndNeverDoubled()
{
    Runs noted;
    auto hold
        = std::make_unique<SaverDeactivation>(ways(noted, QStringLiteral("60"), true, false));
    QSignalSpy started(hold.get(), &SaverDeactivation::commandStarted);
    QWidget window;
    hold->inhibit(window);
    QTRY_COMPARE(noted.count(), 1);
    // The next turn kills it instead of starting another; the turn after
    // starts afresh.
    QTRY_VERIFY_WITH_TIMEOUT(!hold->commandRunning(), 5000);
    QCOMPARE(started.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(noted.count(), 2, 5000);
    QVERIFY(hold->commandRunning());
    // Ending the program does not wait for it.
    QElapsedTimer ending;
    ending.start();
    hold.reset();
    QVERIFY(ending.elapsed() < 1000);
}

void TestSaverDeactivation::aCommandStillRunningAtReleaseIsEnded()
{
    Runs noted;
    SaverDeactivation hold(ways(noted, QStringLiteral("60"), true, false));
    QSignalSpy started(&hold, &SaverDeactivation::commandStarted);
    QWidget window;
    hold.inhibit(window);
    QTRY_COMPARE(noted.count(), 1);
    const pid_t first = noted.last();
    QVERIFY(running(first));
    // Closed, the strobe leaves nothing running behind it, however long the
    // command would take.
    hold.release();
    QTRY_VERIFY(!running(first));
    // Opened again at once, it tells the screen saver at once.
    hold.inhibit(window);
    QCOMPARE(started.size(), 2);
    QTRY_COMPARE(noted.count(), 2);
    hold.release();
    QTRY_VERIFY(!running(noted.last()));
}

void TestSaverDeactivation::aMissingCommandChangesNothing()
{
    Runs noted;
    SaverDeactivation::Ways missing = ways(noted, QStringLiteral("0"), true, false);
    missing.program = noted.dir.filePath(QStringLiteral("no-such-command"));
    SaverDeactivation hold(std::move(missing));
    QSignalSpy started(&hold, &SaverDeactivation::commandStarted);
    QWidget window;
    hold.inhibit(window);
    // Each turn tries again; none is left behind as running.
    QTRY_VERIFY_WITH_TIMEOUT(started.size() >= 2, 5000);
    QTRY_VERIFY(!hold.commandRunning());
    hold.release();
}

QTEST_MAIN(TestSaverDeactivation)
#include "test_saverdeactivation.moc"
