#include "errors/failure.h"
#include "errors/guard.h"
#include "errors/report.h"
#include "fakemessagebox.h"

#include <QTest>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {
const QString kLocation = QStringLiteral("in Lumivex2021/08/31.Form1.Form_Load ");

void fail(const char *description)
{
    throw errors::Failure(QString::fromLatin1(description));
}
} // namespace

class TestGuard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reportTextIsExact_data();
    void reportTextIsExact();
    void reportBoxIsAWarningWithOk();
    void failedStepIsReportedAndNextStepRuns();
    void failedTestCountsAsHeldAndBranchEndGoesOn();
    void endingLeavesTheHandler_data();
    void endingLeavesTheHandler();
};

void TestGuard::reportTextIsExact_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("expected");
    const QString tail
        = QStringLiteral("Please email screenshot of this message to ") + errors::supportAddress();
    const QString typical = QStringLiteral("Type mismatch\r\n") + kLocation;
    QTest::newRow("typical") << "Type mismatch" << 138
                             << typical + QStringLiteral("at line 138\r\r") + tail;
    QTest::newRow("empty description")
        << "" << 100
        << QStringLiteral("\r\n") + kLocation + QStringLiteral("at line 100\r\r") + tail;
}

void TestGuard::reportTextIsExact()
{
    QFETCH(QString, description);
    QFETCH(int, line);
    QFETCH(QString, expected);
    QCOMPARE(errors::applicationErrorText(description, kLocation, static_cast<quint16>(line)),
             expected);
}

void TestGuard::reportBoxIsAWarningWithOk()
{
    FakeMessageBox box;
    errors::reportApplicationError(box, QStringLiteral("Overflow"), kLocation, 140);
    QCOMPARE(box.shown.size(), 1);
    QCOMPARE(box.shown[0].style, 48);
    QCOMPARE(box.shown[0].title, std::optional<QString>(QStringLiteral("Application Error")));
    QCOMPARE(box.shown[0].prompt,
             errors::applicationErrorText(QStringLiteral("Overflow"), kLocation, 140));
}

void TestGuard::failedStepIsReportedAndNextStepRuns()
{
    FakeMessageBox box;
    QStringList ran;
    errors::Guard guard(box, kLocation);
    guard.step(100, [&] { ran << QStringLiteral("100"); });
    guard.step(104, [&] {
        fail("Invalid picture");
        ran << QStringLiteral("104 rest");
    });
    guard.step(106, [&] { ran << QStringLiteral("106"); });
    guard.step(108, [] { throw std::runtime_error("disk on fire"); });
    QCOMPARE(ran, (QStringList{QStringLiteral("100"), QStringLiteral("106")}));
    // Several failures are each reported, in order.
    QCOMPARE(box.reportedLines(), (QList<int>{104, 108}));
    QVERIFY(box.shown[0].prompt.startsWith(QStringLiteral("Invalid picture\r\n")));
    QVERIFY(box.shown[1].prompt.startsWith(QStringLiteral("disk on fire\r\n")));
}

void TestGuard::failedTestCountsAsHeldAndBranchEndGoesOn()
{
    FakeMessageBox box;
    errors::Guard guard(box, kLocation);
    QStringList ran;
    if (guard.test(102,
                   []() -> bool { throw errors::Failure(QStringLiteral("Type mismatch")); })) {
        guard.step(104, [&] { ran << QStringLiteral("104"); });
        guard.step(110, [] { fail("Overflow"); });
    } else if (guard.test(112, [] { return true; })) {
        guard.step(114, [&] { ran << QStringLiteral("114"); });
    }
    guard.step(128, [&] { ran << QStringLiteral("128"); });
    QCOMPARE(ran, (QStringList{QStringLiteral("104"), QStringLiteral("128")}));
    QCOMPARE(box.reportedLines(), (QList<int>{102, 110}));
}

void TestGuard::endingLeavesTheHandler_data()
{
    // Where the end comes: in a step, in the box that reports a failed step,
    // or thrown by a step as Abandon; the steps that ran and the reports.
    QTest::addColumn<QString>("where");
    QTest::addColumn<QStringList>("ran");
    QTest::addColumn<QList<int>>("reports");
    QTest::newRow("in a step") << u"step"_s << QStringList{u"100"_s} << QList<int>{};
    QTest::newRow("in a report box") << u"box"_s << QStringList{u"100"_s} << QList<int>{104};
    QTest::newRow("a step abandons") << u"abandon"_s << QStringList{u"100"_s} << QList<int>{};
}

void TestGuard::endingLeavesTheHandler()
{
    QFETCH(QString, where);
    QFETCH(QStringList, ran);
    QFETCH(QList<int>, reports);
    FakeMessageBox box;
    bool ending = false;
    box.whileShown = [&] {
        ending = where == u"box";
    };
    QStringList done;
    bool left = false;
    try {
        errors::Guard guard(box, kLocation, [&] { return ending; });
        guard.step(100, [&] {
            done << u"100"_s;
            ending = where == u"step";
        });
        guard.step(104, [&] {
            if (where == u"abandon")
                throw errors::Abandon{};
            fail("Invalid picture");
        });
        if (guard.test(106, [&] { return true; }))
            guard.step(108, [&] { done << u"108"_s; });
    } catch (const errors::Abandon &) {
        left = true;
    }
    QVERIFY(left);
    QCOMPARE(done, ran);
    QCOMPARE(box.reportedLines(), reports);
}

QTEST_GUILESS_MAIN(TestGuard)
#include "test_guard.moc"
