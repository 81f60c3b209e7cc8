#pragma once

#include <QString>

class QWidget;

namespace skin {
class Dispatch;
}

namespace Globals {

// Restyles form when the skin file is beside the program; does nothing
// otherwise. Failures propagate to the caller.
void ApplySkin(QWidget &form, skin::Dispatch &skinFramework, const QString &programFolder);

} // namespace Globals
