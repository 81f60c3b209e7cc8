#include "errors/failure.h"

#include <QDir>

#include <utility>

namespace errors {

Failure::Failure(QString description)
    : m_description(std::move(description))
    , m_utf8(m_description.toUtf8())
{}

QString shownPath(const QString &path)
{
    QString shown;
    shown.reserve(path.size());
    for (const QChar c : QDir::toNativeSeparators(path)) {
        switch (c.category()) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Other_Surrogate:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            shown += c.unicode() <= 0xFF
                         ? QStringLiteral("\\x%1").arg(uint(c.unicode()), 2, 16, QLatin1Char('0'))
                         : QStringLiteral("\\u%1").arg(uint(c.unicode()), 4, 16, QLatin1Char('0'));
            break;
        default:
            shown += c;
        }
    }
    return shown;
}

} // namespace errors
