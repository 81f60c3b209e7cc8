#include "failure.h"
#include "skinframework.h"
#include "skinsheet.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <sys/stat.h>

using skin::CallKind;
using skin::Variant;
using Args = QList<Variant>;

Q_DECLARE_METATYPE(skin::Variant)
Q_DECLARE_METATYPE(skin::CallKind)

namespace {

const QByteArray kGoodSheet = "QWidget#skinned { background-color: #102030; }";

QString failureOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const errors::Failure &failure) {
        return failure.description();
    }
    return QString();
}

QString invokeFailure(skin::SkinFramework &component, qint32 id, CallKind kind, const Args &args)
{
    return failureOf([&] { component.Invoke(id, kind, args); });
}

QString messageSeen;
void recordMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    messageSeen = message;
}

} // namespace

class TestSkinFramework : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void optionFlagsKeepWhatIsWritten();
    void switchesKeepWhatIsWritten_data();
    void switchesKeepWhatIsWritten();
    void rejectsCallsItDoesNotServe_data();
    void rejectsCallsItDoesNotServe();

    void loadsAndAppliesToTheWindowByHandle();
    void applyNeedsAKnownWindowAndASkin();
    void unusableSkinsFailTheLoad_data();
    void unusableSkinsFailTheLoad();
    void failedLoadForgetsTheEarlierSkin();
    void usableSkinsLoad_data();
    void usableSkinsLoad();

    void urlsResolveAgainstTheSkinFolder_data();
    void urlsResolveAgainstTheSkinFolder();
    void parseCheckGivesBackTheMessageHandler();

    void resultConvertsToInt32_data();
    void resultConvertsToInt32();

