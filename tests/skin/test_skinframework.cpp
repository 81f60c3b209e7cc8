#include "errors/failure.h"
#include "skin/skinframework.h"
#include "skin/skinsheet.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

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
    void rejectsCallsItDoesNotServe_data();
    void rejectsCallsItDoesNotServe();
    void appliesToTheWindowByHandle();
    void skinsLoadOrFail_data();
    void skinsLoadOrFail();
    void urlsResolveAgainstTheSkinFolder_data();
    void urlsResolveAgainstTheSkinFolder();
    void resultToInt32_data();
    void resultToInt32();

private:
    QString load(skin::SkinFramework &component, const QByteArray &bytes);

    QTemporaryDir m_dir;
};

// Writes o.cjs and asks the component to load it; gives the failure, if any.
QString TestSkinFramework::load(skin::SkinFramework &component, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(QStringLiteral("o.cjs"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    file.close();
    return failureOf([&] { component.invoke(2, CallKind::Method, {path, QString()}); });
}

void TestSkinFramework::rejectsCallsItDoesNotServe_data()
{
    QTest::addColumn<qint32>("id");
    QTest::addColumn<CallKind>("kind");
    QTest::addColumn<Args>("args");
    QTest::addColumn<QString>("reason");
    const QString kind = QStringLiteral("does not support a ");
    const QString count = QStringLiteral("argument(s), not ");
    const QString type = QStringLiteral("needs ");
    const QString path = QStringLiteral("/o.cjs");
    QTest::newRow("id 4") << 4 << CallKind::PropertyGet << Args{} << "does not exist";
    QTest::newRow("load as get") << 2 << CallKind::PropertyGet << Args{} << kind;
    QTest::newRow("flags put, no value") << 1 << CallKind::PropertyPut << Args{} << count;
    QTest::newRow("load, one argument") << 2 << CallKind::Method << Args{path} << count;
    QTest::newRow("flags put Boolean") << 1 << CallKind::PropertyPut << Args{true} << type;
    QTest::newRow("switch put integer") << 5 << CallKind::PropertyPut << Args{qint32{-1}} << type;
    QTest::newRow("apply text handle")
        << 3 << CallKind::Method << Args{QStringLiteral("1")} << type;
    QTest::newRow("load with a section")
        << 2 << CallKind::Method << Args{path, QStringLiteral("Dark")} << "section must be empty";
}

void TestSkinFramework::rejectsCallsItDoesNotServe()
{
    QFETCH(qint32, id);
    QFETCH(CallKind, kind);
    QFETCH(Args, args);
    QFETCH(QString, reason);
    skin::SkinFramework component;
    const QString failure = failureOf([&] { component.invoke(id, kind, args); });
    QVERIFY2(failure.startsWith(QStringLiteral("SkinFramework1: member %1 ").arg(id))
                 && failure.contains(reason),
             qPrintable(failure));
}

void TestSkinFramework::appliesToTheWindowByHandle()
{
    QWidget other;
    QWidget window;
    window.setObjectName(QStringLiteral("skinned"));
    const auto handle = static_cast<qint32>(window.winId());
    const auto apply = [](skin::SkinFramework &component, qint32 id) {
        return failureOf([&] { component.invoke(3, CallKind::Method, {id}); });
    };
    skin::SkinFramework component;
    QVERIFY(apply(component, handle).contains(QStringLiteral("no skin loaded")));
    QCOMPARE(load(component, kGoodSheet), QString());
    QVERIFY(apply(component, qint32(other.winId()) + 1000).contains(QStringLiteral("no window")));
    QVERIFY(window.styleSheet().isEmpty());

    QCOMPARE(apply(component, handle), QString());
    QCOMPARE(component.skinnedWindow(), &window);
    QCOMPARE(window.styleSheet(), QString::fromUtf8(kGoodSheet));
    QVERIFY(other.styleSheet().isEmpty());
}

// Rows with a reason must fail the load and forget the skin loaded before.
void TestSkinFramework::skinsLoadOrFail_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    const QString parse = QStringLiteral("cannot parse");
    const QString property = QStringLiteral("qproperty-");
    QTest::newRow("empty") << QByteArray() << "empty";
    QTest::newRow("huge") << QByteArray("/*") + QByteArray(skin::MaxSkinBytes, 'x')
                          << "larger than";
    QTest::newRow("NUL") << QByteArray("QWidget { color: red; }\0", 24) << "not a text file";
    QTest::newRow("not UTF-8") << QByteArray("QWidget { color: r\xe9"
                                             "d; }")
                               << "not UTF-8";
    QTest::newRow("unbalanced braces") << QByteArray("QWidget { color: red; }}} {") << parse;
    // Each unclosed url( must not make the reference search scan the rest again.
    QTest::newRow("many unclosed url(") << "url(\"" + QByteArray("url(").repeated(200000) << parse;
    QTest::newRow("QProperty-") << QByteArray("QLabel { QProperty-text: \"x\"; }") << property;
    QTest::newRow("escaped letter")
        << QByteArray("QLabel { qpr\\operty-text: \"x\"; }") << property;
    // Hex escapes as Qt decodes them: any case, up to six digits, inside the name.
    QTest::newRow("hex escape") << QByteArray("QPushButton { \\71property-text: \"x\"; }")
                                << property;
    QTest::newRow("six-digit escape")
        << QByteArray("QPushButton { \\000071property-enabled: false; }") << property;
    QTest::newRow("escape, upper case")
        << QByteArray("QComboBox { \\51PROPERTY-currentIndex: 1; }") << property;
    QTest::newRow("escape inside the name")
        << QByteArray("QLabel { qp\\72o\\70\\45rty-text: \"x\"; }") << property;
    QTest::newRow("escaped backslash before an escape")
        << QByteArray("QLabel { \\5C\\71property-text: \"x\"; }") << property;
    // Plain CSS takes the space after the digits as part of the escape.
    QTest::newRow("escape and a space")
        << QByteArray("QLabel { \\71 property-text: \"x\"; }") << property;
    // Qt would take a pass over the whole sheet for each of them.
    QTest::newRow("too many escaped backslashes")
        << QByteArray("/*") + QByteArray("\\00005C41").repeated(skin::MaxHexEscapes + 1) + "*/"
        << "backslashes before hex digits";
    QTest::newRow("byte order mark") << QByteArray("\xef\xbb\xbf") + kGoodSheet << QString();
    QTest::newRow("unknown property, missing image")
        << QByteArray("QWidget { sparkle: 3; background-image: url(none.png); }") << QString();
    QTest::newRow("exactly the largest size")
        << kGoodSheet + "/*" + QByteArray(skin::MaxSkinBytes - kGoodSheet.size() - 4, 'x') + "*/"
        << QString();
}

void TestSkinFramework::skinsLoadOrFail()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    skin::SkinFramework component;
    QCOMPARE(load(component, kGoodSheet), QString());
    const QString failure = load(component, content);
    QCOMPARE(component.hasSkin(), reason.isEmpty());
    QVERIFY2(failure.contains(reason, Qt::CaseInsensitive), qPrintable(failure));
    if (reason.isEmpty()) {
        QVERIFY(!component.styleSheet().startsWith(QChar(0xFEFF)));
        if (content.contains("url("))
            QVERIFY(component.styleSheet().contains(m_dir.filePath(QStringLiteral("none.png"))));
    } else {
        QVERIFY(
            failure.contains(QDir::toNativeSeparators(m_dir.filePath(QStringLiteral("o.cjs")))));
    }
}

