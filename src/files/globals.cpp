#include "files/globals.h"

#include <QDir>
#include <QFileInfo>

namespace Globals {

bool FileExists(const QString &path) noexcept
{
    try {
        if (path.isEmpty())
            return false;
        // Existing is having a time the system could read. Qt reports a time
        // of exactly the epoch, which some archives leave, as no time at all,
        // so the time itself is not asked for.
        return QFileInfo(path).exists();
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