private:
    QString writeSkin(const QByteArray &bytes);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSkinFramework::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString TestSkinFramework::writeSkin(const QByteArray &bytes)
{
    const QString path = m_dir->filePath(QStringLiteral("o.cjs"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return path;
}

void TestSkinFramework::optionFlagsKeepWhatIsWritten()
{
    skin::SkinFramework component;
    QVERIFY(component.Invoke(1, CallKind::PropertyGet, {}) == Variant{qint32{0}});
    for (qint32 flags : {qint32{1}, qint32(0x80000041u), qint32{-1}, qint32{0}}) {
        QVERIFY(component.Invoke(1, CallKind::PropertyPut, {flags}) == Variant{});
        QVERIFY(component.Invoke(1, CallKind::PropertyGet, {}) == Variant{flags});
    }
}

void TestSkinFramework::switchesKeepWhatIsWritten_data()
{
    QTest::addColumn<qint32>("id");
    QTest::addColumn<qint32>("otherId");
    QTest::newRow("5") << 5 << 10;
    QTest::newRow("10") << 10 << 5;
}

void TestSkinFramework::switchesKeepWhatIsWritten()
{
    QFETCH(qint32, id);
    QFETCH(qint32, otherId);
    skin::SkinFramework component;
    QVERIFY(component.Invoke(id, CallKind::PropertyGet, {}) == Variant{false});
    component.Invoke(id, CallKind::PropertyPut, {true});
    QVERIFY(component.Invoke(id, CallKind::PropertyGet, {}) == Variant{true});
    QVERIFY(component.Invoke(otherId, CallKind::PropertyGet, {}) == Variant{false});
    component.Invoke(id, CallKind::PropertyPut, {false});
    QVERIFY(component.Invoke(id, CallKind::PropertyGet, {}) == Variant{false});
}

void TestSkinFramework::rejectsCallsItDoesNotServe_data()
{
    QTest::addColumn<qint32>("id");
    QTest::addColumn<CallKind>("kind");
    QTest::addColumn<Args>("args");
    QTest::addColumn<QString>("reason");
    const QString none = QStringLiteral("does not exist");
    const QString kind = QStringLiteral("does not support a ");
    const QString count = QStringLiteral("argument(s), not ");
    const QString type = QStringLiteral("needs ");
    const Args path{QStringLiteral("/nowhere/o.cjs"), QString()};

    QTest::newRow("id 0") << 0 << CallKind::Method << Args{} << none;
    QTest::newRow("id 4") << 4 << CallKind::PropertyGet << Args{} << none;
    QTest::newRow("id -1") << -1 << CallKind::Method << Args{} << none;
    QTest::newRow("load as get") << 2 << CallKind::PropertyGet << Args{} << kind;
    QTest::newRow("load as put") << 2 << CallKind::PropertyPut << path << kind;
    QTest::newRow("apply as put") << 3 << CallKind::PropertyPut << Args{qint32{1}} << kind;
    QTest::newRow("flags as method") << 1 << CallKind::Method << Args{} << kind;
    QTest::newRow("switch as method") << 5 << CallKind::Method << Args{true} << kind;
    QTest::newRow("flags put, no value") << 1 << CallKind::PropertyPut << Args{} << count;
    QTest::newRow("flags get with a value")
        << 1 << CallKind::PropertyGet << Args{qint32{1}} << count;
    QTest::newRow("load, one argument")
        << 2 << CallKind::Method << Args{QStringLiteral("/o.cjs")} << count;
    QTest::newRow("apply, two arguments")
        << 3 << CallKind::Method << Args{qint32{1}, qint32{2}} << count;
    QTest::newRow("flags put Boolean") << 1 << CallKind::PropertyPut << Args{true} << type;
    QTest::newRow("switch put integer") << 5 << CallKind::PropertyPut << Args{qint32{-1}} << type;
    QTest::newRow("switch put text")
        << 10 << CallKind::PropertyPut << Args{QStringLiteral("True")} << type;
    QTest::newRow("load integer path")
        << 2 << CallKind::Method << Args{qint32{1}, QString()} << type;
    QTest::newRow("load nothing as section")
        << 2 << CallKind::Method << Args{QStringLiteral("/o.cjs"), Variant{}} << type;
    QTest::newRow("apply text handle")
        << 3 << CallKind::Method << Args{QStringLiteral("1")} << type;
    QTest::newRow("load with a section")
        << 2 << CallKind::Method << Args{QStringLiteral("/o.cjs"), QStringLiteral("Dark")}
        << QStringLiteral("section must be empty");
}

void TestSkinFramework::rejectsCallsItDoesNotServe()
{
    QFETCH(qint32, id);
    QFETCH(CallKind, kind);
    QFETCH(Args, args);
    QFETCH(QString, reason);
    skin::SkinFramework component;
    const QString failure = invokeFailure(component, id, kind, args);
    QVERIFY2(failure.startsWith(QStringLiteral("SkinFramework1: member %1 ").arg(id)),
             qPrintable(failure));
    QVERIFY2(failure.contains(reason), qPrintable(failure));
}

void TestSkinFramework::loadsAndAppliesToTheWindowByHandle()
{
    QWidget other;
    QWidget window;
    window.setObjectName(QStringLiteral("skinned"));
    other.winId();
    skin::SkinFramework component;
    component.Invoke(2, CallKind::Method, {writeSkin(kGoodSheet), QString()});
    QVERIFY(component.hasSkin());
    QVERIFY(window.styleSheet().isEmpty());

    component.Invoke(3, CallKind::Method, {static_cast<qint32>(window.winId())});
    QCOMPARE(component.skinnedWindow(), &window);
    QCOMPARE(window.styleSheet(), QString::fromUtf8(kGoodSheet));
    QVERIFY(other.styleSheet().isEmpty());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.grab().toImage().pixelColor(5, 5), QColor(0x10, 0x20, 0x30));
}

void TestSkinFramework::applyNeedsAKnownWindowAndASkin()
{
    QWidget window;
    const auto handle = static_cast<qint32>(window.winId());
    skin::SkinFramework component;
    QVERIFY(invokeFailure(component, 3, CallKind::Method, {handle})
                .contains(QStringLiteral("no skin loaded")));
    component.Invoke(2, CallKind::Method, {writeSkin(kGoodSheet), QString()});
    for (qint32 unknown : {qint32{0}, handle + 1000, qint32{-1}})
        QVERIFY(invokeFailure(component, 3, CallKind::Method, {unknown})
                    .contains(QStringLiteral("no window with the handle")));
    QVERIFY(window.styleSheet().isEmpty());
}

void TestSkinFramework::unusableSkinsFailTheLoad_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("special");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << QByteArray() << QStringLiteral("missing")
                             << QStringLiteral("no such file");
    QTest::newRow("folder") << QByteArray() << QStringLiteral("folder")
                            << QStringLiteral("no such file");
    QTest::newRow("pipe") << QByteArray() << QStringLiteral("pipe")
                          << QStringLiteral("no such file");
    QTest::newRow("empty") << QByteArray() << QString() << QStringLiteral("empty");
    QTest::newRow("blank") << QByteArray(" \n\t\r\n") << QString() << QStringLiteral("empty");
    QTest::newRow("huge") << QByteArray("/*") + QByteArray(skin::MaxSkinBytes, 'x') << QString()
                          << QStringLiteral("larger than");
    QTest::newRow("NUL") << QByteArray("QWidget { color: red; }\0", 24) << QString()
                         << QStringLiteral("not a text file");
    QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\x00\x00", 10) << QString()
                            << QStringLiteral("not a text file");
    QTest::newRow("not UTF-8") << QByteArray("QWidget { color: r\xe9"
                                             "d; }")
                               << QString() << QStringLiteral("not UTF-8");
    QTest::newRow("UTF-16") << QByteArray("\xff\xfeQ\0W\0", 6) << QString()
                            << QStringLiteral("not a text file");
    QTest::newRow("unbalanced braces") << QByteArray("QWidget { color: red; }}} {") << QString()
                                       << QStringLiteral("cannot parse");
    QTest::newRow("unclosed block")
        << QByteArray("QWidget { color: red;") << QString() << QStringLiteral("cannot parse");
    QTest::newRow("stray closing brace")
        << QByteArray("} QWidget { color: red; }") << QString() << QStringLiteral("cannot parse");
    // Each unclosed url( must not make the reference search scan the rest again.
    QTest::newRow("many unclosed url(")
        << QByteArray("url(\"") + QByteArray("url(").repeated(200000) << QString()
        << QStringLiteral("cannot parse");
    QTest::newRow("qproperty-") << QByteArray("QWidget { qproperty-enabled: false; }") << QString()
                                << QStringLiteral("qproperty-");
    QTest::newRow("QPROPERTY-") << QByteArray("QLabel { QProperty-text: \"x\"; }") << QString()
                                << QStringLiteral("qproperty-");
    QTest::newRow("escaped qproperty-") << QByteArray("QLabel { qpr\\operty-text: \"x\"; }")
                                        << QString() << QStringLiteral("qproperty-");
}

