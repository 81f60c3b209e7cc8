#include "shell/mainmodule.h"

#include "errors/failure.h"

#include <QCoreApplication>

namespace shell {

QString productName()
{
    return QStringLiteral("Lumivex Software");
}

QString applicationTitleFor(const QString &text)
{
    constexpr int kMaxTitleLength = 40;
    QString title = text;
    do {
        const qsizetype space = title.lastIndexOf(QLatin1Char(' '));
        if (space < 0)
            throw errors::Failure(errors::Description::invalidProcedureCall());
        title.truncate(space);
    } while (title.size() > kMaxTitleLength);
    return title;
}

void setApplicationTitle()
{
    QCoreApplication::setApplicationName(applicationTitleFor(productName()));
}

} // namespace shell
