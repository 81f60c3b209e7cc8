#include "failure.h"
#include "fakemessagebox.h"
#include "guard.h"
#include "report.h"

#include <QTest>

#include <stdexcept>

namespace {
const QString kLocation = QStringLiteral("in Lumivex2021/08/31.Form1.Form_Load ");
}

class TestGuard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reportTextIsExact_data();
    void reportTextIsExact();
    void reportBoxIsAWarningWithOk();
    void failedStepIsReportedAndNextStepRuns();
    void failedTestCountsAsHeld();
    void failedLastStepOfBranchGoesOnAfterTheBranch();
    void severalFailuresAreReportedInOrder();
    void foreignExceptionsAreReportedToo();
};

void TestGuard::reportTextIsExact_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("expected");
    const QString tail
        = QStringLiteral("Please email screenshot of this message to ") + errors::supportAddress();
    QTest::newRow("typical") << QStringLiteral("Type mismatch") << 138
                             << QStringLiteral(
                                    "Type mismatch\r\nin Lumivex2021/08/31.Form1.Form_Load "
                                    "at line 138\r\r")
                                    + tail;
    QTest::newRow("empty description")
        << QString() << 100
        << QStringLiteral("\r\nin Lumivex2021/08/31.Form1.Form_Load at line 100\r\r") + tail;
    QTest::newRow("largest line") << QStringLiteral("x") << 65535
                                  << QStringLiteral("x\r\nin Lumivex2021/08/31.Form1.Form_Load "
                                                    "at line 65535\r\r")
                                         + tail;
}

void TestGuard::reportTextIsExact()
{
    QFETCH(QString, description);
    QFETCH(int, line);
    QFETCH(QString, expected);
    QCOMPARE(errors::applicationErrorText(description, kLocation, static_cast<quint16>(line)),
             expected);
    QVERIFY(errors::supportAddress().contains(QLatin1Char('@')));
}

void TestGuard::reportBoxIsAWarningWithOk()
{
    FakeMessageBox box;
    errors::ReportApplicationError(box, QStringLiteral("Overflow"), kLocation, 140);
    QCOMPARE(box.shown.size(), 1);
    QCOMPARE(box.shown[0].style, 48);
    QCOMPARE(box.shown[0].title, std::optional<QString>(QStringLiteral("Application Error")));
    QVERIFY(box.shown[0].prompt.startsWith(QStringLiteral("Overflow\r\n")));
}

void TestGuard::failedStepIsReportedAndNextStepRuns()
{
    FakeMessageBox box;
    QStringList ran;
    {
        errors::Guard guard(box, kLocation);
        guard.step(100, [&] { ran << QStringLiteral("100"); });
        guard.step(104, [&] {
            throw errors::Failure(QStringLiteral("Invalid picture"));
            ran << QStringLiteral("104 rest");
        });
        guard.step(106, [&] { ran << QStringLiteral("106"); });
        QCOMPARE(guard.currentLine(), quint16(106));
        QCOMPARE(guard.failures(), 1);
    }
    QCOMPARE(ran, (QStringList{QStringLiteral("100"), QStringLiteral("106")}));
    QCOMPARE(box.shown.size(), 1);
    QVERIFY(box.shown[0].prompt.startsWith(QStringLiteral("Invalid picture\r\n") + kLocation
                                           + QStringLiteral("at line 104\r\r")));
}

void TestGuard::failedTestCountsAsHeld()
{
    FakeMessageBox box;
    errors::Guard guard(box, kLocation);
    bool branchRan = false;
    if (guard.test(102, []() -> bool { throw errors::Failure(QStringLiteral("Type mismatch")); }))
        guard.step(104, [&] { branchRan = true; });
    QVERIFY(branchRan);
    QCOMPARE(box.shown.size(), 1);
    QVERIFY(box.shown[0].prompt.contains(QStringLiteral("at line 102\r\r")));
    QVERIFY(!guard.test(106, [] { return false; }));
}

void TestGuard::failedLastStepOfBranchGoesOnAfterTheBranch()
{
    FakeMessageBox box;
    errors::Guard guard(box, kLocation);
    QStringList ran;
    if (guard.test(102, [] { return true; })) {
        guard.step(104, [&] { ran << QStringLiteral("104"); });
        guard.step(110, [] { throw errors::Failure(QStringLiteral("Overflow")); });
    } else if (guard.test(112, [] { return true; })) {
        guard.step(114, [&] { ran << QStringLiteral("114"); });
    }
    guard.step(128, [&] { ran << QStringLiteral("128"); });
    QCOMPARE(ran, (QStringList{QStringLiteral("104"), QStringLiteral("128")}));
    QCOMPARE(box.shown.size(), 1);
}

void TestGuard::severalFailuresAreReportedInOrder()
{
    FakeMessageBox box;
    errors::Guard guard(box, kLocation);
    guard.step(138, [] { throw errors::Failure(QStringLiteral("Invalid property value")); });
    guard.step(140, [] { throw errors::Failure(QStringLiteral("Type mismatch")); });
    QCOMPARE(box.shown.size(), 2);
    QVERIFY(box.shown[0].prompt.startsWith(QStringLiteral("Invalid property value\r\n")));
    QVERIFY(box.shown[0].prompt.contains(QStringLiteral("at line 138")));
    QVERIFY(box.shown[1].prompt.startsWith(QStringLiteral("Type mismatch\r\n")));
    QVERIFY(box.shown[1].prompt.contains(QStringLiteral("at line 140")));
}

void TestGuard::foreignExceptionsAreReportedToo()
{
    FakeMessageBox box;
    errors::Guard guard(box, kLocation);
    guard.step(100, [] { throw std::runtime_error("disk on fire"); });
    guard.step(102, [] { throw 42; });
    QCOMPARE(box.shown.size(), 2);
    QVERIFY(box.shown[0].prompt.startsWith(QStringLiteral("disk on fire\r\n")));
    QVERIFY(!box.shown[1].prompt.startsWith(QStringLiteral("\r\n")));
}

QTEST_GUILESS_MAIN(TestGuard)
#include "test_guard.moc"
