#pragma once

#include <QString>
#include <QtGlobal>

namespace settings {

// Reads a stored option index: a decimal number rounded to the nearest integer,
// halves to the even neighbour. Throws errors::Failure on text that is not a
// number ("Type mismatch") or lies outside -32768..32767 ("Overflow").
qint16 toOptionIndex(const QString &text);

// The stored form of an index: decimal digits, a minus sign when negative.
QString fromOptionIndex(qint16 index);

} // namespace settings
