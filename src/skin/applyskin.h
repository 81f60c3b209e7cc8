#pragma once

#include <QString>

class QWidget;

namespace skin {
class Dispatch;
}

namespace Globals {

// Restyles form when the skin file is beside the program; does nothing
// otherwise. Failures propagate to the caller, keeping what was already done.
void ApplySkin(QWidget &form, skin::Dispatch &skinFramework, const QString &programFolder);

// The skin file's path: the program folder followed by "\x\o.cjs", joined as
// they are, with the platform's separator.
QString SkinFilePath(const QString &programFolder);

// True when a folder listing of normal files shows path: hidden and system
// files are not seen, and on Unix neither is anything that is not a regular
// file (folders, sockets, pipes, devices, dangling links). Whether it can be
// read does not matter.
bool NormalFileListed(const QString &path);

} // namespace Globals
