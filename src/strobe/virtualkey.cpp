#include "strobe/virtualkey.h"

#include <QKeyEvent>

#include <array>
#include <memory>
#include <string_view>
#include <utility>

#ifdef LUMIVEX_HAVE_XKB
#include <xkbcommon/xkbcommon.h>
#endif
#ifdef LUMIVEX_HAVE_XKB_X11
#include "strobe/x11/serverkeymap.h"
#endif

namespace strobe {

namespace {

using Pair = std::pair<int, qint16>;

// Keys whose code does not follow from a range. The shifted symbols report the
// key they sit on, as laid out on a US keyboard.
constexpr std::array kFixed{
    Pair{Qt::Key_Backspace, 8},    Pair{Qt::Key_Tab, 9},           Pair{Qt::Key_Backtab, 9},
    Pair{Qt::Key_Clear, 12},       Pair{Qt::Key_Return, 13},       Pair{Qt::Key_Enter, 13},
    Pair{Qt::Key_Shift, 16},       Pair{Qt::Key_Control, 17},      Pair{Qt::Key_Alt, 18},
    Pair{Qt::Key_AltGr, 18},       Pair{Qt::Key_Pause, 19},        Pair{Qt::Key_CapsLock, 20},
    Pair{Qt::Key_Escape, 27},      Pair{Qt::Key_Space, 32},        Pair{Qt::Key_PageUp, 33},
    Pair{Qt::Key_PageDown, 34},    Pair{Qt::Key_End, 35},          Pair{Qt::Key_Home, 36},
    Pair{Qt::Key_Left, 37},        Pair{Qt::Key_Up, 38},           Pair{Qt::Key_Right, 39},
    Pair{Qt::Key_Down, 40},        Pair{Qt::Key_Select, 41},       Pair{Qt::Key_Printer, 42},
    Pair{Qt::Key_Execute, 43},     Pair{Qt::Key_Print, 44},        Pair{Qt::Key_SysReq, 44},
    Pair{Qt::Key_Insert, 45},      Pair{Qt::Key_Delete, 46},       Pair{Qt::Key_Help, 47},
    Pair{Qt::Key_Meta, 91},        Pair{Qt::Key_Super_L, 91},      Pair{Qt::Key_Super_R, 92},
    Pair{Qt::Key_Menu, 93},        Pair{Qt::Key_Sleep, 95},        Pair{Qt::Key_NumLock, 144},
    Pair{Qt::Key_ScrollLock, 145}, Pair{Qt::Key_Exclam, 49},       Pair{Qt::Key_At, 50},
    Pair{Qt::Key_NumberSign, 51},  Pair{Qt::Key_Dollar, 52},       Pair{Qt::Key_Percent, 53},
    Pair{Qt::Key_AsciiCircum, 54}, Pair{Qt::Key_Ampersand, 55},    Pair{Qt::Key_Asterisk, 56},
    Pair{Qt::Key_ParenLeft, 57},   Pair{Qt::Key_ParenRight, 48},   Pair{Qt::Key_Semicolon, 186},
    Pair{Qt::Key_Colon, 186},      Pair{Qt::Key_Equal, 187},       Pair{Qt::Key_Plus, 187},
    Pair{Qt::Key_Comma, 188},      Pair{Qt::Key_Less, 188},        Pair{Qt::Key_Minus, 189},
    Pair{Qt::Key_Underscore, 189}, Pair{Qt::Key_Period, 190},      Pair{Qt::Key_Greater, 190},
    Pair{Qt::Key_Slash, 191},      Pair{Qt::Key_Question, 191},    Pair{Qt::Key_QuoteLeft, 192},
    Pair{Qt::Key_AsciiTilde, 192}, Pair{Qt::Key_BracketLeft, 219}, Pair{Qt::Key_BraceLeft, 219},
    Pair{Qt::Key_Backslash, 220},  Pair{Qt::Key_Bar, 220},         Pair{Qt::Key_BracketRight, 221},
    Pair{Qt::Key_BraceRight, 221}, Pair{Qt::Key_Apostrophe, 222},  Pair{Qt::Key_QuoteDbl, 222},
};

constexpr std::array kKeypad{
    Pair{Qt::Key_Asterisk, 106}, Pair{Qt::Key_Plus, 107},  Pair{Qt::Key_Minus, 109},
    Pair{Qt::Key_Period, 110},   Pair{Qt::Key_Comma, 110}, Pair{Qt::Key_Slash, 111},
};

template<std::size_t N> qint16 lookUp(const std::array<Pair, N> &table, int qtKey)
{
    for (const Pair &pair : table) {
        if (pair.first == qtKey)
            return pair.second;
    }
    return VirtualKey::None;
}

// The US keyboard's main block by xkb keycode (the evdev code plus 8), row by
// row from the first keycode of each row.
constexpr std::array kUsRows{
    std::pair{10u, std::string_view("1234567890-=")},
    std::pair{24u, std::string_view("QWERTYUIOP[]")},
    std::pair{38u, std::string_view("ASDFGHJKL;'`")},
    std::pair{51u, std::string_view("\\ZXCVBNM,./")},
};

qint16 usPlaceCode(quint32 keycode)
{
    for (const auto &[first, keys] : kUsRows) {
        if (keycode >= first && keycode < first + keys.size())
            return virtualKeyCode(keys[keycode - first], {});
    }
    return VirtualKey::Unmapped;
}

#ifdef LUMIVEX_HAVE_XKB
// The code of an ASCII symbol; Unmapped for any other.
qint16 symbolCode(xkb_keysym_t symbol)
{
    const char32_t character = xkb_keysym_to_utf32(symbol);
    if (character <= ' ' || character >= 0x7f)
        return VirtualKey::Unmapped;
    const char latin = static_cast<char>(character);
    return virtualKeyCode(latin >= 'a' && latin <= 'z' ? latin - 'a' + 'A' : latin, {});
}

xkb_keysym_t baseSymbol(const xkb_keymap *keymap, xkb_keycode_t keycode, xkb_layout_index_t layout)
{
    const xkb_keysym_t *symbols = nullptr;
    auto *map = const_cast<xkb_keymap *>(keymap);
    if (xkb_keymap_key_get_syms_by_level(map, keycode, layout, 0, &symbols) != 1)
        return XKB_KEY_NoSymbol;
    return symbols[0];
}

// A layout is Latin when the key in the US keyboard's A place types a Latin
// letter (A on QWERTY and Dvorak, Q on AZERTY); a layout's punctuation says
// nothing (Greek has a semicolon where QWERTY has Q).
bool isLatinLayout(const xkb_keymap *keymap, xkb_layout_index_t layout)
{
    constexpr xkb_keycode_t usPlaceOfA = 38;
    const xkb_keysym_t symbol = baseSymbol(keymap, usPlaceOfA, layout);
    return (symbol >= XKB_KEY_a && symbol <= XKB_KEY_z)
           || (symbol >= XKB_KEY_A && symbol <= XKB_KEY_Z);
}
#endif

} // namespace

qint16 virtualKeyCode(int qtKey, Qt::KeyboardModifiers modifiers)
{
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return static_cast<qint16>(65 + (qtKey - Qt::Key_A));
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return static_cast<qint16>((keypad ? 96 : 48) + (qtKey - Qt::Key_0));
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return static_cast<qint16>(112 + (qtKey - Qt::Key_F1));
    if (keypad) {
        if (const qint16 code = lookUp(kKeypad, qtKey))
            return code;
    }
    if (const qint16 code = lookUp(kFixed, qtKey))
        return code;
    return VirtualKey::Unmapped;
}

qint16 xkbKeyCode(const xkb_keymap *keymap, quint32 keycode)
{
#ifdef LUMIVEX_HAVE_XKB
    if (keymap) {
        auto *map = const_cast<xkb_keymap *>(keymap);
        const xkb_layout_index_t layouts = xkb_keymap_num_layouts(map);
        for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
            if (!isLatinLayout(keymap, layout))
                continue;
            if (const qint16 code = symbolCode(baseSymbol(keymap, keycode, layout));
                code != VirtualKey::Unmapped)
                return code;
            break;
        }
    }
#else
    Q_UNUSED(keymap);
#endif
    return usPlaceCode(keycode);
}

qint16 virtualKeyCode(const QKeyEvent &event)
{
#ifdef Q_OS_WIN
    if (event.nativeVirtualKey() > 0 && event.nativeVirtualKey() < VirtualKey::Unmapped)
        return static_cast<qint16>(event.nativeVirtualKey());
#endif
    const qint16 code = virtualKeyCode(event.key(), event.modifiers());
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // X11, Wayland and the console platforms report xkb keycodes.
    if (code == VirtualKey::Unmapped && event.nativeScanCode() != 0) {
#ifdef LUMIVEX_HAVE_XKB_X11
        return serverKeyCode(event.nativeScanCode());
#else
        return xkbKeyCode(nullptr, event.nativeScanCode());
#endif
    }
#endif
    return code;
}

} // namespace strobe
