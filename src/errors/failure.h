#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace errors {

// A failure raised by a step of a handler. It carries the description that the
// error report shows; there is no numeric code.
class Failure : public std::exception
{
public:
    explicit Failure(QString description);

    const QString &description() const noexcept { return m_description; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};

// A path, or other text from outside, as a description shows it: control and
// format characters (line breaks, bidirectional overrides) as escapes, so that
// they can neither break the report's lines nor reorder them.
QString shownPath(const QString &path);

// The platform's standard descriptions, for failures of our own making.
namespace Description {
inline QString typeMismatch()
{
    return QStringLiteral("Type mismatch");
}
inline QString overflow()
{
    return QStringLiteral("Overflow");
}
inline QString invalidPropertyValue()
{
    return QStringLiteral("Invalid property value");
}
inline QString invalidProcedureCall()
{
    return QStringLiteral("Invalid procedure call or argument");
}
inline QString fileNotFound()
{
    return QStringLiteral("File not found");
}
} // namespace Description

} // namespace errors
