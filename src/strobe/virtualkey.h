#pragma once

#include <Qt>
#include <QtGlobal>

class QKeyEvent;
struct xkb_keymap;

namespace strobe {

// Key codes as the key handler receives them: the platform's virtual-key codes.
namespace VirtualKey {
constexpr qint16 None = 0;
constexpr qint16 Escape = 27;
constexpr qint16 D = 68;
constexpr qint16 E = 69;
constexpr qint16 H = 72;
constexpr qint16 I = 73;
// What a key without a code of its own reports.
constexpr qint16 Unmapped = 255;
} // namespace VirtualKey

// The virtual-key code of a Qt key. Letters give 65..90 and digits 48..57 with
// or without Shift and Caps Lock; keypad keys give their own codes.
qint16 virtualKeyCode(int qtKey, Qt::KeyboardModifiers modifiers);

// The code of a pressed key, which names the key the same on every layout. On
// Windows it is the system's virtual-key code. Elsewhere it is the code of the
// symbol typed; a key whose symbol has none (a Cyrillic or Greek letter) gets
// the code of its symbol in the first Latin layout, as xkbKeyCode says.
qint16 virtualKeyCode(const QKeyEvent &event);

// The code of the key with the xkb keycode given: that of its symbol in the
// keymap's first Latin layout, or, when that symbol has none, when the keymap
// holds no Latin layout or there is no keymap, the code of the key in its
// place on a US keyboard.
qint16 xkbKeyCode(const xkb_keymap *keymap, quint32 keycode);

} // namespace strobe
