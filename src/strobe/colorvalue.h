#pragma once

#include <QColor>
#include <QtGlobal>

class QPalette;

namespace strobe {

// Colour values are 0x00BBGGRR; 0x80000000 + n names system colour n.
namespace ColorValue {
constexpr qint32 Black = 0x000000;
constexpr qint32 White = 0xFFFFFF;
constexpr qint32 ButtonFace = static_cast<qint32>(0x8000000Fu);
} // namespace ColorValue

// The colour a value stands for, system colours taken from palette. Throws
// errors::Failure for a value that names no colour.
QColor toQColor(qint32 value, const QPalette &palette);

} // namespace strobe
