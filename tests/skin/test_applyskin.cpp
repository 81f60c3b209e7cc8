#include "errors/failure.h"
#include "fakeplatform.h"
#include "shell/mainwindow.h"
#include "skin/applyskin.h"
#include "skin/dispatch.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QTest>

#include <sys/stat.h>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using skin::CallKind;
using skin::Variant;

Q_DECLARE_METATYPE(skin::Variant)

namespace {

const QColor kButtonFace(0x12, 0x34, 0x56);

QColor background(const QWidget *widget)
{
    return widget->palette().color(QPalette::Active, QPalette::Window);
}

bool takesButtonFace(const QWidget *widget)
{
    return background(widget) == kButtonFace && widget->autoFillBackground();
}

// The inside of both frames as drawn, left and right of their lists and below
// them, shows the window's own colour: no wash of the style's.
QString framesInsideOtherThan(const QWidget &form, const QColor &colour)
{
    QString found;
    for (const char *name : {"Frame3", "Frame4"}) {
        auto *frame = form.findChild<QWidget *>(QString::fromLatin1(name));
        const QImage image = frame->grab().toImage();
        const int middle = frame->height() * 2 / 3;
        for (const QPoint at : {QPoint(4, middle), QPoint(frame->width() - 6, middle),
                                QPoint(frame->width() / 2, frame->height() - 5)}) {
            if (image.pixelColor(at) != colour)
                found += QStringLiteral("%1 at %2,%3: %4; ")
                             .arg(QLatin1String(name))
                             .arg(at.x())
                             .arg(at.y())
                             .arg(image.pixelColor(at).name());
        }
    }
    return found;
}

// The skin file's folder, x, beside the fake program.
QString skinFolder(const FakePlatform &platform)
{
    return platform.folder + QStringLiteral("/x");
}

void writeSkin(const FakePlatform &platform, const QByteArray &bytes = "QWidget {}",
               const QString &name = QStringLiteral("o.cjs"))
{
    QDir().mkpath(skinFolder(platform));
    QFile file(skinFolder(platform) + QLatin1Char('/') + name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Records every call, answers the option-flags get with flags and rejects the
// call numbered failAt (0-based).
struct RecordingDispatch final : skin::Dispatch
{
    struct Call
    {
        qint32 dispId = 0;
        CallKind kind = CallKind::Method;
        QList<Variant> args;
        bool operator==(const Call &other) const
        {
            return dispId == other.dispId && kind == other.kind && args == other.args;
        }
    };

    Variant invoke(qint32 dispId, CallKind kind, const QList<Variant> &args) override
    {
        calls.append({dispId, kind, args});
        if (calls.size() - 1 == failAt)
            throw errors::Failure(QStringLiteral("The component rejected the call"));
        return dispId == 1 && kind == CallKind::PropertyGet ? flags : Variant{};
    }

    QList<Call> calls;
    Variant flags = qint32{0};
    qsizetype failAt = -1;
};

} // namespace

class TestApplySkin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void withoutSkinNothingHappens_data();
    void withoutSkinNothingHappens();
    void recolouredControls();
    void sixCallsInOrder_data();
    void sixCallsInOrder();
    void rejectedCallGivesOneReportAt100_data();
    void rejectedCallGivesOneReportAt100();
};

void TestApplySkin::initTestCase()
{
    // A button face unlike any layout colour, to see that it is the one used.
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Button, kButtonFace);
    QApplication::setPalette(palette);
}

void TestApplySkin::withoutSkinNothingHappens_data()
{
    QTest::addColumn<QString>("setup");
    QTest::newRow("no folder x") << QString();
    QTest::newRow("o.cjs is a folder") << QStringLiteral("folder");
#ifdef Q_OS_UNIX
    // Names that differ in case only are one name on Windows, and there are no pipes.
    QTest::newRow("only O.CJS in x") << QStringLiteral("upper case");
    QTest::newRow("o.cjs is a pipe") << QStringLiteral("pipe");
    QTest::newRow("o.cjs links to a device") << QStringLiteral("device link");
    QTest::newRow("o.cjs links to a pipe") << QStringLiteral("pipe link");
#endif
}

void TestApplySkin::withoutSkinNothingHappens()
{
    QFETCH(QString, setup);
    FakePlatform platform;
    const QByteArray skin = QFile::encodeName(skinFolder(platform) + QStringLiteral("/o.cjs"));
    if (setup == QStringLiteral("upper case"))
        writeSkin(platform, "QWidget {}", QStringLiteral("O.CJS"));
    else if (setup == QStringLiteral("folder"))
        QVERIFY(QDir().mkpath(QFile::decodeName(skin)));
#ifdef Q_OS_UNIX
    else if (setup == QStringLiteral("pipe"))
        QVERIFY(QDir().mkpath(skinFolder(platform)) && ::mkfifo(skin.constData(), 0644) == 0);
    else if (setup == QStringLiteral("device link"))
        QVERIFY(QDir().mkpath(skinFolder(platform))
                && ::symlink("/dev/zero", skin.constData()) == 0);
    else if (setup == QStringLiteral("pipe link")) {
        const QByteArray pipe = QFile::encodeName(platform.folder + QStringLiteral("/pipe"));
        QVERIFY(QDir().mkpath(skinFolder(platform)) && ::mkfifo(pipe.constData(), 0644) == 0);
        QVERIFY(::symlink(pipe.constData(), skin.constData()) == 0);
    }
#endif

    shell::MainWindow form(platform);
    RecordingDispatch component;
    skin::ApplySkin(form, component, platform.folder);
    QVERIFY(component.calls.isEmpty());
    QCOMPARE(background(&form), QColor(Qt::white));
    QCOMPARE(background(form.findChild<QGroupBox *>(QStringLiteral("Frame3"))), QColor(Qt::white));
    QCOMPARE(framesInsideOtherThan(form, Qt::white), QString());
}

