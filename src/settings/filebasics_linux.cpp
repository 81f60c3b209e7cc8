#include "settings/filebasics_linux.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace settings::file::posix {

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool writeAll(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

int createUnnamed(int folder)
{
#ifdef O_TMPFILE
    if (QFileInfo::exists(QStringLiteral("/proc/self/fd")))
        return ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
#endif
    errno = EOPNOTSUPP;
    return -1;
}

QByteArray freshNameBeside(const QByteArray &name)
{
    return '.' + name + ".lumivex-"
           + QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".tmp";
}

handles::Descriptor createNamed(int folder, const QByteArray &name, QByteArray *fresh)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        *fresh = freshNameBeside(name);
        const int fd = ::openat(folder, fresh->constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0 || errno != EEXIST)
            return handles::Descriptor(fd);
    }
    errno = EEXIST;
    return handles::Descriptor(-1);
}

QByteArray folderPart(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

QByteArray namePart(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

} // namespace settings::file::posix
