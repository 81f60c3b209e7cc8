#pragma once

#include <QtGlobal>

class QWidget;

namespace skin {

// The generic "BackColor" of a control or window: its background role, painted
// by the control itself. value is a layouts::ColorValue; system colours follow
// the application palette. Throws errors::Failure for a value that names no
// colour.
void setBackColor(QWidget &control, qint32 value);

} // namespace skin
