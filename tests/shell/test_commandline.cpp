#include "shell/commandline.h"

#include <QTest>

using namespace Qt::StringLiterals;
using shell::Request;

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void requests_data();
    void requests();
    void unknownOptionsAreNamed();
    void fileOptionsRefused_data();
    void fileOptionsRefused();
    void noDisplayLine_data();
    void noDisplayLine();
    void refusedVariables_data();
    void refusedVariables();
};

void TestCommandLine::requests_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("request");
    const int window = int(Request::Window);
    const int help = int(Request::Help);
    const int version = int(Request::Version);
    QTest::newRow("none") << QStringList{} << window;
    QTest::newRow("--help") << QStringList{u"--help"_s} << help;
    QTest::newRow("-h") << QStringList{u"-h"_s} << help;
    QTest::newRow("--version") << QStringList{u"--version"_s} << version;
    QTest::newRow("-v") << QStringList{u"-v"_s} << version;
    QTest::newRow("plain arguments") << QStringList{u"party"_s, u"now"_s} << window;
    QTest::newRow("unknown option") << QStringList{u"--fullscreen"_s} << window;
    QTest::newRow("after a plain argument") << QStringList{u"x"_s, u"--help"_s} << help;
    QTest::newRow("first one wins") << QStringList{u"--version"_s, u"--help"_s} << version;
    QTest::newRow("after --") << QStringList{u"--"_s, u"--help"_s} << window;
    QTest::newRow("no prefix match")
        << QStringList{u"--helpme"_s, u"--versions"_s, u"-hv"_s} << window;
    QTest::newRow("value of a Qt option")
        << QStringList{u"-qwindowtitle"_s, u"--help"_s} << window;
    QTest::newRow("after a Qt option's value")
        << QStringList{u"-platform"_s, u"xcb"_s, u"--version"_s} << version;
}

void TestCommandLine::requests()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, request);
    QCOMPARE(int(shell::requestFor(arguments)), request);
}

void TestCommandLine::unknownOptionsAreNamed()
{
    QCOMPARE(
        shell::unknownOptions({u"plain"_s, u"-"_s, u"--full"_s, u"-x"_s, u"--"_s, u"--after"_s}),
        (QStringList{u"--full"_s, u"-x"_s}));
    QVERIFY(shell::usageText().startsWith(u"Usage: lumivex"));
    QVERIFY(shell::usageText().contains(u"--version"));
    QVERIFY(shell::versionText().startsWith(u"Lumivex "));
}

