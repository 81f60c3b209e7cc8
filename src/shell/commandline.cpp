#include "shell/commandline.h"

#include <QMessageLogContext>
#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>

namespace shell {

namespace {

// Qt's own options that take the next argument as their value; that value is
// never read as an option of ours.
bool takesValue(const QString &option)
{
    static const QStringList withValue{QStringLiteral("platform"),
                                       QStringLiteral("platformpluginpath"),
                                       QStringLiteral("platformtheme"),
                                       QStringLiteral("plugin"),
                                       QStringLiteral("qwindowgeometry"),
                                       QStringLiteral("geometry"),
                                       QStringLiteral("qwindowicon"),
                                       QStringLiteral("icon"),
                                       QStringLiteral("qwindowtitle"),
                                       QStringLiteral("title"),
                                       QStringLiteral("session"),
                                       QStringLiteral("style"),
                                       QStringLiteral("stylesheet"),
                                       QStringLiteral("display"),
                                       QStringLiteral("name")};
    QString name = option;
    while (name.startsWith(u'-'))
        name.remove(0, 1);
    return withValue.contains(name);
}

// Qt reads "--name" as "-name", and a style sheet given as "-stylesheet=FILE"
// wherever "-stylesheet=" appears in an option.
QString qtOptionName(const QString &argument)
{
    return argument.startsWith(u"--") ? argument.mid(1) : argument;
}

bool readsFile(const QString &option)
{
    static const QStringList reading{QStringLiteral("-stylesheet"), QStringLiteral("-qwindowicon"),
                                     QStringLiteral("-icon"),
                                     QStringLiteral("-platformpluginpath")};
    return reading.contains(option) || option.contains(u"-stylesheet=");
}

// "-platform xcb:foo=/dev/fb0", "-platform offscreen:configfile=sheet.json": a
// platform with options that name a path, or a setting that may name one in
// the folder the program starts in.
bool namesPath(const QString &value)
{
    return value.contains(u'/') || value.contains(u'=');
}

// Qt's options that open the network or devices, or load a library by name:
// -plugin (a touch server on UDP, input devices), -testability (a library
// found on the library path), and any platform that is not a display's.
bool opensMore(const QString &option, const QString *value)
{
    if (option == u"-plugin" || option == u"-testability")
        return true;
    return option == u"-platform" && value && (!isDisplayPlatform(*value) || namesPath(*value));
}

// Whether the argument at i, read as an option, is taken out.
bool isRefused(const QStringList &arguments, qsizetype i)
{
    if (!arguments.at(i).startsWith(u'-'))
        return false;
    const QString option = qtOptionName(arguments.at(i));
    const bool hasValue = takesValue(option) && i + 1 < arguments.size();
    return readsFile(option) || opensMore(option, hasValue ? &arguments.at(i + 1) : nullptr);
}

struct HeldMessage
{
    QtMsgType type;
    QByteArray category;
    QString text;
};

QtMessageHandler s_previousHandler = nullptr;
QList<HeldMessage> *s_held = nullptr;

void holdMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtFatalMsg) {
        // Qt names a plugin it could not find in a warning before the fatal message.
        QString everything = text;
        for (const HeldMessage &held : std::as_const(*s_held))
            everything += u'\n' + held.text;
        const QByteArray line
            = noDisplayLine(DisplayEnvironment::current(), missingPluginIn(everything))
                  .toLocal8Bit();
        std::fprintf(stderr, "%s\n", line.constData());
        std::fflush(stdout);
        std::fflush(stderr);
        // Qt is half built; nothing of it may run at exit.
        std::_Exit(1);
    }
    s_held->append({type, context.category, text});
}

} // namespace

bool isDisplayPlatform(const QString &value)
{
    static const QStringList display{QStringLiteral("xcb"),
                                     QStringLiteral("wayland"),
                                     QStringLiteral("wayland-egl"),
                                     QStringLiteral("wayland-brcm"),
                                     QStringLiteral("wayland-xcomposite-egl"),
                                     QStringLiteral("wayland-xcomposite-glx"),
                                     QStringLiteral("offscreen"),
                                     QStringLiteral("minimal"),
                                     QStringLiteral("windows")};
    // Qt tries the platforms of a list separated by ';' in turn, finds them
    // ignoring case, and gives each the options after its ':'.
    const QStringList platforms = value.split(u';', Qt::SkipEmptyParts);
    if (platforms.isEmpty())
        return false;
    for (const QString &platform : platforms) {
        if (!display.contains(platform.section(u':', 0, 0), Qt::CaseInsensitive))
            return false;
    }
    return true;
}

QStringList refusedVariables(const QString &platform, const QString &genericPlugins)
{
    QStringList refused;
    if (!platform.isEmpty() && (!isDisplayPlatform(platform) || namesPath(platform)))
        refused << QStringLiteral("QT_QPA_PLATFORM=") + platform;
    if (!genericPlugins.isEmpty())
        refused << QStringLiteral("QT_QPA_GENERIC_PLUGINS=") + genericPlugins;
    return refused;
}

