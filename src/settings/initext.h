#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The text of an INI settings file, read and edited line by line. Only the
// value of one key changes on an edit; comments, line ends, unknown lines and
// the sections of other programs stay byte for byte as they are.
namespace settings::ini {

// The text of the last assignment to key in section, as written: surrounding
// blanks and a trailing comment (";") removed and one pair of double quotes
// taken off. Escapes and typed values ("@Variant(...)") are left as they stand.
// Bytes that are not text are lines like any other.
std::optional<QString> value(const QByteArray &text, const QString &section, const QString &key);

// text with key in section set to value: the value that value() reads is
// rewritten in place, or the key is added after the section's last entry, or the
// section at the end of the text. Everything else is kept.
QByteArray withValue(const QByteArray &text, const QString &section, const QString &key,
                     const QString &value);

} // namespace settings::ini
