#pragma once

#include <QtGlobal>

class QColor;
class QWidget;

namespace skin {

// A colour value laid out 0x00BBGGRR, or 0x80000000 + n for the platform's
// system colour n, which follows the user's colour scheme.
using OleColor = quint32;

constexpr OleColor SystemColorFlag = 0x80000000u;
constexpr OleColor ButtonFace = SystemColorFlag | 15u;

// The colour the value shows right now. System colours are taken from the
// application palette. Throws errors::Failure for a value that names no colour.
QColor toQColor(OleColor value);

// The generic "BackColor" of a control or window: its background role, painted
// by the control itself.
void setBackColor(QWidget &control, OleColor value);

} // namespace skin
