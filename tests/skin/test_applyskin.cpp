#include "applyskin.h"
#include "fakeplatform.h"
#include "form1.h"
#include "olecolor.h"
#include "recordingdispatch.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QVBoxLayout>

#include <sys/stat.h>
#include <unistd.h>

using skin::CallKind;
using skin::Variant;

Q_DECLARE_METATYPE(skin::Variant)

namespace {

const QColor kButtonFace(0x12, 0x34, 0x56);
const QColor kWhite(Qt::white);

QColor background(const QWidget *widget)
{
    return widget->palette().color(QPalette::Active, QPalette::Window);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QString skinFolder(const FakePlatform &platform)
{
    return platform.folder + QStringLiteral("/x");
}

} // namespace

class TestApplySkin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void skinPathJoinsTheFixedName();
    void withoutSkinNothingHappens_data();
    void withoutSkinNothingHappens();
    void unreadableSkinIsNotSeen();

    void windowAndFramesTakeButtonFace();
    void listsAndPushButtonsKeepTheirLook();
    void everyRecolouredKindInTheWholeTree();
    void sixCallsInOrder();
    void optionFlagsGainBitZero_data();
    void optionFlagsGainBitZero();
    void rejectedCallStopsAndKeepsColours_data();
    void rejectedCallStopsAndKeepsColours();

    void rejectingComponentGivesOneReportAt100();
    void brokenSkinLeavesTheWindowUnstyled();
    void exampleSkinStylesTheWindow();
};

void TestApplySkin::initTestCase()
{
    // A button face unlike any layout colour, to see that it is the one used.
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Button, kButtonFace);
    QApplication::setPalette(palette);
}

void TestApplySkin::skinPathJoinsTheFixedName()
{
    QCOMPARE(Globals::SkinFilePath(QStringLiteral("/opt/lumivex")),
             QStringLiteral("/opt/lumivex/x/o.cjs"));
    // Joined as it stands: a trailing separator is not looked for.
    QCOMPARE(Globals::SkinFilePath(QStringLiteral("/")), QStringLiteral("//x/o.cjs"));
    // A backslash is an ordinary character in a Unix folder name.
    QCOMPARE(Globals::SkinFilePath(QStringLiteral("/a\\b")), QStringLiteral("/a\\b/x/o.cjs"));
}

void TestApplySkin::withoutSkinNothingHappens_data()
{
    QTest::addColumn<QString>("setup");
    QTest::newRow("no folder x") << QString();
    QTest::newRow("no o.cjs in x") << QStringLiteral("other file");
    QTest::newRow("o.cjs in other case") << QStringLiteral("upper case");
    QTest::newRow("o.cjs is a folder") << QStringLiteral("folder");
    QTest::newRow("o.cjs is a pipe") << QStringLiteral("pipe");
    QTest::newRow("o.cjs is a dangling link") << QStringLiteral("dangling link");
    QTest::newRow("x is a file") << QStringLiteral("x file");
}

void TestApplySkin::withoutSkinNothingHappens()
{
    QFETCH(QString, setup);
    FakePlatform platform;
    const QString x = skinFolder(platform);
    const QString skin = x + QStringLiteral("/o.cjs");
    if (setup == QStringLiteral("other file"))
        writeFile(x + QStringLiteral("/p.cjs"), "QWidget {}");
    else if (setup == QStringLiteral("upper case"))
        writeFile(x + QStringLiteral("/O.CJS"), "QWidget {}");
    else if (setup == QStringLiteral("folder"))
        QVERIFY(QDir().mkpath(skin));
    else if (setup == QStringLiteral("pipe"))
        QVERIFY(QDir().mkpath(x) && ::mkfifo(QFile::encodeName(skin).constData(), 0644) == 0);
    else if (setup == QStringLiteral("dangling link"))
        QVERIFY(QDir().mkpath(x) && QFile::link(x + QStringLiteral("/gone.cjs"), skin));
    else if (setup == QStringLiteral("x file"))
        writeFile(x, "QWidget {}");

    shell::Form1 form(platform);
    auto *frame = form.findChild<QGroupBox *>(QStringLiteral("Frame3"));
    RecordingDispatch component;
    Globals::ApplySkin(form, component, platform.folder);
    QVERIFY(component.calls.isEmpty());
    QCOMPARE(background(&form), kWhite);
    QCOMPARE(background(frame), kWhite);
}

