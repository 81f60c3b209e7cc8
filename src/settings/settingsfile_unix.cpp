#include "settingsfile.h"

#include "failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace settings::file {

namespace {

// Far beyond any settings file; a bigger one is not read into memory.
constexpr qint64 kMaxSize = 256 * 1024 * 1024;

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

class Descriptor
{
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Q_DISABLE_COPY_MOVE(Descriptor)

    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

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

QByteArray stampOf(const struct stat &info)
{
    return QByteArray::number(quint64(info.st_dev)) + ':'
           + QByteArray::number(quint64(info.st_ino)) + ':'
           + QByteArray::number(qint64(info.st_size)) + ':'
           + QByteArray::number(qint64(info.st_mtim.tv_sec)) + '.'
           + QByteArray::number(qint64(info.st_mtim.tv_nsec)) + ':'
           + QByteArray::number(qint64(info.st_ctim.tv_sec)) + '.'
           + QByteArray::number(qint64(info.st_ctim.tv_nsec));
}

Contents readOpened(int fd)
{
    Contents contents;
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        contents.kind = Contents::Kind::Irregular;
        return contents;
    }
    if (info.st_size > kMaxSize) {
        contents.kind = Contents::Kind::Unreadable;
        contents.error = QStringLiteral("the file is larger than %1 MiB").arg(kMaxSize >> 20);
        return contents;
    }
    contents.kind = Contents::Kind::Regular;
    contents.stamp = stampOf(info);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            contents.kind = Contents::Kind::Unreadable;
            contents.error = reason(errno);
            return contents;
        }
        if (n == 0)
            return contents;
        contents.bytes.append(buffer, n);
        if (contents.bytes.size() > kMaxSize) {
            contents.kind = Contents::Kind::Unreadable;
            contents.error = QStringLiteral("the file is larger than %1 MiB").arg(kMaxSize >> 20);
            return contents;
        }
    }
}

// A name beside target that no other file has.
Descriptor createTemporary(const QString &target, QString *name)
{
    const QFileInfo info(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = info.dir().filePath(QStringLiteral(".%1.%2").arg(
            info.fileName(), QString::number(QRandomGenerator::global()->generate(), 36)));
        const int fd = ::open(QFile::encodeName(*name).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0 || errno != EEXIST)
            return Descriptor(fd);
    }
    errno = EEXIST;
    return Descriptor(-1);
}

void syncFolder(const QString &folder)
{
    // Makes the rename itself durable; some file systems cannot, which is no failure.
    Descriptor fd(
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0)
        ::fsync(fd.get());
}

} // namespace

bool makeFolder(const QString &folder)
{
    const QByteArray name = QFile::encodeName(folder);
    if (::mkdir(name.constData(), 0700) == 0 || errno == EEXIST)
        return true;
    if (errno != ENOENT)
        return false;
    const QString parent = QFileInfo(folder).absolutePath();
    return parent != folder && makeFolder(parent)
           && (::mkdir(name.constData(), 0700) == 0 || errno == EEXIST);
}

QByteArray stamp(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? stampOf(info) : QByteArray();
}

Contents read(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (::stat(name.constData(), &info) != 0) {
        Contents contents;
        if (errno != ENOENT && errno != ENOTDIR) {
            contents.kind = Contents::Kind::Unreadable;
            contents.error = reason(errno);
        }
        return contents;
    }
    if (!S_ISREG(info.st_mode))
        return {Contents::Kind::Irregular, {}, {}, {}};
    // Non-blocking, in case a pipe took the file's place since the check.
    Descriptor fd(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        return {Contents::Kind::Unreadable, {}, reason(errno), {}};
    return readOpened(fd.get());
}

QString writableTarget(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat link = {};
    if (::lstat(name.constData(), &link) != 0)
        return path;
    struct stat info = {};
    const bool exists = ::stat(name.constData(), &info) == 0;
    if (!exists || !S_ISREG(info.st_mode)) {
        throw errors::Failure(
            QStringLiteral("%1 is %2, not a settings file")
                .arg(native(path), !exists ? QStringLiteral("a link that leads nowhere")
                                   : S_ISDIR(info.st_mode)  ? QStringLiteral("a folder")
                                   : S_ISFIFO(info.st_mode) ? QStringLiteral("a pipe")
                                   : S_ISLNK(link.st_mode)
                                       ? QStringLiteral("a link to a device or socket")
                                       : QStringLiteral("a device or socket")));
    }
    const QString target = S_ISLNK(link.st_mode) ? QFileInfo(path).canonicalFilePath() : path;
    if (::access(QFile::encodeName(target).constData(), W_OK) != 0)
        throw errors::Failure(
            QStringLiteral("%1 cannot be written: %2").arg(native(target), reason(errno)));
    return target;
}

Replacement::Replacement(QString target, const QByteArray &bytes)
    : m_target(std::move(target))
{
    // The destructor does not run when the constructor throws.
    const auto fail = [&](const QString &what, int error) {
        if (!m_temporary.isEmpty())
            ::unlink(QFile::encodeName(m_temporary).constData());
        throw errors::Failure(
            QStringLiteral("Cannot %1 %2: %3").arg(what, native(m_target), reason(error)));
    };
    if (!makeFolder(QFileInfo(m_target).absolutePath()))
        fail(QStringLiteral("create the folder of"), errno);
    Descriptor fd = createTemporary(m_target, &m_temporary);
    if (fd.get() < 0) {
        const int error = errno;
        m_temporary.clear();
        fail(QStringLiteral("write the settings beside"), error);
    }
    struct stat existing = {};
    if (::stat(QFile::encodeName(m_target).constData(), &existing) == 0) {
        // Only root can give the file back to its owner; others own what they write.
        if (::geteuid() == 0) [[maybe_unused]]
            const int owned = ::fchown(fd.get(), existing.st_uid, existing.st_gid);
        ::fchmod(fd.get(), existing.st_mode & 07777);
    }
    if (!writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0 || ::close(fd.release()) != 0)
        fail(QStringLiteral("write the settings to"), errno);
}

Replacement::~Replacement()
{
    if (!m_temporary.isEmpty())
        ::unlink(QFile::encodeName(m_temporary).constData());
}

void Replacement::commit()
{
    if (::rename(QFile::encodeName(m_temporary).constData(),
                 QFile::encodeName(m_target).constData())
        != 0) {
        throw errors::Failure(QStringLiteral("Cannot write the settings to %1: %2")
                                  .arg(native(m_target), reason(errno)));
    }
    m_temporary.clear();
}

void flushFolderOf(const QString &path)
{
    syncFolder(QFileInfo(path).absolutePath());
}

bool isAbsentOrPlainFile(const QString &path)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return errno == ENOENT;
    return S_ISREG(info.st_mode);
}

} // namespace settings::file
