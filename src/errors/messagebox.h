#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace errors {

// Style values of a message box: buttons in the low bits, the icon in 16..64.
namespace MsgBoxStyle {
constexpr int OkOnly = 0;
constexpr int Critical = 16;
constexpr int Question = 32;
constexpr int Exclamation = 48;
constexpr int Information = 64;
constexpr int IconMask = 0x70;
} // namespace MsgBoxStyle

constexpr int MsgBoxResultOk = 1;

// The one way the program shows a modal message. Tests stand in for it, so no
// modal loop ever waits for a person.
class MessageBox
{
public:
    virtual ~MessageBox();

    // Shows prompt and returns the button pressed. Without a title the box
    // carries the application title.
    virtual int show(const QString &prompt, int style, const std::optional<QString> &title) = 0;
};

} // namespace errors
