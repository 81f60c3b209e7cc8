#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace shell {

// What the command line asks for. The program has no arguments of its own:
// only the two information options are answered, everything else is left to
// Qt (its own options such as -platform) or ignored.
enum class Request { Window, Help, Version };

// arguments without the program name; the first information option wins.
Request requestFor(const QStringList &arguments);

// Qt's own options that make it read a file or a folder while it starts (a
// style sheet, a window icon, a plugin folder, a device named in a platform's
// options): whatever sits there, a pipe or a device included, could hold
// start-up forever, and a style sheet would bypass the skin's rules. Also
// those that open the network or devices (see isDisplayPlatform, -plugin,
// -testability). Returns
// the positions in arguments (without the program name) of these options and
// their values, which are taken out before Qt sees them.
QList<qsizetype> refusedArguments(const QStringList &arguments);

// Whether a -platform value (or QT_QPA_PLATFORM) names display platforms
// only: xcb, wayland and its kinds, offscreen, minimal, windows. Others serve
// the window over the network (vnc) or read devices themselves (linuxfb, eglfs).
bool isDisplayPlatform(const QString &value);

// The environment's counterparts of refused options, as NAME=value: a
// QT_QPA_PLATFORM that refusedArguments would refuse as -platform's value, and
// any QT_QPA_GENERIC_PLUGINS (the -plugin of the environment).
QStringList refusedVariables(const QString &platform, const QString &genericPlugins);

// The one line on standard error that names the refused arguments.
QString refusedLine(const QStringList &refused);

// Options that neither Qt nor the program understood, from the arguments Qt
// left over (without the program name).
QStringList unknownOptions(const QStringList &arguments);

QString usageText();
QString versionText();

// The environment that decides where Qt looks for a display.
struct DisplayEnvironment
{
    QString display;
    QString waylandDisplay;
    QString platform;

    static DisplayEnvironment current();
};

// The one line printed when no display could be opened; missingPlugin names
// a Qt platform plugin that is not installed at all, if that was the cause.
QString noDisplayLine(const DisplayEnvironment &environment, const QString &missingPlugin = {});

// The platform plugin that Qt's fatal message says it could not find, if any.
QString missingPluginIn(const QString &fatalMessage);

// While it lives, Qt's messages are held back, and a fatal one (Qt could not
// open a display and would abort with a core dump) prints noDisplayLine and
// ends the process with status 1 instead. Wrap the application's construction
// in it; afterwards the held messages go on to the previous handler.
class DisplayGuard final
{
public:
    DisplayGuard();
    ~DisplayGuard();
    Q_DISABLE_COPY_MOVE(DisplayGuard)
};

} // namespace shell
