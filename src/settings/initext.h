#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The text of an INI settings file shared with Qt programs, read as QSettings
// (IniFormat) reads it, and edited so that only the one value changes: every
// other key reads as before, and comments, line ends, unknown lines and the
// sections of other programs stay byte for byte as they are.
//
// Section and key are names without '/'.
namespace settings::ini {

// A value as QSettings reads it.
struct Reading
{
    QString text;       // the string read; for a value of another type, its text
    bool typed = false; // a list or a typed value: "@Invalid()", "@Variant(...)", "@Rect(...)" ...
};

// key in section as a new QSettings object for the text returns it from
// value(): nothing when it reads no value there.
std::optional<Reading> read(const QByteArray &text, const QString &section, const QString &key);

// The text of read().
std::optional<QString> value(const QByteArray &text, const QString &section, const QString &key);

// text with key in section set to the string value, stored where QSettings
// reads it: the value that value() reads is rewritten in place, or the key is
// added to the section, or the section to the text (at its end, or before its
// first section when the text ends inside quotes). Nothing when QSettings
// cannot read the key from any edit: another section whose name lies between
// the section's and the key's takes the key's lookup ("[Lumivex%20Software\A]").
std::optional<QByteArray> withValue(const QByteArray &text, const QString &section,
                                    const QString &key, const QString &value);

} // namespace settings::ini