void TestApplySkin::unreadableSkinIsNotSeen()
{
    if (::geteuid() == 0)
        QSKIP("root reads every file");
    FakePlatform platform;
    const QString skin = skinFolder(platform) + QStringLiteral("/o.cjs");
    writeFile(skin, "QWidget {}");
    QVERIFY(QFile::setPermissions(skin, QFileDevice::WriteOwner));
    shell::Form1 form(platform);
    RecordingDispatch component;
    Globals::ApplySkin(form, component, platform.folder);
    QVERIFY(component.calls.isEmpty());
    QCOMPARE(background(&form), kWhite);
}

void TestApplySkin::windowAndFramesTakeButtonFace()
{
    FakePlatform platform;
    writeFile(skinFolder(platform) + QStringLiteral("/o.cjs"), "QWidget {}");
    shell::Form1 form(platform);
    RecordingDispatch component;
    Globals::ApplySkin(form, component, platform.folder);
    for (const QWidget *widget :
         {static_cast<const QWidget *>(&form),
          static_cast<const QWidget *>(form.findChild<QGroupBox *>(QStringLiteral("Frame3"))),
          static_cast<const QWidget *>(form.findChild<QGroupBox *>(QStringLiteral("Frame4")))}) {
        QCOMPARE(background(widget), kButtonFace);
        QVERIFY(widget->autoFillBackground());
    }
}

void TestApplySkin::listsAndPushButtonsKeepTheirLook()
{
    FakePlatform platform;
    writeFile(skinFolder(platform) + QStringLiteral("/o.cjs"), "QWidget {}");
    shell::Form1 form(platform);
    form.Form_Load();
    const QStringList names{QStringLiteral("Combo1"), QStringLiteral("Combo2"),
                            QStringLiteral("PushButton1"), QStringLiteral("PushButton2")};
    QList<QImage> before;
    QList<QPalette> palettes;
    for (const QString &name : names) {
        QWidget *control = form.findChild<QWidget *>(name);
        before.append(control->grab().toImage());
        palettes.append(control->palette());
        QVERIFY(!control->autoFillBackground());
    }

    RecordingDispatch component;
    Globals::ApplySkin(form, component, platform.folder);
    QCOMPARE(component.calls.size(), 6);
    for (qsizetype i = 0; i < names.size(); ++i) {
        QWidget *control = form.findChild<QWidget *>(names[i]);
        QVERIFY2(control->grab().toImage() == before[i], qPrintable(names[i]));
        QVERIFY2(!control->autoFillBackground(), qPrintable(names[i]));
        for (auto role : {QPalette::Button, QPalette::Base, QPalette::ButtonText, QPalette::Text})
            QCOMPARE(control->palette().color(role), palettes[i].color(role));
    }
}

