#include "layouts/colorvalue.h"

#include "errors/failure.h"

#include <QPalette>

#include <array>
#include <utility>

namespace layouts {

namespace {

// The system colours a window of this program can meet, by their index, each
// read from the palette role that Qt's Windows theme fills from that index
// (GetSysColor), so that on Windows a value gives the system's very colour
// and elsewhere the palette's nearest match. Among them:
// - 8, COLOR_WINDOWTEXT (black in the standard and classic schemes):
//   WindowText. Qt fills Text from the same index, but WindowText is the role
//   that stands for it; on other platforms Text belongs to entry fields.
// - 16, COLOR_BTNSHADOW (160,160,160 standard; 128,128,128 classic): Dark.
// - 18, COLOR_BTNTEXT (black in both schemes): ButtonText, which a scheme can
//   set apart from the window's text.
constexpr std::array<std::pair<quint32, QPalette::ColorRole>, 7> kSystemColors{{
    {5, QPalette::Base},             // COLOR_WINDOW: window background
    {8, QPalette::WindowText},       // COLOR_WINDOWTEXT
    {13, QPalette::Highlight},       // COLOR_HIGHLIGHT: selection
    {14, QPalette::HighlightedText}, // COLOR_HIGHLIGHTTEXT: selected text
    {15, QPalette::Button},          // COLOR_BTNFACE: button face
    {16, QPalette::Dark},            // COLOR_BTNSHADOW
    {18, QPalette::ButtonText},      // COLOR_BTNTEXT
}};

} // namespace

QColor toQColor(qint32 value, const QPalette &palette)
{
    const auto bits = static_cast<quint32>(value);
    if (bits & ColorValue::SystemColorFlag) {
        const quint32 index = bits & ~ColorValue::SystemColorFlag;
        for (const auto &[systemIndex, role] : kSystemColors) {
            if (systemIndex == index)
                return palette.color(QPalette::Active, role);
        }
        throw errors::Failure(errors::Description::invalidPropertyValue());
    }
    if (bits > 0x00FFFFFFu)
        throw errors::Failure(errors::Description::invalidPropertyValue());
    return QColor(static_cast<int>(bits & 0xFF), static_cast<int>((bits >> 8) & 0xFF),
                  static_cast<int>((bits >> 16) & 0xFF));
}

} // namespace layouts
