#include "files/globals.h"

#include <QDir>
#include <QFileInfo>

namespace Globals {

bool FileExists(const QString &path) noexcept
{
    try {
        if (path.isEmpty())
            return false;
        const QFileInfo info(path);
        return info.exists() && info.lastModified().isValid();
    } catch (...) {
        return false;
    }
}

QString ProgramPath(const QString &programFolder, const QString &name)
{
    QString fixedName = name;
    fixedName.replace(QLatin1Char('\\'), QDir::separator());
    return programFolder + fixedName;
}

} // namespace Globals
