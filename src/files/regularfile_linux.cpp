#include "files/regularfile_linux.h"

#include "files/regularfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace files {

RegularFile openRegular(int folder, const char *name, int flags)
{
    RegularFile opened;
    opened.fd = handles::Descriptor(
        ::openat(folder, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | flags));
    if (!opened.fd.isValid()) {
        opened.error = errno;
        return opened;
    }
    if (::fstat(opened.fd.get(), &opened.info) != 0 || !S_ISREG(opened.info.st_mode))
        opened.fd = handles::Descriptor();
    return opened;
}

bool openReadable(QFile &file, const QString &path, QString &why)
{
    RegularFile opened = openRegular(AT_FDCWD, QFile::encodeName(path).constData());
    if (!opened.fd.isValid()) {
        why = opened.error != 0 ? QString::fromLocal8Bit(std::strerror(opened.error))
                                : QStringLiteral("not a regular file");
        return false;
    }
    const int fd = opened.fd.get();
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        why = file.errorString();
        return false;
    }
    opened.fd.release();
    return true;
}

} // namespace files