// Frames, labels and option boxes take button face at any depth; lists, push
// buttons and windows owned by the form keep their look.
void TestApplySkin::recolouredControls()
{
    FakePlatform platform;
    writeSkin(platform);
    shell::MainWindow form(platform);
    form.setUp();
    auto *frame3 = form.findChild<QGroupBox *>(QStringLiteral("Frame3"));
    auto *frame4 = form.findChild<QGroupBox *>(QStringLiteral("Frame4"));
    auto *inner = new QGroupBox(frame3);
    const std::initializer_list<const QWidget *> recoloured{&form,
                                                            frame3,
                                                            frame4,
                                                            inner,
                                                            new QLabel(inner),
                                                            new QRadioButton(inner),
                                                            new QCheckBox(frame4)};
    QList<QWidget *> kept{new QComboBox(inner), new QLabel(&form, Qt::Popup)};
    for (const char *name : {"Combo1", "Combo2", "PushButton1", "PushButton2"})
        kept.append(form.findChild<QWidget *>(QString::fromLatin1(name)));
    QList<QImage> before;
    for (QWidget *control : kept)
        before.append(control->grab().toImage());

    RecordingDispatch component;
    skin::ApplySkin(form, component, platform.folder);
    for (const QWidget *control : recoloured)
        QVERIFY2(takesButtonFace(control), control->metaObject()->className());
    for (qsizetype i = 0; i < kept.size(); ++i) {
        QVERIFY2(kept[i]->grab().toImage() == before[i], kept[i]->metaObject()->className());
        QVERIFY(!kept[i]->autoFillBackground());
    }
    delete inner;
    qDeleteAll(frame4->findChildren<QCheckBox *>());
    QCOMPARE(framesInsideOtherThan(form, kButtonFace), QString());
}

void TestApplySkin::sixCallsInOrder_data()
{
    QTest::addColumn<Variant>("read");
    QTest::addColumn<qint32>("written");
    QTest::newRow("none") << Variant{qint32{0}} << qint32{1};
    QTest::newRow("bit 0 already set") << Variant{qint32{1}} << qint32{1};
    QTest::newRow("other bits kept") << Variant{qint32{0x46}} << qint32{0x47};
    QTest::newRow("top bit") << Variant{qint32(0x80000000u)} << qint32(0x80000001u);
    QTest::newRow("nothing") << Variant{} << qint32{1};
    QTest::newRow("true") << Variant{true} << qint32{-1};
    QTest::newRow("text, rounded") << Variant{QStringLiteral(" 3.5 ")} << qint32{5};
}

void TestApplySkin::sixCallsInOrder()
{
    QFETCH(Variant, read);
    QFETCH(qint32, written);
    FakePlatform platform;
    writeSkin(platform);
    shell::MainWindow form(platform);
    RecordingDispatch component;
    component.flags = read;
    skin::ApplySkin(form, component, platform.folder);

    const QString path = platform.folder + QDir::toNativeSeparators(QStringLiteral("/x/o.cjs"));
    const QList<RecordingDispatch::Call> expected{
        {2, CallKind::Method, {path, QString()}},
        {1, CallKind::PropertyGet, {}},
        {1, CallKind::PropertyPut, {written}},
        {5, CallKind::PropertyPut, {true}},
        {10, CallKind::PropertyPut, {true}},
        {3, CallKind::Method, {static_cast<qint32>(form.winId())}},
    };
    QVERIFY(component.calls == expected);
}

void TestApplySkin::rejectedCallGivesOneReportAt100_data()
{
    QTest::addColumn<int>("failAt");
    for (int call = 0; call < 6; ++call)
        QTest::addRow("call %d", call + 1) << call;
}

// The skin stops at the rejected call and start-up carries on.
void TestApplySkin::rejectedCallGivesOneReportAt100()
{
    QFETCH(int, failAt);
    FakePlatform platform;
    writeSkin(platform);
    shell::MainWindow form(platform);
    RecordingDispatch component;
    component.failAt = failAt;
    form.setSkinFramework(&component);
    form.setUp();

    QCOMPARE(component.calls.size(), failAt + 1);
    QCOMPARE(platform.box.shown.size(), 1);
    const auto &report = platform.box.shown.first();
    QCOMPARE(report.title, std::optional<QString>(QStringLiteral("Application Error")));
    QVERIFY(report.prompt.startsWith(
        QStringLiteral("The component rejected the call\r\n"
                       "in Lumivex2021/08/31.Form1.Form_Load at line 100\r\r")));
    QCOMPARE(background(form.findChild<QGroupBox *>(QStringLiteral("Frame4"))), kButtonFace);
    QCOMPARE(form.windowTitle(), QStringLiteral("Lumivex Software"));
    QCOMPARE(form.findChild<QComboBox *>(QStringLiteral("Combo2"))->count(), 3);
}

QTEST_MAIN(TestApplySkin)
#include "test_applyskin.moc"
