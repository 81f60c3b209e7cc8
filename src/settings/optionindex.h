#pragma once

#include <QString>
#include <QtGlobal>

namespace settings {

// Reads a stored option index as errors::readWholeNumber reads whole numbers:
// throws errors::Failure on text that is not a number ("Type mismatch") or
// lies outside -32768..32767 ("Overflow").
qint16 toOptionIndex(const QString &text);

// The stored form of an index: decimal digits, a minus sign when negative.
QString fromOptionIndex(qint16 index);

} // namespace settings
