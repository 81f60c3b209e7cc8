#include "strobe/colorvalue.h"

#include "errors/failure.h"

#include <QPalette>

namespace strobe {

namespace {

constexpr quint32 kSystemFlag = 0x80000000u;

QPalette::ColorRole systemRole(quint32 index)
{
    switch (index) {
    case 5: // window background
        return QPalette::Base;
    case 8:  // window text
    case 18: // button text
        return QPalette::WindowText;
    case 13: // highlight
        return QPalette::Highlight;
    case 14: // highlighted text
        return QPalette::HighlightedText;
    case 15: // button face
        return QPalette::Button;
    default:
        throw errors::Failure(errors::Description::invalidPropertyValue());
    }
}

} // namespace

QColor toQColor(qint32 value, const QPalette &palette)
{
    const auto bits = static_cast<quint32>(value);
    if (bits & kSystemFlag)
        return palette.color(QPalette::Active, systemRole(bits & ~kSystemFlag));
    if (bits > 0xFFFFFFu)
        throw errors::Failure(errors::Description::invalidPropertyValue());
    return QColor(static_cast<int>(bits & 0xFF), static_cast<int>((bits >> 8) & 0xFF),
                  static_cast<int>((bits >> 16) & 0xFF));
}

} // namespace strobe