void TestCommandLine::fileOptionsRefused_data()
{
    // The arguments (without the program name), and the positions of those
    // taken out before Qt sees them.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QList<qsizetype>>("refused");
    using Positions = QList<qsizetype>;
    QTest::newRow("style sheet") << QStringList{u"-stylesheet"_s, u"a.qss"_s} << Positions{0, 1};
    QTest::newRow("style sheet, two dashes")
        << QStringList{u"x"_s, u"--stylesheet"_s, u"a.qss"_s} << Positions{1, 2};
    QTest::newRow("style sheet with =") << QStringList{u"-stylesheet=a.qss"_s} << Positions{0};
    QTest::newRow("style sheet with = inside another option")
        << QStringList{u"-x-stylesheet=a.qss"_s, u"-reverse"_s} << Positions{0};
    QTest::newRow("style sheet without a value") << QStringList{u"-stylesheet"_s} << Positions{0};
    QTest::newRow("window icon") << QStringList{u"-qwindowicon"_s, u"/dev/zero"_s}
                                 << Positions{0, 1};
    QTest::newRow("icon") << QStringList{u"-icon"_s, u"fifo"_s} << Positions{0, 1};
    QTest::newRow("plugin folder")
        << QStringList{u"-platformpluginpath"_s, u"/tmp"_s} << Positions{0, 1};
    QTest::newRow("platform naming a device")
        << QStringList{u"-platform"_s, u"linuxfb:fb=/dev/fb0"_s} << Positions{0, 1};
    QTest::newRow("plugin naming a device")
        << QStringList{u"-plugin"_s, u"evdevtouch:/dev/input/event3"_s} << Positions{0, 1};
    QTest::newRow("platform with a setting")
        << QStringList{u"-platform"_s, u"offscreen:configfile=pipe"_s} << Positions{0, 1};
    QTest::newRow("plain platform") << QStringList{u"-platform"_s, u"xcb"_s} << Positions{};
    QTest::newRow("style, geometry, title, reverse")
        << QStringList{u"-style"_s,      u"fusion"_s,   u"-qwindowgeometry"_s,
                       u"100x100+0+0"_s, u"-title"_s,   u"window"_s,
                       u"-reverse"_s,    u"-session"_s, u"id"_s}
        << Positions{};
    // Qt takes -qwindowicon in a pass before -style's, and -title or -display
    // take no value off X11: these are read as options of their own.
    QTest::newRow("window icon as the value of -style")
        << QStringList{u"-style"_s, u"-qwindowicon"_s, u"/tmp/pipe"_s} << Positions{1, 2};
    QTest::newRow("style sheet as the value of -title")
        << QStringList{u"-title"_s, u"-stylesheet"_s, u"pipe"_s} << Positions{1, 2};
    QTest::newRow("style sheet as the value of -display")
        << QStringList{u"--display"_s, u"--stylesheet=a.qss"_s} << Positions{1};
    QTest::newRow("platform as the value of -session")
        << QStringList{u"-session"_s, u"-platform"_s, u"linuxfb:fb=/dev/fb0"_s} << Positions{1, 2};
    QTest::newRow("plain arguments") << QStringList{u"stylesheet"_s, u"a.qss"_s} << Positions{};
    // Platforms and plugins that open the network or devices, in every
    // spelling Qt reads: one or two dashes, any case, options after ':', and
    // a list Qt tries in turn.
    QTest::newRow("vnc") << QStringList{u"-platform"_s, u"vnc"_s} << Positions{0, 1};
    QTest::newRow("vnc, two dashes") << QStringList{u"--platform"_s, u"vnc"_s} << Positions{0, 1};
    QTest::newRow("vnc in capitals") << QStringList{u"-platform"_s, u"VNC"_s} << Positions{0, 1};
    QTest::newRow("vnc with a size")
        << QStringList{u"-platform"_s, u"vnc:size=800x600"_s} << Positions{0, 1};
    QTest::newRow("vnc with a port")
        << QStringList{u"-platform"_s, u"vnc:port=1"_s} << Positions{0, 1};
    QTest::newRow("vnc after xcb in a list")
        << QStringList{u"-platform"_s, u"xcb;vnc"_s} << Positions{0, 1};
    QTest::newRow("eglfs") << QStringList{u"-platform"_s, u"eglfs"_s} << Positions{0, 1};
    QTest::newRow("linuxfb") << QStringList{u"-platform"_s, u"linuxfb"_s} << Positions{0, 1};
    QTest::newRow("empty platform") << QStringList{u"-platform"_s, u""_s} << Positions{0, 1};
    QTest::newRow("platform with a space")
        << QStringList{u"-platform"_s, u" xcb"_s} << Positions{0, 1};
    QTest::newRow("touch plugin") << QStringList{u"-plugin"_s, u"tuiotouch"_s} << Positions{0, 1};
    QTest::newRow("plugin, two dashes")
        << QStringList{u"x"_s, u"--plugin"_s, u"evdevmouse"_s} << Positions{1, 2};
    QTest::newRow("plugin without a value") << QStringList{u"-plugin"_s} << Positions{0};
    QTest::newRow("testability") << QStringList{u"-testability"_s, u"x"_s} << Positions{0};
    QTest::newRow("testability, two dashes") << QStringList{u"--testability"_s} << Positions{0};
    QTest::newRow("plugin as the value of -title")
        << QStringList{u"-title"_s, u"-plugin"_s, u"tuiotouch"_s} << Positions{1, 2};
    QTest::newRow("display platforms")
        << QStringList{u"-platform"_s, u"wayland"_s,   u"--platform"_s, u"xcb"_s,
                       u"-platform"_s, u"XCB"_s,       u"-platform"_s,  u"wayland-egl"_s,
                       u"-platform"_s, u"offscreen"_s, u"-platform"_s,  u"minimal"_s,
                       u"-platform"_s, u"windows"_s,   u"-platform"_s,  u"wayland;xcb"_s}
        << Positions{};
}

