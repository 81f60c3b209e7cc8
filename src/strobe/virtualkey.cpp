#include "virtualkey.h"

#include <array>
#include <utility>

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

qint16 shiftState(Qt::KeyboardModifiers modifiers)
{
    qint16 state = 0;
    if (modifiers.testFlag(Qt::ShiftModifier))
        state |= ShiftState::Shift;
    if (modifiers.testFlag(Qt::ControlModifier))
        state |= ShiftState::Ctrl;
    if (modifiers.testFlag(Qt::AltModifier))
        state |= ShiftState::Alt;
    return state;
}

} // namespace strobe