void TestApplySkin::everyRecolouredKindInTheWholeTree()
{
    FakePlatform platform;
    writeFile(skinFolder(platform) + QStringLiteral("/o.cjs"), "QWidget {}");
    QWidget form;
    auto *outer = new QGroupBox(&form);
    auto *inner = new QGroupBox(outer);
    auto *label = new QLabel(inner);
    auto *check = new QCheckBox(inner);
    auto *option = new QRadioButton(outer);
    auto *list = new QComboBox(inner);
    auto *button = new QPushButton(&form);
    auto *edit = new QLineEdit(outer);
    auto *popup = new QLabel(&form, Qt::Popup);

    RecordingDispatch component;
    Globals::ApplySkin(form, component, platform.folder);
    for (const QWidget *recoloured :
         {static_cast<QWidget *>(&form), static_cast<QWidget *>(outer),
          static_cast<QWidget *>(inner), static_cast<QWidget *>(label),
          static_cast<QWidget *>(check), static_cast<QWidget *>(option)}) {
        QCOMPARE(background(recoloured), kButtonFace);
        QVERIFY(recoloured->autoFillBackground());
    }
    for (const QWidget *untouched : {static_cast<QWidget *>(list), static_cast<QWidget *>(button),
                                     static_cast<QWidget *>(edit), static_cast<QWidget *>(popup)})
        QVERIFY2(!untouched->autoFillBackground(), untouched->metaObject()->className());
    QCOMPARE(list->palette().resolveMask() & (1u << QPalette::Window), 0u);
}

void TestApplySkin::sixCallsInOrder()
{
    FakePlatform platform;
    writeFile(skinFolder(platform) + QStringLiteral("/o.cjs"), "QWidget {}");
    shell::Form1 form(platform);
    RecordingDispatch component;
    component.flags = qint32{0x40};
    Globals::ApplySkin(form, component, platform.folder);

    const auto &calls = component.calls;
    QCOMPARE(calls.size(), 6);
    const QList<qint32> ids{2, 1, 1, 5, 10, 3};
    const QList<CallKind> kinds{CallKind::Method,      CallKind::PropertyGet,
                                CallKind::PropertyPut, CallKind::PropertyPut,
                                CallKind::PropertyPut, CallKind::Method};
    for (qsizetype i = 0; i < calls.size(); ++i) {
        QCOMPARE(calls[i].dispId, ids[i]);
        QVERIFY(calls[i].kind == kinds[i]);
    }
    const QString path = skinFolder(platform) + QStringLiteral("/o.cjs");
    QVERIFY(calls[0].args == (QList<Variant>{path, QString()}));
    QVERIFY(calls[1].args.isEmpty());
    QVERIFY(calls[2].args == QList<Variant>{qint32{0x41}});
    QVERIFY(calls[3].args == QList<Variant>{true});
    QVERIFY(calls[4].args == QList<Variant>{true});
    QVERIFY(calls[5].args == QList<Variant>{static_cast<qint32>(form.winId())});
    QVERIFY(std::get<qint32>(calls[5].args[0]) != 0);
}

void TestApplySkin::optionFlagsGainBitZero_data()
{
    QTest::addColumn<Variant>("read");
    QTest::addColumn<qint32>("written");
    QTest::newRow("none") << Variant{qint32{0}} << qint32{1};
    QTest::newRow("bit 0 already set") << Variant{qint32{1}} << qint32{1};
    QTest::newRow("other bits kept") << Variant{qint32{6}} << qint32{7};
    QTest::newRow("top bit") << Variant{qint32(0x80000000u)} << qint32(0x80000001u);
    QTest::newRow("all but bit 0") << Variant{qint32(0xFFFFFFFEu)} << qint32{-1};
    QTest::newRow("all") << Variant{qint32{-1}} << qint32{-1};
    QTest::newRow("largest") << Variant{qint32{0x7FFFFFFF}} << qint32{0x7FFFFFFF};
    QTest::newRow("nothing") << Variant{} << qint32{1};
    QTest::newRow("Boolean true") << Variant{true} << qint32{-1};
    QTest::newRow("text") << Variant{QStringLiteral("8")} << qint32{9};
}

void TestApplySkin::optionFlagsGainBitZero()
{
    QFETCH(Variant, read);
    QFETCH(qint32, written);
    FakePlatform platform;
    writeFile(skinFolder(platform) + QStringLiteral("/o.cjs"), "QWidget {}");
    shell::Form1 form(platform);
    RecordingDispatch component;
    component.flags = read;
    Globals::ApplySkin(form, component, platform.folder);
    QCOMPARE(component.calls.size(), 6);
    QVERIFY(component.calls[2].args == QList<Variant>{written});
}

