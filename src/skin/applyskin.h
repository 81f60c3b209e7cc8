#pragma once

#include <QString>

class QWidget;

namespace skin {

class Dispatch;

// Restyles form when the skin file is beside the program; does nothing
// otherwise. Failures propagate to the caller, keeping what was already done.
void ApplySkin(QWidget &form, Dispatch &skinFramework, const QString &programFolder);

// The skin file's path: "\x\o.cjs" joined to the program folder (see
// Globals::ProgramPath).
QString SkinFilePath(const QString &programFolder);

// True when a folder listing of normal files shows path: hidden and system
// files are not seen, and on Unix neither is anything that is not a regular
// file (folders, sockets, pipes, devices, dangling links). Whether it can be
// read does not matter.
bool NormalFileListed(const QString &path);

} // namespace skin
