#pragma once

#include <QColor>
#include <QtGlobal>

class QPalette;

namespace layouts {

// Colour values as skins and the strobe pass them: 0x00BBGGRR, or
// SystemColorFlag + n for the platform's system colour n, which follows the
// user's colour scheme.
namespace ColorValue {
constexpr quint32 SystemColorFlag = 0x80000000u;
constexpr qint32 Black = 0x000000;
constexpr qint32 White = 0xFFFFFF;
constexpr qint32 ButtonFace = static_cast<qint32>(SystemColorFlag | 15u);
} // namespace ColorValue

// The colour a value stands for, system colours taken from palette's active
// group. Throws errors::Failure ("Invalid property value") for a value that
// names no colour.
QColor toQColor(qint32 value, const QPalette &palette);

} // namespace layouts
