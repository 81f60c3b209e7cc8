// The real program under X: killed with SIGKILL right after a choice, and two
// copies writing the same settings file. Run under xvfb-run.
#include "faultsupport.h"

#include <QDir>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using faults::ProgramRun;

namespace {

struct Stored
{
    QSettings::Status status = QSettings::AccessError;
    QString style;
    QString speed;
};

Stored stored(const QString &configHome)
{
    QSettings file(QDir(configHome).filePath(QStringLiteral("Quarnel.conf")),
                   QSettings::IniFormat);
    Stored result;
    result.style = file.value(QStringLiteral("Lumivex Software/Combo1")).toString();
    result.speed = file.value(QStringLiteral("Lumivex Software/Combo2")).toString();
    result.status = file.status();
    return result;
}

bool startAndWait(ProgramRun &run)
{
    if (run.start() && !run.waitForMainWindow().isEmpty())
        return true;
    qWarning("program did not come up: %s", run.output().constData());
    return false;
}

} // namespace

class TestProcessFaults final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void choiceSurvivesSigkill();
    void killAtAnyMomentLeavesAWholeFile();
    void twoInstancesShareTheFile();
};

void TestProcessFaults::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X display: run under xvfb-run");
    QVERIFY2(faults::runTool(QStringLiteral("xdotool"), {QStringLiteral("version")}),
             "xdotool is missing");
}

void TestProcessFaults::choiceSurvivesSigkill()
{
    QTemporaryDir home;
    {
        ProgramRun run(home.path());
        QVERIFY(startAndWait(run));
        QTRY_COMPARE_WITH_TIMEOUT(stored(home.path()).speed, QStringLiteral("0"), 10000);
        // The style list has the focus; Down picks "Random Colors".
        QVERIFY(run.sendKeys({QStringLiteral("Down")}));
        QTRY_COMPARE_WITH_TIMEOUT(stored(home.path()).style, QStringLiteral("1"), 10000);
        run.kill();
    }
    QCOMPARE(stored(home.path()).status, QSettings::NoError);

    // The next start restores it, and can still save after the kill.
    ProgramRun again(home.path());
    QVERIFY(startAndWait(again));
    QVERIFY(again.sendKeys({QStringLiteral("Tab"), QStringLiteral("Down")}));
    QTRY_COMPARE_WITH_TIMEOUT(stored(home.path()).speed, QStringLiteral("1"), 10000);
    const Stored after = stored(home.path());
    QCOMPARE(after.status, QSettings::NoError);
    QCOMPARE(after.style, QStringLiteral("1"));
    QVERIFY(again.terminate());
}

void TestProcessFaults::killAtAnyMomentLeavesAWholeFile()
{
    QTemporaryDir home;
    QRandomGenerator random(7);
    for (int round = 0; round < 6; ++round) {
        ProgramRun run(home.path());
        QVERIFY(startAndWait(run));
        // Keys go out without waiting; the kill lands somewhere in the saves.
        QProcess keys;
        keys.start(QStringLiteral("xdotool"),
                   {QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("1"),
                    QStringLiteral("Down"), QStringLiteral("Up"), QStringLiteral("Down"),
                    QStringLiteral("Tab"), QStringLiteral("Down"), QStringLiteral("Down")});
        QThread::msleep(random.bounded(60));
        run.kill();
        keys.waitForFinished(5000);
        const Stored now = stored(home.path());
        QCOMPARE(now.status, QSettings::NoError);
        QVERIFY2(QStringList({QStringLiteral("0"), QStringLiteral("1")}).contains(now.style),
                 qPrintable(now.style));
        QVERIFY2(QStringList({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")})
                     .contains(now.speed),
                 qPrintable(now.speed));
    }
}

void TestProcessFaults::twoInstancesShareTheFile()
{
    QTemporaryDir home;
    ProgramRun first(home.path());
    QVERIFY(startAndWait(first));
    QTRY_COMPARE_WITH_TIMEOUT(stored(home.path()).speed, QStringLiteral("0"), 10000);
    ProgramRun second(home.path());
    QVERIFY(startAndWait(second));

    // Each copy changes its own list; neither loses the other's change.
    QVERIFY(first.sendKeys({QStringLiteral("Down")}));
    QTRY_COMPARE_WITH_TIMEOUT(stored(home.path()).style, QStringLiteral("1"), 10000);
    QVERIFY(
        second.sendKeys({QStringLiteral("Tab"), QStringLiteral("Down"), QStringLiteral("Down")}));
    QTRY_COMPARE_WITH_TIMEOUT(stored(home.path()).speed, QStringLiteral("2"), 10000);
    QCOMPARE(stored(home.path()).style, QStringLiteral("1"));

    // Both at once, many times over.
    QStringList storm;
    for (int i = 0; i < 40; ++i)
        storm << (i % 2 ? QStringLiteral("Up") : QStringLiteral("Down"));
    QVERIFY(first.sendKeys(storm));
    QVERIFY(second.sendKeys(storm));
    QVERIFY(first.isRunning());
    QVERIFY(second.isRunning());
    QVERIFY(first.terminate());
    QVERIFY(second.terminate());
    const Stored last = stored(home.path());
    QCOMPARE(last.status, QSettings::NoError);
    // Down and Up in turn, ending on Up: one step back from where each was.
    QCOMPARE(last.style, QStringLiteral("0"));
    QCOMPARE(last.speed, QStringLiteral("1"));
    QCOMPARE(QDir(home.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("Quarnel.conf")});
}

QTEST_MAIN(TestProcessFaults)
#include "test_processfaults.moc"
