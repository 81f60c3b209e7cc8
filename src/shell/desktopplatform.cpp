#include "shell/desktopplatform.h"

#include "errors/failure.h"
#include "shell/endrequests.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QTime>
#include <QUrl>

namespace shell {

QString DesktopPlatform::programFolder() const
{
    return QCoreApplication::applicationDirPath();
}

float DesktopPlatform::secondsSinceMidnight() const
{
    return static_cast<float>(QTime::currentTime().msecsSinceStartOfDay()) / 1000.0f;
}

void DesktopPlatform::openUrl(const QUrl &address)
{
    if (!QDesktopServices::openUrl(address))
        throw errors::Failure(
            QStringLiteral("Cannot open %1 in the web browser").arg(address.toDisplayString()));
}

void DesktopPlatform::endProgram()
{
    QCoreApplication::quit();
}

bool DesktopPlatform::endRequested() const
{
    return shell::endRequested();
}

} // namespace shell
