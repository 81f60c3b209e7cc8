#include "skin/olecolor.h"

#include "errors/failure.h"

#include <QColor>
#include <QGuiApplication>
#include <QPalette>
#include <QWidget>

#include <array>
#include <utility>

namespace skin {

namespace {

// The system colours a window of this program can meet, by index.
constexpr std::array<std::pair<quint32, QPalette::ColorRole>, 7> kSystemColors{{
    {5, QPalette::Base},             // window background
    {8, QPalette::Text},             // window text
    {13, QPalette::Highlight},       // selection
    {14, QPalette::HighlightedText}, // selected text
    {15, QPalette::Button},          // button face
    {16, QPalette::Dark},            // button shadow
    {18, QPalette::ButtonText},      // button text
}};

} // namespace

QColor toQColor(OleColor value)
{
    if (value & SystemColorFlag) {
        const quint32 index = value & ~SystemColorFlag;
        for (const auto &[systemIndex, role] : kSystemColors) {
            if (systemIndex == index)
                return QGuiApplication::palette().color(QPalette::Active, role);
        }
        throw errors::Failure(errors::Description::invalidPropertyValue());
    }
    if (value > 0x00FFFFFFu)
        throw errors::Failure(errors::Description::invalidPropertyValue());
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

void setBackColor(QWidget &control, OleColor value)
{
    const QColor colour = toQColor(value);
    QPalette palette = control.palette();
    palette.setColor(QPalette::Window, colour);
    control.setPalette(palette);
    control.setAutoFillBackground(true);
}

} // namespace skin
