#include "errors/report.h"

#include "errors/messagebox.h"

namespace errors {

QString supportAddress()
{
    return QStringLiteral("support@quarnel.com");
}

QString handlerLocation(const char *window, const char *handler)
{
    return QStringLiteral("in Lumivex2021/08/31.%1.%2 ")
        .arg(QLatin1String(window), QLatin1String(handler));
}

QString applicationErrorText(const QString &description, const QString &location, quint16 line)
{
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ")
           + QString::number(line) + QStringLiteral("\r\r")
           + QStringLiteral("Please email screenshot of this message to ") + supportAddress();
}

void reportApplicationError(MessageBox &box, const QString &description, const QString &location,
                            quint16 line)
{
    box.show(applicationErrorText(description, location, line),
             MsgBoxStyle::OkOnly | MsgBoxStyle::Exclamation, QStringLiteral("Application Error"));
}

} // namespace errors
