#include "shell/program.h"

#include "shell/comeforward.h"
#include "shell/commandline.h"
#include "shell/desktopplatform.h"
#include "shell/mainwindow.h"
#include "shell/singleinstance.h"

#include <QApplication>
#ifdef Q_OS_WIN
#include "shell/qtmessagebox.h"
#include "shell/windowsstart.h"
#endif

#include <cstdio>
#include <memory>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace shell {

namespace {

QStringList argumentsOf(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

// Takes Qt's options that would read files out of argv, saying so in one line.
void refuseFileOptions(int &argc, char *argv[])
{
    const QStringList arguments = argumentsOf(argc, argv);
    const QList<qsizetype> refused = refusedArguments(arguments);
    if (refused.isEmpty())
        return;
    QStringList named;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (refused.contains(i - 1))
            named.append(arguments.at(i - 1));
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;
    std::fprintf(stderr, "%s\n", refusedLine(named).toLocal8Bit().constData());
}

#ifdef Q_OS_UNIX
int s_signalled[2] = {-1, -1};
// Set once a request to end was read: one that comes while a start-up box
// waits ends the box's loop, but the main loop would start afresh after it.
bool s_endRequested = false;

// A request to end (a logout, kill) closes the program as its window's close
// does, so that the saves still waiting are written; a second one ends it.
void endGently(int number)
{
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(s_signalled[1], &byte, 1);
    std::signal(number, SIG_DFL);
}

void quitOnTerminationSignals(QObject *context)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s_signalled) != 0)
        return;
    auto *notifier = new QSocketNotifier(s_signalled[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [] {
        char byte = 0;
        while (::read(s_signalled[0], &byte, 1) > 0) {
        }
        // Not quit(): that asks every window to close, and an open strobe
        // turns its close into an unload, which would cancel the quit.
        s_endRequested = true;
        QCoreApplication::exit(0);
    });
    for (const int number : {SIGTERM, SIGINT, SIGHUP})
        std::signal(number, endGently);
}
#endif

int print(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

#ifdef Q_OS_WIN
// A Windows program without a console of its own: the text goes to the
// console it was started from, or else into a box.
int printOrShow(int argc, char *argv[], const QString &text)
{
    if (printToConsole(text))
        return 0;
    usePluginsBesideProgram();
    const QApplication app(argc, argv);
    QtMessageBox().show(text.trimmed(), errors::MsgBoxStyle::Information,
                        QStringLiteral("Lumivex"));
    return 0;
}
#endif

} // namespace

int runProgram(int argc, char *argv[])
{
    const Request request = requestFor(argumentsOf(argc, argv));
#ifdef Q_OS_WIN
    if (request != Request::Window)
        return printOrShow(argc, argv, request == Request::Help ? usageText() : versionText());
    markRunning();
    usePluginsBesideProgram();
#endif
    switch (request) {
    case Request::Help:
        return print(usageText());
    case Request::Version:
        return print(versionText());
    case Request::Window:
        break;
    }
    SingleInstance instance(sessionKey(argc, argv));
    if (instance.handedOver())
        return 0;

    refuseFileOptions(argc, argv);
    std::unique_ptr<QApplication> app;
    {
        const DisplayGuard guard;
        app = std::make_unique<QApplication>(argc, argv);
    }
#ifdef Q_OS_WIN
    usePluginsBesideProgram();
#endif
    const QStringList ignored = unknownOptions(QCoreApplication::arguments().mid(1));
    if (!ignored.isEmpty())
        std::fprintf(stderr, "lumivex: ignoring %s (see lumivex --help)\n",
                     ignored.join(u' ').toLocal8Bit().constData());

    // Lets desktops match the windows with the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quarnel.Lumivex"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMIVEX_VERSION));

#ifdef Q_OS_UNIX
    quitOnTerminationSignals(app.get());
#endif
    DesktopPlatform platform;
    MainWindow window(platform);
    instance.listen([&window] { comeForward(window); });
    window.setUp();
#ifdef Q_OS_UNIX
    if (s_endRequested)
        return 0;
#endif
    window.showCentred();
    return QApplication::exec();
}

} // namespace shell