void TestSkinFramework::unusableSkinsFailTheLoad()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, special);
    QFETCH(QString, reason);
    QString path = m_dir->filePath(QStringLiteral("o.cjs"));
    if (special == QStringLiteral("folder"))
        QVERIFY(QDir().mkpath(path));
    else if (special == QStringLiteral("pipe"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    else if (special.isEmpty())
        path = writeSkin(content);

    skin::SkinFramework component;
    const QString failure = invokeFailure(component, 2, CallKind::Method, {path, QString()});
    QVERIFY2(failure.contains(reason, Qt::CaseInsensitive), qPrintable(failure));
    QVERIFY(failure.contains(QDir::toNativeSeparators(path)));
    QVERIFY(!component.hasSkin());
}

void TestSkinFramework::failedLoadForgetsTheEarlierSkin()
{
    skin::SkinFramework component;
    component.Invoke(2, CallKind::Method, {writeSkin(kGoodSheet), QString()});
    QVERIFY(component.hasSkin());
    const QString broken = writeSkin("QWidget {");
    QVERIFY(!invokeFailure(component, 2, CallKind::Method, {broken, QString()}).isEmpty());
    QVERIFY(!component.hasSkin());
}

void TestSkinFramework::usableSkinsLoad_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("plain") << kGoodSheet;
    QTest::newRow("byte order mark") << QByteArray("\xef\xbb\xbf") + kGoodSheet;
    QTest::newRow("non-ASCII comment")
        << QByteArray("/* caf\xc3\xa9 \xe2\x98\x80 */") + kGoodSheet;
    QTest::newRow("unknown property") << QByteArray("QWidget { sparkle: 3; }");
    QTest::newRow("missing image") << QByteArray("QWidget { background-image: url(none.png); }");
    QTest::newRow("declarations only") << QByteArray("color: red;");
    QTest::newRow("exactly the largest size")
        << kGoodSheet + QByteArray("/*")
               + QByteArray(skin::MaxSkinBytes - kGoodSheet.size() - 4, 'x') + QByteArray("*/");
}

