#include "files/regularfile.h"

#include <QFileInfo>

namespace files {

FileCheck checkFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {FileCheck::Kind::Missing, 0};
    if (!info.isFile())
        return {FileCheck::Kind::Irregular, 0};
    const qint64 size = info.size();
    return {size == 0 ? FileCheck::Kind::Empty : FileCheck::Kind::Readable, size};
}

} // namespace files
