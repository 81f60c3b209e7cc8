#include "curfile.h"
#include "fakeplatform.h"
#include "layouts/applicationicon.h"
#include "shell/homepage.h"
#include "shell/mainwindow.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;
using Reports = QList<int>;

namespace {

bool faultyFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(1 << 20) : QByteArray("absent");
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void restoresStoredChoices_data();
    void restoresStoredChoices();
    void firstStartUp();
    void handCursorKeepsItsHotSpot();
    void homePageOpensOnDrawOfSeven_data();
    void homePageOpensOnDrawOfSeven();
    void requestToEndStopsStartUp_data();
    void requestToEndStopsStartUp();
};

void TestStartup::restoresStoredChoices_data()
{
    // Stored "Combo1,Combo2", the indexes selected, the reports, and the texts afterwards.
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QPoint>("selected");
    QTest::addColumn<Reports>("reports");
    QTest::addColumn<QString>("after");
    QTest::newRow("random colours, fast")
        << QStringLiteral("1,2") << QPoint(1, 2) << Reports{} << QStringLiteral("1,2");
    QTest::newRow("no style") << QStringLiteral("-1,1") << QPoint(-1, 1) << Reports{}
                              << QStringLiteral("-1,1");
    QTest::newRow("style past the list")
        << QStringLiteral("2,0") << QPoint(-1, 0) << Reports{138} << QStringLiteral("2,0");
    QTest::newRow("speed not a number")
        << QStringLiteral("0,abc") << QPoint(0, -1) << Reports{140} << QStringLiteral("0,abc");
    QTest::newRow("halves go to even")
        << QStringLiteral("0.5,1.5") << QPoint(0, 2) << Reports{} << QStringLiteral("0,2");
    QTest::newRow("both invalid") << QStringLiteral("7,abc") << QPoint(-1, -1) << Reports{138, 140}
                                  << QStringLiteral("7,abc");
}

void TestStartup::restoresStoredChoices()
{
    QFETCH(QString, stored);
    QFETCH(QPoint, selected);
    QFETCH(Reports, reports);
    QFETCH(QString, after);

    FakePlatform platform;
    platform.storeValue(QStringLiteral("Combo1"), stored.section(u',', 0, 0));
    platform.storeValue(QStringLiteral("Combo2"), stored.section(u',', 1));
    shell::MainWindow form(platform);
    form.setUp();

    QCOMPARE(QPoint(form.styleIndex(), form.speedIndex()), selected);
    QCOMPARE(platform.box.reportedLines(), reports);
    QCOMPARE(platform.box.shown.size(), reports.size());
    QCOMPARE(platform.storedValue(QStringLiteral("Combo1")) + u','
                 + platform.storedValue(QStringLiteral("Combo2")),
             after);
}