void TestSkinFramework::usableSkinsLoad()
{
    QFETCH(QByteArray, content);
    skin::SkinFramework component;
    component.Invoke(2, CallKind::Method, {writeSkin(content), QString()});
    QVERIFY(component.hasSkin());
    QVERIFY(!component.styleSheet().startsWith(QChar(0xFEFF)));
}

void TestSkinFramework::urlsResolveAgainstTheSkinFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("qtPath"); // the file Qt then looks for
    const QString folder = QStringLiteral("/skins/x");
    QTest::newRow("bare") << folder << QStringLiteral("url(a.png)")
                          << QStringLiteral("url(\"/skins/x/a.png\")")
                          << QStringLiteral("/skins/x/a.png");
    QTest::newRow("single quotes, spaces")
        << folder << QStringLiteral("url( 'b c.png' )")
        << QStringLiteral("url(\"/skins/x/b c.png\")") << QStringLiteral("/skins/x/b c.png");
    QTest::newRow("double quotes, subfolder")
        << folder << QStringLiteral("url(\"sub/d.png\")")
        << QStringLiteral("url(\"/skins/x/sub/d.png\")") << QStringLiteral("/skins/x/sub/d.png");
    QTest::newRow("upper case, parent")
        << folder << QStringLiteral("URL(../e.png)") << QStringLiteral("url(\"/skins/e.png\")")
        << QStringLiteral("/skins/e.png");
    QTest::newRow("escaped quote")
        << folder << QStringLiteral("url(\"q\\\"t.png\")")
        << QStringLiteral("url(\"/skins/x/q\\\"t.png\")") << QStringLiteral("/skins/x/q\"t.png");
    QTest::newRow("two") << folder << QStringLiteral("url(a.png) url(b.png)")
                         << QStringLiteral("url(\"/skins/x/a.png\") url(\"/skins/x/b.png\")")
                         << QStringLiteral("/skins/x/a.png");
    QTest::newRow("absolute kept")
        << folder << QStringLiteral("url(/abs/f.png)") << QStringLiteral("url(/abs/f.png)")
        << QStringLiteral("/abs/f.png");
    QTest::newRow("resource kept")
        << folder << QStringLiteral("url(:/icons/g.png)") << QStringLiteral("url(:/icons/g.png)")
        << QStringLiteral(":/icons/g.png");
    QTest::newRow("scheme kept") << folder << QStringLiteral("url(file:h.png)")
                                 << QStringLiteral("url(file:h.png)")
                                 << QStringLiteral("file:h.png");
    QTest::newRow("empty kept") << folder << QStringLiteral("url()") << QStringLiteral("url()")
                                << QString();
    QTest::newRow("folder with a quote")
        << QStringLiteral("/we\"ird") << QStringLiteral("url(a.png)")
        << QStringLiteral("url(\"/we\\\"ird/a.png\")") << QStringLiteral("/we\"ird/a.png");
    QTest::newRow("folder with a backslash")
        << QStringLiteral("/back\\slash") << QStringLiteral("url(a.png)")
        << QStringLiteral("url(\"/back\\\\slash/a.png\")") << QStringLiteral("/back\\slash/a.png");
}

