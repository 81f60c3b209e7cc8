#include "shell/windowsstart.h"

#include <QCoreApplication>
#include <QDir>

#include <qt_windows.h>

#include <cstdio>
#include <string>

namespace shell {

namespace {

QString programFolder()
{
    // Long paths can exceed MAX_PATH.
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (length == 0 || length >= path.size())
        return {};
    const QString program
        = QDir::fromNativeSeparators(QString::fromWCharArray(path.data(), length));
    return program.left(program.lastIndexOf(u'/'));
}

bool usable(HANDLE handle)
{
    return handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

} // namespace

void usePluginsBesideProgram()
{
    qunsetenv("QT_PLUGIN_PATH");
    qunsetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
    const QString folder = programFolder();
    if (!folder.isEmpty())
        QCoreApplication::setLibraryPaths({folder + QStringLiteral("/plugins")});
}

void markRunning()
{
    // Local for the installer in this session, Global for one run by another
    // user (fast user switching); the handles close when the process ends.
    for (const wchar_t *name :
         {L"Local\\Quarnel.Lumivex.Running", L"Global\\Quarnel.Lumivex.Running"})
        CreateMutexW(nullptr, FALSE, name);
}

bool printToConsole(const QString &text)
{
    if (usable(GetStdHandle(STD_OUTPUT_HANDLE))) {
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return std::fflush(stdout) == 0;
    }
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return false;
    HANDLE console = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    bool written = false;
    if (console != INVALID_HANDLE_VALUE) {
        // The shell printed its prompt already: start on a line of our own.
        const std::wstring lines = L"\r\n" + text.toStdWString();
        DWORD count = 0;
        written = WriteConsoleW(console, lines.data(), DWORD(lines.size()), &count, nullptr);
        CloseHandle(console);
    }
    FreeConsole();
    return written;
}

} // namespace shell