void TestCommandLine::fileOptionsRefused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QList<qsizetype>, refused);
    QCOMPARE(shell::refusedArguments(arguments), refused);
    const QString line = shell::refusedLine({u"-stylesheet"_s, u"a.qss"_s});
    QVERIFY(line.startsWith(u"lumivex: refusing -stylesheet a.qss ("));
    QVERIFY(!line.contains(u'\n'));
}

void TestCommandLine::noDisplayLine_data()
{
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("wayland");
    QTest::addColumn<QString>("platform");
    QTest::addColumn<QString>("fatal");
    QTest::addColumn<QString>("reason");
    const QString loadFailed = u"Could not load the Qt platform plugin \"xcb\" in \"\" even "
                               u"though it was found.\n"_s;
    const QString notFound = u"Could not find the Qt platform plugin \"wayland\" in \"\"\nThis "
                             u"application failed to start because no Qt platform plugin could "
                             u"be initialized.\n"_s;
    QTest::newRow("nothing set") << u""_s << u""_s << u""_s << loadFailed
                                 << u"neither DISPLAY nor WAYLAND_DISPLAY is set"_s;
    QTest::newRow("X display") << u":7"_s << u""_s << u""_s << loadFailed
                               << u"the X display \":7\" could not be opened"_s;
    QTest::newRow("Wayland only") << u""_s << u"wayland-3"_s << u""_s << loadFailed
                                  << u"the Wayland display \"wayland-3\" could not be opened"_s;
    QTest::newRow("platform asked for") << u":7"_s << u""_s << u"wayland"_s << loadFailed
                                        << u"Qt's \"wayland\" platform could not be started"_s;
    QTest::newRow("no Wayland support")
        << u""_s << u"wayland-0"_s << u""_s << notFound
        << u"Qt's Wayland support is not installed (Debian: qt6-wayland)"_s;
}

void TestCommandLine::noDisplayLine()
{
    QFETCH(QString, display);
    QFETCH(QString, wayland);
    QFETCH(QString, platform);
    QFETCH(QString, fatal);
    QFETCH(QString, reason);
    const QString line
        = shell::noDisplayLine({display, wayland, platform}, shell::missingPluginIn(fatal));
    QVERIFY2(line.startsWith(u"lumivex: Lumivex needs a graphical display, and "),
             qPrintable(line));
    QVERIFY2(line.contains(reason), qPrintable(line));
    QVERIFY(!line.contains(u'\n'));
}

void TestCommandLine::refusedVariables_data()
{
    QTest::addColumn<QString>("platform");
    QTest::addColumn<QString>("genericPlugins");
    QTest::addColumn<QStringList>("refused");
    QTest::newRow("none") << u""_s << u""_s << QStringList{};
    QTest::newRow("xcb") << u"xcb"_s << u""_s << QStringList{};
    QTest::newRow("wayland then xcb") << u"wayland;xcb"_s << u""_s << QStringList{};
    QTest::newRow("offscreen") << u"offscreen"_s << u""_s << QStringList{};
    QTest::newRow("vnc") << u"vnc"_s << u""_s << QStringList{u"QT_QPA_PLATFORM=vnc"_s};
    QTest::newRow("xcb then vnc") << u"xcb;vnc:size=10x10"_s << u""_s
                                  << QStringList{u"QT_QPA_PLATFORM=xcb;vnc:size=10x10"_s};
    QTest::newRow("offscreen reading a file")
        << u"offscreen:configfile=/dev/zero"_s << u""_s
        << QStringList{u"QT_QPA_PLATFORM=offscreen:configfile=/dev/zero"_s};
    QTest::newRow("touch over UDP")
        << u"xcb"_s << u"tuiotouch"_s << QStringList{u"QT_QPA_GENERIC_PLUGINS=tuiotouch"_s};
}

void TestCommandLine::refusedVariables()
{
    QFETCH(QString, platform);
    QFETCH(QString, genericPlugins);
    QFETCH(QStringList, refused);
    QCOMPARE(shell::refusedVariables(platform, genericPlugins), refused);
}

QTEST_APPLESS_MAIN(TestCommandLine)
#include "test_commandline.moc"
