#pragma once

#include <QString>
#include <QtGlobal>

namespace errors {

// A whole number read from text as automation conversions read one: a decimal
// number (sign, fraction and exponent allowed, blanks around it ignored, no
// group separators) rounded to the nearest integer, halves to the even
// neighbour. Throws Failure: "Type mismatch" for text that is no finite
// number, "Overflow" when the rounded number lies outside min..max (a range
// that doubles hold exactly, within 2^53 either side of zero).
qint64 readWholeNumber(const QString &text, qint64 min, qint64 max);

} // namespace errors
