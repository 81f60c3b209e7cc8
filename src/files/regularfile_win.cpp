#include "files/regularfile.h"

namespace files {

// Windows has no pipes or devices to meet at a path in the user's folders.
bool openReadable(QFile &file, const QString &path, QString &why)
{
    file.setFileName(path);
    if (file.open(QIODevice::ReadOnly))
        return true;
    why = file.errorString();
    return false;
}

} // namespace files