void TestStartup::firstStartUp()
{
    // No stored choices and no hand cursor beside the program: the first entries
    // are selected and written back, and nothing is reported.
    FakePlatform platform;
    shell::MainWindow form(platform);
    form.setUp();
    QVERIFY(platform.box.shown.isEmpty());
    QVERIFY(!form.hasMouseIcon());
    const auto *style = form.findChild<QComboBox *>(QStringLiteral("Combo1"));
    const auto *speed = form.findChild<QComboBox *>(QStringLiteral("Combo2"));
    QCOMPARE(style->currentText(), QStringLiteral("Classic Strobe Light"));
    QCOMPARE(speed->currentText(), QStringLiteral("Slow"));
    QCOMPARE(platform.storedValue(QStringLiteral("Combo1")), QStringLiteral("0"));
    QCOMPARE(platform.storedValue(QStringLiteral("Combo2")), QStringLiteral("0"));
    // One write per restored list, none from filling them.
    QCOMPARE(platform.store.saves, 2);
    QCOMPARE(style->count(), 2);
    QCOMPARE(speed->itemText(2), QStringLiteral("Fast"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Lumivex Software"));
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Lumivex"));
    // The program's one icon, with the sizes a desktop asks a window for.
    QCOMPARE(form.windowIcon().cacheKey(), layouts::applicationIcon().cacheKey());
    QCOMPARE(form.windowIcon().availableSizes(),
             (QList<QSize>{{16, 16}, {32, 32}, {48, 48}, {64, 64}}));
}

void TestStartup::handCursorKeepsItsHotSpot()
{
    FakePlatform platform;
    QVERIFY(writeHandCursor(platform.folder));
    shell::MainWindow form(platform);
    form.setUp();
    QVERIFY(platform.box.shown.isEmpty());
    form.pointerOverButton();
    auto *button = form.findChild<QWidget *>(QStringLiteral("PushButton2"));
    QCOMPARE(button->cursor().shape(), Qt::BitmapCursor);
    QCOMPARE(button->cursor().hotSpot(), QPoint(5, 7));
    form.pointerOverBackground();
    QCOMPARE(button->cursor().shape(), Qt::ArrowCursor);
}

void TestStartup::homePageOpensOnDrawOfSeven_data()
{
    QTest::addColumn<float>("random");
    QTest::addColumn<bool>("openFails");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<Reports>("reports");
    QTest::newRow("draws 7") << 0.065f << false << true << Reports{};
    QTest::newRow("draws 6") << 0.0599f << false << false << Reports{};
    QTest::newRow("draws 8") << 0.07f << false << false << Reports{};
    QTest::newRow("draws 7, opener fails") << 0.065f << true << false << Reports{108};
}

void TestStartup::homePageOpensOnDrawOfSeven()
{
    QFETCH(float, random);
    QFETCH(bool, openFails);
    QFETCH(bool, opens);
    QFETCH(Reports, reports);
    FakePlatform platform;
    platform.random = random;
    platform.openFails = openFails;
    shell::MainWindow form(platform);
    form.setUp();
    QCOMPARE(platform.opened, opens ? QList<QUrl>{shell::homePageAddress()} : QList<QUrl>{});
    QCOMPARE(platform.box.reportedLines(), reports);
    QCOMPARE(platform.box.shown.size(), reports.size());
    QCOMPARE(form.windowTitle(), QStringLiteral("Lumivex Software"));
}

void TestStartup::requestToEndStopsStartUp_data()
{
    // What the start-up meets, and whether the request comes before it starts
    // rather than while its first box is shown.
    QTest::addColumn<QString>("style");
    QTest::addColumn<bool>("brokenCursor");
    QTest::addColumn<bool>("unreadableFile");
    QTest::addColumn<bool>("before");
    QTest::addColumn<int>("speeds"); // entries in the speed list by then
    QTest::newRow("style not a number, no speed") << u"abc"_s << false << false << false << 3;
    QTest::newRow("style past the list, no speed") << u"7"_s << false << false << false << 3;
    QTest::newRow("broken hand cursor") << QString() << true << false << false << 0;
    QTest::newRow("settings file too big to read") << QString() << false << true << false << 3;
    QTest::newRow("before start-up") << QString() << false << false << true << 0;
}

void TestStartup::requestToEndStopsStartUp()
{
    QFETCH(QString, style);
    QFETCH(bool, brokenCursor);
    QFETCH(bool, unreadableFile);
    QFETCH(bool, before);
    QFETCH(int, speeds);
    FakePlatform platform;
    if (!style.isEmpty())
        platform.storeValue(u"Combo1"_s, style);
    if (brokenCursor)
        QVERIFY(faultyFile(platform.folder + u"/HAND-M.CUR"_s, "not a cursor"));
    if (unreadableFile)
        QVERIFY(faultyFile(platform.settingsFile(), "[Lumivex%20Software]\n")
                && QFile::resize(platform.settingsFile(), qint64(300) << 20));
    const QByteArray settingsBefore = fileBytes(platform.settingsFile());
    platform.box.whileShown = [&] {
        platform.ending = true;
    };
    platform.ending = before;
    shell::MainWindow form(platform);
    form.setUp();

    // Nothing after the request: no other box, no entry added, nothing stored.
    QCOMPARE(platform.box.shown.size(), before ? 0 : 1);
    QCOMPARE(platform.store.saves, 0);
    QCOMPARE(form.findChild<QComboBox *>(u"Combo2"_s)->count(), speeds);
    QCOMPARE(fileBytes(platform.settingsFile()), settingsBefore);
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
