#include "applyskin.h"

namespace Globals {

void ApplySkin(QWidget &, skin::Dispatch &, const QString &) {}

} // namespace Globals
