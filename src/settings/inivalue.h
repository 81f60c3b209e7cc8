#pragma once

#include <QByteArrayView>
#include <QString>

// The values of Qt's INI settings files, read and written step for step as
// QSettings does (QSettings::IniFormat, Qt 6.4).
namespace settings::ini::grammar {

// A value as written after '=': quotes, escapes and trailing blanks resolved.
struct Unescaped
{
    QString text;
    bool list = false; // commas outside quotes make a list of strings
};
Unescaped unescapedValue(QByteArrayView value);

// The string a value stands for: "@@x" for "@x", "@String(x)" for "x". false
// for values of other types, "@Invalid()", "@ByteArray(...)", "@Variant(...)",
// "@Rect(1 2 3 4)" and the like, which are never strings here.
bool isString(const QString &value, QString *string);

// The value as QSettings writes a string: "@" doubled, quotes where blanks or
// separators need them, escapes for control characters.
QByteArray escapedString(const QString &string);

} // namespace settings::ini::grammar