void TestSkinFramework::urlsResolveAgainstTheSkinFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("qtPath"); // the file Qt then looks for
    const QString x = QStringLiteral("/skins/x");
    QTest::newRow("bare, quoted with spaces") << x << "url(a.png) url( 'b c.png' )"
                                              << R"(url("/skins/x/a.png") url("/skins/x/b c.png"))"
                                              << "/skins/x/a.png";
    QTest::newRow("upper case, parent, escaped quote") << x << R"(URL("../q\"t.png"))"
                                                       << R"(url("/skins/q\"t.png"))"
                                                       << R"(/skins/q"t.png)";
#ifndef Q_OS_WIN
    // Without a drive letter a Windows path is not absolute.
    QTest::newRow("absolute, resource, scheme-like")
        << x << "url(/abs/f.png) url(:/g.png) url(file:h.png)"
        << R"(url("/abs/f.png") url(":/g.png") url("/skins/x/file:h.png"))"
        << "/abs/f.png";
#endif
    QTest::newRow("hex escapes in the reference")
        << x << R"x(url(\61\2Epng) /* url(b.png) */ "url(c.png)")x"
        << R"x(url("/skins/x/a.png") /* url(b.png) */ "url(c.png)")x"
        << "/skins/x/a.png";
#ifndef Q_OS_WIN
    // On Windows a backslash separates folders; it is never part of a name.
    QTest::newRow("folder with a quote and a backslash") << R"(/we"ird\slash)"
                                                         << "url(a.png)"
                                                         << R"(url("/we\"ird\\slash/a.png"))"
                                                         << R"(/we"ird\slash/a.png)";
    // Qt decodes a backslash and hex digits even after another backslash.
    QTest::newRow("folder with a backslash before hex digits")
        << R"(/back\41hex)"
        << "url(a.png)"
        << R"(url("/back\\00005C41hex/a.png"))"
        << R"(/back\41hex/a.png)";
    // Named among Qt's resources instead, so that no file is opened.
    QTest::newRow("device") << "/dev"
                            << "url(null)"
                            << R"(url(":/dev/null"))"
                            << ":/dev/null";
    QTest::newRow("kernel file, shown as empty") << "/proc/self"
                                                 << "url(status)"
                                                 << R"(url(":/proc/self/status"))"
                                                 << ":/proc/self/status";
