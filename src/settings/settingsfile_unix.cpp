#include "settingsfile.h"

#include "failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/magic.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <utility>

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

// The kernel's own files (/proc, /sys) look regular but are no settings: they
// can hold secrets or stand for devices.
bool isKernelFile(int fd)
{
    struct statfs info = {};
    return ::fstatfs(fd, &info) == 0
           && (info.f_type == PROC_SUPER_MAGIC || info.f_type == SYSFS_MAGIC);
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

Contents tooLarge()
{
    return {Contents::Kind::Unreadable,
            {},
            QStringLiteral("the file is larger than %1 MiB").arg(kMaxSize >> 20),
            {}};
}

Contents readOpened(int fd)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || isKernelFile(fd))
        return {Contents::Kind::Irregular, {}, {}, {}};
    if (info.st_size > kMaxSize)
        return tooLarge();
    Contents contents{Contents::Kind::Regular, {}, {}, stampOf(info)};
    contents.bytes.reserve(info.st_size);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return {Contents::Kind::Unreadable, {}, reason(errno), {}};
        if (n == 0)
            return contents;
        contents.bytes.append(buffer, n);
        if (contents.bytes.size() > kMaxSize)
            return tooLarge();
    }
}

// An unnamed file in folder, where the system has them (O_TMPFILE).
int createUnnamed(const QString &folder)
{
#ifdef O_TMPFILE
    if (QFileInfo::exists(QStringLiteral("/proc/self/fd")))
        return ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC,
                      0600);
#endif
    errno = EOPNOTSUPP;
    return -1;
}

// A name beside target that no other file has.
QString freshNameBeside(const QString &target)
{
    const QFileInfo info(target);
    return info.dir().filePath(
        QStringLiteral(".%1.lumivex-%2.tmp")
            .arg(info.fileName(), QString::number(QRandomGenerator::global()->generate(), 36)));
}

// Gives the unnamed file fd a fresh name beside target, which is returned.
QString nameUnnamed(int fd, const QString &target)
{
    const QByteArray source = "/proc/self/fd/" + QByteArray::number(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = freshNameBeside(target);
        if (::linkat(AT_FDCWD, source.constData(), AT_FDCWD, QFile::encodeName(name).constData(),
                     AT_SYMLINK_FOLLOW)
            == 0)
            return name;
        if (errno != EEXIST)
            return {};
    }
    return {};
}

Descriptor createNamed(const QString &target, QString *name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = freshNameBeside(target);
        const int fd = ::open(QFile::encodeName(*name).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0 || errno != EEXIST)
            return Descriptor(fd);
    }
    errno = EEXIST;
    return Descriptor(-1);
}

} // namespace

QByteArray stamp(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? stampOf(info) : QByteArray();
}

bool makeFolder(const QString &folder)
{
    return ::mkdir(QFile::encodeName(folder).constData(), 0700) == 0 || errno == EEXIST;
}

bool isAbsentOrSmallFile(const QString &path, qint64 maxSize)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return errno == ENOENT;
    return S_ISREG(info.st_mode) && info.st_size <= maxSize;
}

QString homeFolder()
{
    const QString home = qEnvironmentVariable("HOME");
    if (QDir::isAbsolutePath(home))
        return home;
    const struct passwd *user = ::getpwuid(::getuid());
    return user && user->pw_dir ? QFile::decodeName(user->pw_dir) : QString();
}

bool createWhole(const QString &path, const QByteArray &bytes, QString *error)
{
    // Written first, then linked to its name, which fails if the name is taken.
    QString named;
    int unnamed = createUnnamed(QFileInfo(path).absolutePath());
    Descriptor fd(unnamed >= 0 ? unnamed : createNamed(path, &named).release());
    if (fd.get() < 0) {
        *error = reason(errno);
        return false;
    }
    ::fchmod(fd.get(), 0644);
    const QByteArray source = named.isEmpty() ? "/proc/self/fd/" + QByteArray::number(fd.get())
                                              : QFile::encodeName(named);
    const bool linked = writeAll(fd.get(), bytes)
                        && ::linkat(AT_FDCWD, source.constData(), AT_FDCWD,
                                    QFile::encodeName(path).constData(), AT_SYMLINK_FOLLOW)
                               == 0;
    const int linkError = errno;
    if (!named.isEmpty())
        ::unlink(QFile::encodeName(named).constData());
    *error = linked || linkError == EEXIST ? QString() : reason(linkError);
    return linked;
}

