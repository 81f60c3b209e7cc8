#include "shell/program.h"

#include "shell/comeforward.h"
#include "shell/commandline.h"
#include "shell/desktopplatform.h"
#include "shell/endrequests.h"
#include "shell/mainwindow.h"
#include "shell/sessionbus.h"
#include "shell/singleinstance.h"

#include <QApplication>
#ifdef Q_OS_WIN
#include "shell/qtmessagebox.h"
#include "shell/windowsstart.h"
#endif

#include <cstdio>
#include <memory>

namespace shell {

namespace {

QStringList argumentsOf(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

// Takes Qt's options that would read files or open the network out of argv,
// and their counterparts out of the environment, saying so in one line.
void refuseFileOptions(int &argc, char *argv[])
{
    const QStringList arguments = argumentsOf(argc, argv);
    const QList<qsizetype> refused = refusedArguments(arguments);
    QStringList named = refusedVariables(qEnvironmentVariable("QT_QPA_PLATFORM"),
                                         qEnvironmentVariable("QT_QPA_GENERIC_PLUGINS"));
    for (const QString &variable : std::as_const(named))
        qunsetenv(variable.section(u'=', 0, 0).toLatin1().constData());
    if (refused.isEmpty() && named.isEmpty())
        return;
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
    if (request != Request::Window)
        takeEndRequests(nullptr);
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
    SessionBusCheck sessionBus;
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

    sessionBus.settle();
    takeEndRequests(app.get());
    if (endRequested())
        return 0;
    DesktopPlatform platform;
    MainWindow window(platform);
    instance.listen([&window] { comeForward(window); });
    window.setUp();
    if (endRequested())
        return 0;
    window.showCentred();
    windowShown();
    return QApplication::exec();
}

} // namespace shell
