#include "files/regularfile.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

bool openReadable(QFile &file, const QString &path, QString &why)
{
#ifdef Q_OS_UNIX
    // Without blocking, so that a pipe with no writer does not hold the open;
    // what was opened is checked on the descriptor, not on the path.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        why = QStringLiteral("not a regular file");
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        why = file.errorString();
        return false;
    }
    return true;
#else
    file.setFileName(path);
    if (file.open(QIODevice::ReadOnly))
        return true;
    why = file.errorString();
    return false;
#endif
}

} // namespace files