bool isAbandonedLock(const QString &path)
{
    Descriptor fd(::open(QFile::encodeName(path).constData(),
                         O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    struct stat info = {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)
        || info.st_size > 4096)
        return false;
    char buffer[4096];
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    const QByteArray firstLine = n > 0 ? QByteArray(buffer, n).split('\n').first() : QByteArray();
    bool isPid = false;
    firstLine.toLongLong(&isPid);
    // A program that holds a lock of this kind keeps an flock on it.
    return !isPid && ::time(nullptr) - info.st_mtime > 1
           && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
}

void removeStaleTemporaries(const QString &target)
{
    const QFileInfo info(target);
    const QString pattern = QStringLiteral(".%1.lumivex-*.tmp").arg(info.fileName());
    const QStringList names
        = info.dir().entryList({pattern}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        const QByteArray full = QFile::encodeName(info.dir().filePath(name));
        struct stat entry = {};
        // A save in progress made its file moments ago.
        if (::lstat(full.constData(), &entry) == 0 && S_ISREG(entry.st_mode)
            && entry.st_uid == ::geteuid() && ::time(nullptr) - entry.st_mtime > 60)
            ::unlink(full.constData());
    }
}

Contents read(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (::stat(name.constData(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP)
            return {};
        return {Contents::Kind::Unreadable, {}, reason(errno), {}};
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
    struct statfs where = {};
    const bool regular = ::stat(name.constData(), &info) == 0 && S_ISREG(info.st_mode)
                         && ::statfs(name.constData(), &where) == 0
                         && where.f_type != PROC_SUPER_MAGIC && where.f_type != SYSFS_MAGIC;
    if (!regular) {
        throw errors::Failure(QStringLiteral("%1 is %2, not a settings file")
                                  .arg(native(path), S_ISLNK(link.st_mode)
                                                         ? QStringLiteral("a link to something")
                                                         : QStringLiteral("something else")));
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
    const QString folder = QFileInfo(m_target).absolutePath();
    // The destructor does not run when the constructor throws.
    const auto fail = [&](const QString &what, int error) {
        if (m_unnamed >= 0)
            ::close(m_unnamed);
        if (!m_temporary.isEmpty())
            ::unlink(QFile::encodeName(m_temporary).constData());
        throw errors::Failure(
            QStringLiteral("Cannot %1 %2: %3").arg(what, native(m_target), reason(error)));
    };
    if (!makeFolder(folder))
        fail(QStringLiteral("create the folder of"), errno);
    struct stat existing = {};
    const bool replaces = ::stat(QFile::encodeName(m_target).constData(), &existing) == 0;
    const auto fill = [&](int fd) {
        if (replaces) {
            // Only root can give the file back to its owner; others own what they write.
            if (::geteuid() == 0) [[maybe_unused]]
                const int owned = ::fchown(fd, existing.st_uid, existing.st_gid);
            ::fchmod(fd, existing.st_mode & 07777);
        }
        return writeAll(fd, bytes) && ::fdatasync(fd) == 0;
    };
    m_unnamed = createUnnamed(folder);
    if (m_unnamed >= 0) {
        if (!fill(m_unnamed))
            fail(QStringLiteral("write the settings to"), errno);
        return;
    }
    Descriptor named = createNamed(m_target, &m_temporary);
    if (named.get() < 0) {
        const int error = errno;
        m_temporary.clear();
        fail(QStringLiteral("write the settings beside"), error);
    }
    if (!fill(named.get()) || ::close(named.release()) != 0)
        fail(QStringLiteral("write the settings to"), errno);
}

Replacement::~Replacement()
{
    if (m_unnamed >= 0)
        ::close(m_unnamed);
    if (!m_temporary.isEmpty())
        ::unlink(QFile::encodeName(m_temporary).constData());
}

void Replacement::commit()
{
    if (m_unnamed >= 0) {
        m_temporary = nameUnnamed(m_unnamed, m_target);
        if (m_temporary.isEmpty())
            throw errors::Failure(QStringLiteral("Cannot write the settings to %1: %2")
                                      .arg(native(m_target), reason(errno)));
    }
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
    // Makes the rename itself durable; some file systems cannot, which is no failure.
    Descriptor fd(::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0)
        ::fsync(fd.get());
}

} // namespace settings::file
