#pragma once

#include <QString>

namespace shell {

// Qt's plugins come only from the plugins folder beside the program, whatever
// QT_PLUGIN_PATH or QT_QPA_PLATFORM_PLUGIN_PATH say (a qt.conf beside it is
// ignored anyway: the one built in wins). Call before the application is
// constructed and again after.
void usePluginsBesideProgram();

// Holds, for the rest of the run, the named mutexes by which the installer and
// the uninstaller tell that the program runs.
void markRunning();

// Writes text where the person who asked for it sees it: standard output when
// it goes to a file, a pipe or a console, otherwise the console of the program
// that started this one (cmd.exe, PowerShell). False when there is neither.
bool printToConsole(const QString &text);

} // namespace shell