#endif
}

void TestSkinFramework::urlsResolveAgainstTheSkinFolder()
{
    QFETCH(QString, folder);
    QFETCH(QString, sheet);
    QFETCH(QString, expected);
    QFETCH(QString, qtPath);
    const QString resolved = skin::resolveUrls(sheet, folder);
    QCOMPARE(resolved, expected);

    // Qt reads the rewritten reference as the intended file (none of these
    // exist), and the parse check gives the message handler back.
    const QString rule = QStringLiteral("QWidget { background-image: %1; }").arg(resolved);
    messageSeen.clear();
    const QtMessageHandler before = qInstallMessageHandler(&recordMessage);
    const QString warning = skin::parseWarning(rule);
    const QString pixmapMessage = messageSeen;
    qWarning("after the check");
    qInstallMessageHandler(before);
    QVERIFY2(warning.isEmpty(), qPrintable(rule));
    QCOMPARE(pixmapMessage,
             QStringLiteral("Could not create pixmap from ") + QDir::toNativeSeparators(qtPath));
    QCOMPARE(messageSeen, QStringLiteral("after the check"));
}

void TestSkinFramework::resultToInt32_data()
{
    // A call's result as a 32-bit integer, or the failure's description.
    QTest::addColumn<skin::Variant>("result");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("nothing") << skin::Variant() << QVariant(0);
    QTest::newRow("true") << skin::Variant(true) << QVariant(-1);
    QTest::newRow("integer") << skin::Variant(qint32(-7)) << QVariant(-7);
    QTest::newRow("2.5 to even") << skin::Variant(QStringLiteral(" 2.5 ")) << QVariant(2);
    QTest::newRow("-3.5 to even") << skin::Variant(QStringLiteral("-3.5")) << QVariant(-4);
    QTest::newRow("lowest, rounded into range")
        << skin::Variant(QStringLiteral("-2147483648.5")) << QVariant(-2147483647 - 1);
    QTest::newRow("highest") << skin::Variant(QStringLiteral("2147483647"))
                             << QVariant(2147483647);
    QTest::newRow("rounds out of range")
        << skin::Variant(QStringLiteral("2147483647.5")) << QVariant(QStringLiteral("Overflow"));
    QTest::newRow("too large") << skin::Variant(QStringLiteral("2147483648"))
                               << QVariant(QStringLiteral("Overflow"));
    QTest::newRow("word") << skin::Variant(QStringLiteral("abc"))
                          << QVariant(QStringLiteral("Type mismatch"));
    QTest::newRow("empty") << skin::Variant(QString())
                           << QVariant(QStringLiteral("Type mismatch"));
    QTest::newRow("infinity") << skin::Variant(QStringLiteral("inf"))
                              << QVariant(QStringLiteral("Type mismatch"));
    QTest::newRow("group separator")
        << skin::Variant(QStringLiteral("1,000")) << QVariant(QStringLiteral("Type mismatch"));
}

void TestSkinFramework::resultToInt32()
{
    QFETCH(skin::Variant, result);
    QFETCH(QVariant, expected);
    try {
        QCOMPARE(QVariant(skin::toInt32(result)), expected);
    } catch (const errors::Failure &failure) {
        QCOMPARE(QVariant(failure.description()), expected);
    }
}

QTEST_MAIN(TestSkinFramework)
#include "test_skinframework.moc"