Request requestFor(const QStringList &arguments)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == u"--")
            break;
        if (argument == u"--help" || argument == u"-h")
            return Request::Help;
        if (argument == u"--version" || argument == u"-v")
            return Request::Version;
        if (argument.startsWith(u'-') && takesValue(argument))
            ++i;
    }
    return Request::Window;
}

QList<qsizetype> refusedArguments(const QStringList &arguments)
{
    QList<qsizetype> refused;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (!arguments.at(i).startsWith(u'-'))
            continue;
        const QString option = qtOptionName(arguments.at(i));
        const bool hasValue = takesValue(option) && i + 1 < arguments.size();
        if (isRefused(arguments, i)) {
            refused.append(i);
            if (hasValue && !option.contains(u'='))
                refused.append(i + 1);
            if (hasValue)
                ++i;
        } else if (hasValue && !isRefused(arguments, i + 1)) {
            // Qt reads its options in several passes, and some take a value
            // only on some platforms (-title, -display with xcb): an option
            // that reads a file is never hidden as another one's value.
            ++i;
        }
    }
    return refused;
}

QString refusedLine(const QStringList &refused)
{
    return QStringLiteral("lumivex: refusing %1 (Qt's options that read files or open the "
                          "network are not taken; see lumivex --help)")
        .arg(refused.join(u' '));
}

QStringList unknownOptions(const QStringList &arguments)
{
    QStringList unknown;
    for (const QString &argument : arguments) {
        if (argument == u"--")
            break;
        if (argument.size() > 1 && argument.startsWith(u'-'))
            unknown.append(argument);
    }
    return unknown;
}

QString usageText()
{
    return QStringLiteral(
        "Usage: lumivex [--help | --version]\n"
        "\n"
        "Lumivex turns the whole screen into a strobe light. Pick a style and a speed\n"
        "in its window and press Start Strobing; press Escape to stop.\n"
        "\n"
        "Warning: flashing light can trigger seizures in people with photosensitive\n"
        "epilepsy.\n"
        "\n"
        "Options:\n"
        "  -h, --help     print this help and exit\n"
        "  -v, --version  print the program's name and version and exit\n"
        "\n"
        "Lumivex takes no other arguments. Qt's own options (such as -platform xcb)\n"
        "are understood, except those that make Qt read a file (-stylesheet,\n"
        "-qwindowicon, -platformpluginpath, a path or a setting in -platform's\n"
        "options) or open the network or devices (-plugin, -testability, a platform\n"
        "other than xcb, wayland, offscreen, minimal or windows), which are refused;\n"
        "anything else is ignored.\n");
}

QString versionText()
{
    return QStringLiteral("Lumivex " LUMIVEX_VERSION "\n");
}

DisplayEnvironment DisplayEnvironment::current()
{
    return {qEnvironmentVariable("DISPLAY"), qEnvironmentVariable("WAYLAND_DISPLAY"),
            qEnvironmentVariable("QT_QPA_PLATFORM")};
}

QString missingPluginIn(const QString &fatalMessage)
{
    static const QRegularExpression notFound(
        QStringLiteral("Could not find the Qt platform plugin \"([^\"]+)\""));
    return notFound.match(fatalMessage).captured(1);
}

QString noDisplayLine(const DisplayEnvironment &environment, const QString &missingPlugin)
{
    QString reason;
    if (missingPlugin == u"wayland")
        reason = QStringLiteral("Qt's Wayland support is not installed (Debian: qt6-wayland)");
    else if (!missingPlugin.isEmpty())
        reason = QStringLiteral("Qt's \"%1\" platform plugin is not installed").arg(missingPlugin);
    else if (!environment.platform.isEmpty())
        reason = QStringLiteral("Qt's \"%1\" platform could not be started")
                     .arg(environment.platform);
    else if (environment.display.isEmpty() && environment.waylandDisplay.isEmpty())
        reason = QStringLiteral("neither DISPLAY nor WAYLAND_DISPLAY is set");
    else if (environment.display.isEmpty())
        reason = QStringLiteral("the Wayland display \"%1\" could not be opened")
                     .arg(environment.waylandDisplay);
    else
        reason
            = QStringLiteral("the X display \"%1\" could not be opened").arg(environment.display);
    return QStringLiteral("lumivex: Lumivex needs a graphical display, and %1.").arg(reason);
}

DisplayGuard::DisplayGuard()
{
    s_held = new QList<HeldMessage>;
    s_previousHandler = qInstallMessageHandler(holdMessage);
}

DisplayGuard::~DisplayGuard()
{
    qInstallMessageHandler(s_previousHandler);
    const QList<HeldMessage> held = std::move(*s_held);
    delete s_held;
    s_held = nullptr;
    for (const HeldMessage &message : held) {
        const QMessageLogContext context(nullptr, 0, nullptr, message.category.constData());
        if (s_previousHandler)
            s_previousHandler(message.type, context, message.text);
        else
            qt_message_output(message.type, context, message.text);
    }
}

} // namespace shell
