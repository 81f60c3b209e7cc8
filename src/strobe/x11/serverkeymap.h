#pragma once

#include <QtGlobal>

namespace strobe {

// xkbKeyCode() of the key with the xkb keycode given, in the X server's keymap
// as it is now: read only for the rare key whose symbol has no code, so a
// layout switched since the last key counts.
qint16 serverKeyCode(quint32 keycode);

} // namespace strobe