void TestSkinFramework::urlsResolveAgainstTheSkinFolder()
{
    QFETCH(QString, folder);
    QFETCH(QString, sheet);
    QFETCH(QString, expected);
    QFETCH(QString, qtPath);
    const QString resolved = skin::resolveUrls(sheet, folder);
    QCOMPARE(resolved, expected);

    // Qt reads the rewritten reference as the intended file (none of these exist).
    const QString rule = QStringLiteral("QWidget { background-image: %1; }").arg(resolved);
    messageSeen.clear();
    const QtMessageHandler before = qInstallMessageHandler(&recordMessage);
    const QString warning = skin::parseWarning(rule);
    qInstallMessageHandler(before);
    QVERIFY2(warning.isEmpty(), qPrintable(rule));
    if (!qtPath.isEmpty())
        QCOMPARE(messageSeen, QStringLiteral("Could not create pixmap from ") + qtPath);
}

void TestSkinFramework::parseCheckGivesBackTheMessageHandler()
{
    const QtMessageHandler before = qInstallMessageHandler(&recordMessage);
    QVERIFY(!skin::parseWarning(QStringLiteral("QWidget {")).isEmpty());
    QVERIFY(skin::parseWarning(QString::fromUtf8(kGoodSheet)).isEmpty());
    messageSeen.clear();
    qWarning("after the check");
    qInstallMessageHandler(before);
    QCOMPARE(messageSeen, QStringLiteral("after the check"));
}

void TestSkinFramework::resultConvertsToInt32_data()
{
    QTest::addColumn<Variant>("value");
    QTest::addColumn<qint32>("expected");
    QTest::addColumn<QString>("failure");
    QTest::newRow("nothing") << Variant{} << 0 << QString();
    QTest::newRow("true") << Variant{true} << -1 << QString();
    QTest::newRow("false") << Variant{false} << 0 << QString();
    QTest::newRow("integer") << Variant{qint32{-7}} << -7 << QString();
    QTest::newRow("text") << Variant{QStringLiteral(" 12 ")} << 12 << QString();
    QTest::newRow("half to even down") << Variant{QStringLiteral("2.5")} << 2 << QString();
    QTest::newRow("half to even up") << Variant{QStringLiteral("3.5")} << 4 << QString();
    QTest::newRow("largest") << Variant{QStringLiteral("2147483647")} << 2147483647 << QString();
    QTest::newRow("too large") << Variant{QStringLiteral("2147483648")} << 0
                               << QStringLiteral("Overflow");
    QTest::newRow("too small") << Variant{QStringLiteral("-1e10")} << 0
                               << QStringLiteral("Overflow");
    QTest::newRow("empty text") << Variant{QString()} << 0 << QStringLiteral("Type mismatch");
    QTest::newRow("words") << Variant{QStringLiteral("abc")} << 0
                           << QStringLiteral("Type mismatch");
    QTest::newRow("infinity") << Variant{QStringLiteral("inf")} << 0
                              << QStringLiteral("Type mismatch");
}

void TestSkinFramework::resultConvertsToInt32()
{
    QFETCH(Variant, value);
    QFETCH(qint32, expected);
    QFETCH(QString, failure);
    qint32 result = 0;
    QCOMPARE(failureOf([&] { result = skin::toInt32(value); }), failure);
    QCOMPARE(result, expected);
}

QTEST_MAIN(TestSkinFramework)
#include "test_skinframework.moc"