void TestApplySkin::rejectedCallStopsAndKeepsColours_data()
{
    QTest::addColumn<int>("failAt");
    for (int call = 0; call < 6; ++call)
        QTest::addRow("call %d", call + 1) << call;
}

void TestApplySkin::rejectedCallStopsAndKeepsColours()
{
    QFETCH(int, failAt);
    FakePlatform platform;
    writeFile(skinFolder(platform) + QStringLiteral("/o.cjs"), "QWidget {}");
    shell::Form1 form(platform);
    RecordingDispatch component;
    component.failAt = failAt;
    QVERIFY_THROWS_EXCEPTION(errors::Failure,
                             Globals::ApplySkin(form, component, platform.folder));
    QCOMPARE(component.calls.size(), failAt + 1);
    QCOMPARE(background(&form), kButtonFace);
    QCOMPARE(background(form.findChild<QGroupBox *>(QStringLiteral("Frame4"))), kButtonFace);
}

void TestApplySkin::rejectingComponentGivesOneReportAt100()
{
    FakePlatform platform;
    writeFile(skinFolder(platform) + QStringLiteral("/o.cjs"), "QWidget {}");
    shell::Form1 form(platform);
    RecordingDispatch component;
    component.failAt = 0;
    form.setSkinFramework(&component);
    form.Form_Load();

    QCOMPARE(platform.box.shown.size(), 1);
    const auto &report = platform.box.shown.first();
    QCOMPARE(report.title, std::optional<QString>(QStringLiteral("Application Error")));
    QVERIFY(report.prompt.startsWith(
        QStringLiteral("The component rejected the call\r\n"
                       "in Lumivex2021/08/31.Form1.Form_Load at line 100\r\r")));
    // Start-up went on after the skin.
    QCOMPARE(form.windowTitle(), QStringLiteral("Lumivex Software"));
    QCOMPARE(form.findChild<QComboBox *>(QStringLiteral("Combo2"))->count(), 3);
    form.showCentred();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(background(&form), kButtonFace);
}

void TestApplySkin::brokenSkinLeavesTheWindowUnstyled()
{
    FakePlatform platform;
    writeFile(skinFolder(platform) + QStringLiteral("/o.cjs"), "QWidget { color: red; }}} {");
    shell::Form1 form(platform);
    form.Form_Load();
    QCOMPARE(platform.box.shown.size(), 1);
    QVERIFY(platform.box.shown.first().prompt.contains(QStringLiteral("at line 100\r\r")));
    QVERIFY(form.styleSheet().isEmpty());
    QCOMPARE(background(&form), kButtonFace);
    form.showCentred();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
}

void TestApplySkin::exampleSkinStylesTheWindow()
{
    FakePlatform platform;
    const QString source = QStringLiteral(LUMIVEX_EXAMPLE_SKIN "/x/");
    for (const QString &name : QDir(source).entryList(QDir::Files)) {
        QDir().mkpath(skinFolder(platform));
        QVERIFY(QFile::copy(source + name, skinFolder(platform) + QLatin1Char('/') + name));
    }
    shell::Form1 form(platform);
    form.Form_Load();
    QVERIFY(platform.box.shown.isEmpty());
    QVERIFY(form.styleSheet().contains(
        QStringLiteral("url(\"%1/stripes.png\")").arg(skinFolder(platform))));
    form.showCentred();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // The background is drawn from the skin, not from the layout or button face.
    const QImage shot = form.grab().toImage();
    const QColor corner = shot.pixelColor(2, 100);
    QVERIFY2(corner != kWhite && corner != kButtonFace, qPrintable(corner.name()));
}

QTEST_MAIN(TestApplySkin)
#include "test_applyskin.moc"
