#pragma once

#include <QString>

namespace Globals {

// True when the path names something whose modification time can be read,
// the epoch included. Never throws.
bool FileExists(const QString &path) noexcept;

// Joins a fixed name such as "\HAND-M.CUR" to the program folder as it stands,
// with the platform's separator.
QString ProgramPath(const QString &programFolder, const QString &name);

} // namespace Globals
