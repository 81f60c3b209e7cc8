#include "settings/settingsfile.h"

#include "errors/failure.h"
#include "files/regularfile_linux.h"
#include "settings/filebasics_linux.h"
#include "settings/resolve_linux.h"
#include "settings/settingsstore.h"

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
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <optional>
#include <utility>

namespace settings::file {

namespace {

using handles::Descriptor;
using posix::createNamed;
using posix::createUnnamed;
using posix::folderPart;
using posix::freshNameBeside;
using posix::namePart;
using posix::reason;
using posix::resolve;
using posix::Resolved;
using posix::writeAll;

// Far beyond any settings file; a bigger one is not read into memory.
constexpr qint64 kMaxSize = 256 * 1024 * 1024;
// A path that changes between a link and a file as often as it is read is
// hostile, not busy.
constexpr int kMaxReadsOfChangingPath = 20;

// The kernel's own files (/proc, /sys) look regular but are no settings: they
// can hold secrets or stand for devices.
bool isKernelFile(int fd)
{
    struct statfs info = {};
    return ::fstatfs(fd, &info) == 0
           && (info.f_type == PROC_SUPER_MAGIC || info.f_type == SYSFS_MAGIC);
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

// Reads the regular file fd, whose status is info.
Contents readOpened(int fd, const struct stat &info)
{
    if (isKernelFile(fd))
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

// Gives the unnamed file fd a fresh name beside name in folder, which is returned.
QByteArray nameUnnamed(int fd, int folder, const QByteArray &name)
{
    const QByteArray source = "/proc/self/fd/" + QByteArray::number(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray fresh = freshNameBeside(name);
        if (::linkat(AT_FDCWD, source.constData(), folder, fresh.constData(), AT_SYMLINK_FOLLOW)
            == 0)
            return fresh;
        if (errno != EEXIST)
            return {};
    }
    return {};
}

// The names of the extended attributes of fd, access control lists included.
QList<QByteArray> attributeNames(int fd)
{
    for (;;) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size <= 0)
            return {};
        QByteArray names(size, '\0');
        const ssize_t n = ::flistxattr(fd, names.data(), size_t(size));
        if (n < 0 && errno == ERANGE)
            continue;
        if (n <= 0)
            return {};
        names.truncate(n - 1);
        return names.split('\0');
    }
}

std::optional<QByteArray> attribute(int fd, const QByteArray &name)
{
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, name.constData(), nullptr, 0);
        if (size < 0)
            return std::nullopt;
        QByteArray value(size, '\0');
        const ssize_t n = ::fgetxattr(fd, name.constData(), value.data(), size_t(size));
        if (n < 0 && errno == ERANGE)
            continue;
        if (n < 0)
            return std::nullopt;
        value.truncate(n);
        return value;
    }
}

errors::Failure keepFailure(const QString &target, const QString &what, int error)
{
    return writeFailure(errors::shownPath(target),
                        QStringLiteral("its %1 cannot be kept (%2)").arg(what, reason(error)));
}

// Gives the new file to the old file's owner and group, with the same
// attributes and access control lists, then the same mode: a change of owner
// drops file capabilities and the set-id bits, and an access control list
// sets the group bits from its mask; the mode set last puts back the mask
// exactly as it was.
void copyAccess(int from, int to, const QString &target)
{
    struct stat old = {};
    if (::fstat(from, &old) != 0)
        throw keepFailure(target, QStringLiteral("owner"), errno);
    struct stat fresh = {};
    ::fstat(to, &fresh);
    if ((fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid)
        && ::fchown(to, old.st_uid, old.st_gid) != 0)
        throw keepFailure(target, QStringLiteral("owner or group"), errno);

    const QList<QByteArray> wanted = attributeNames(from);
    for (const QByteArray &name : wanted) {
        const std::optional<QByteArray> value = attribute(from, name);
        if (!value || attribute(to, name) == value)
            continue;
        if (::fsetxattr(to, name.constData(), value->constData(), size_t(value->size()), 0) != 0)
            throw keepFailure(target, QStringLiteral("attribute %1").arg(QString::fromUtf8(name)),
                              errno);
    }
    // What the folder gave the new file (a default access control list) goes.
    for (const QByteArray &name : attributeNames(to)) {
        if (!wanted.contains(name) && ::fremovexattr(to, name.constData()) != 0)
            throw keepFailure(target,
                              QStringLiteral("lack of attribute %1").arg(QString::fromUtf8(name)),
                              errno);
    }
    if (::fchmod(to, old.st_mode & 07777) != 0 || ::fstat(to, &fresh) != 0)
        throw keepFailure(target, QStringLiteral("mode"), errno);
    if ((fresh.st_mode & 07777) != (old.st_mode & 07777))
        throw keepFailure(
            target, QStringLiteral("mode %1").arg(old.st_mode & 07777, 4, 8, QLatin1Char('0')),
            EPERM);
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

QString homeFolder()
{
    const QString home = qEnvironmentVariable("HOME");
    if (QDir::isAbsolutePath(home))
        return home;
    const struct passwd *user = ::getpwuid(::getuid());
    return user && user->pw_dir ? QFile::decodeName(user->pw_dir) : QString();
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

struct Source::Opened
{
    Descriptor folder;     // the folder of the target
    Descriptor file;       // the target as read, when it is there
    QByteArray name;       // the target's name in folder
    QByteArray chain;      // the links followed to it
    struct stat info = {}; // the target as read
    bool missing = false;  // nothing at the target yet
    int unresolved = 0;    // why the path leads to no folder
};

Source::Source(const QString &path)
    : m_path(path)
    , m_target(path)
    , m_opened(std::make_unique<Opened>())
{
    const Resolved resolved = resolve(path);
    if (resolved.changed) {
        m_changing = true;
        return;
    }
    if (!resolved.refusal.isEmpty()) {
        m_contents = {Contents::Kind::Refused, {}, resolved.refusal, {}};
        return;
    }
    if (resolved.error == ENOENT || resolved.error == ENOTDIR || resolved.error == ELOOP) {
        m_opened->unresolved = resolved.error;
        m_opened->chain = resolved.chain;
        return;
    }
    if (resolved.error != 0) {
        const Contents::Kind kind
            = resolved.error == EISDIR ? Contents::Kind::Irregular : Contents::Kind::Unreadable;
        m_contents = {kind, {}, reason(resolved.error), {}};
        return;
    }
    m_target = QFile::decodeName(resolved.target);
    m_opened->chain = resolved.chain;
    m_opened->name = namePart(resolved.target);
    m_opened->folder = Descriptor(
        ::open(folderPart(resolved.target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_opened->folder.isValid()) {
        m_contents = {Contents::Kind::Unreadable, {}, reason(errno), {}};
        return;
    }
    // Opening a device can act on it (a tape rewinds, a watchdog starts): what
    // is no regular file is never opened. Non-blocking all the same, in case a
    // pipe is put there meanwhile; never through a link put there since the
    // path was resolved.
    // A path that changes kind meanwhile (a file put in place of a link, or a
    // link in place of a file) is read again, as a changed file is.
    struct stat before = {};
    if (::fstatat(m_opened->folder.get(), m_opened->name.constData(), &before, AT_SYMLINK_NOFOLLOW)
            == 0
        && !S_ISREG(before.st_mode)) {
        if ((before.st_mode & S_IFMT) != resolved.kind)
            m_changing = true;
        else
            m_contents = {Contents::Kind::Irregular, {}, {}, {}};
        return;
    }
    files::RegularFile opened
        = files::openRegular(m_opened->folder.get(), m_opened->name.constData(), O_NOFOLLOW);
    if (!opened.fd.isValid()) {
        const int error = opened.error;
        if (error == ENOENT)
            m_opened->missing = true;
        else if (error == 0 || error == ELOOP || error == ENXIO || error == ENODEV)
            m_changing = true; // it was a regular file a moment ago
        else
            m_contents = {Contents::Kind::Unreadable, {}, reason(error), {}};
        return;
    }
    m_opened->file = std::move(opened.fd);
    m_contents = readOpened(m_opened->file.get(), opened.info);
    if (::fstat(m_opened->file.get(), &m_opened->info) != 0)
        m_contents = {Contents::Kind::Unreadable, {}, reason(errno), {}};
}

Source::~Source() = default;

void Source::checkReplaceable() const
{
    if (m_changing)
        throw writeFailure(errors::shownPath(m_path),
                           QStringLiteral("it changed while it was being saved"));
    const auto notSettings = [&](const QString &what) {
        return errors::Failure(
            QStringLiteral("%1 is %2, not a settings file").arg(errors::shownPath(m_path), what));
    };
    switch (m_contents.kind) {
    case Contents::Kind::Missing:
        if (!m_opened->chain.isEmpty())
            throw notSettings(QStringLiteral("a link to something"));
        if (!m_opened->missing)
            throw writeFailure(errors::shownPath(m_path), reason(m_opened->unresolved));
        break;
    case Contents::Kind::Irregular:
        throw notSettings(m_opened->chain.isEmpty() ? QStringLiteral("something else")
                                                    : QStringLiteral("a link to something"));
    case Contents::Kind::Refused:
    case Contents::Kind::Unreadable:
        throw writeFailure(errors::shownPath(m_path), m_contents.error);
    case Contents::Kind::Regular:
        if (::faccessat(m_opened->folder.get(), m_opened->name.constData(), W_OK, 0) != 0)
            throw errors::Failure(QStringLiteral("%1 cannot be written: %2")
                                      .arg(errors::shownPath(m_target), reason(errno)));
        break;
    }
}

bool Source::isCurrent() const
{
    const Resolved now = resolve(m_path);
    if (now.error != 0 || !now.refusal.isEmpty() || now.chain != m_opened->chain
        || QFile::decodeName(now.target) != m_target)
        return false;
    // The folder held open is still the one at the target's path.
    struct stat held = {};
    struct stat named = {};
    if (::fstat(m_opened->folder.get(), &held) != 0
        || ::stat(folderPart(now.target).constData(), &named) != 0 || held.st_dev != named.st_dev
        || held.st_ino != named.st_ino)
        return false;
    struct stat info = {};
    if (::fstatat(m_opened->folder.get(), m_opened->name.constData(), &info, AT_SYMLINK_NOFOLLOW)
        != 0)
        return errno == ENOENT && m_opened->missing;
    return !m_opened->missing && S_ISREG(info.st_mode) && info.st_dev == m_opened->info.st_dev
           && info.st_ino == m_opened->info.st_ino && stampOf(info) == m_contents.stamp;
}

Contents read(const QString &path)
{
    for (int attempt = 0; attempt < kMaxReadsOfChangingPath; ++attempt) {
        const Source source(path);
        if (!source.isChanging())
            return source.contents();
    }
    return {
        Contents::Kind::Unreadable, {}, QStringLiteral("it kept changing while it was read"), {}};
}

Replacement::Replacement(const Source &source, const QByteArray &bytes)
    : m_source(source)
{
    const Source::Opened &opened = *source.m_opened;
    const QString &target = source.target();
    // The destructor does not run when the constructor throws.
    const auto cleanUp = [&] {
        if (m_unnamed >= 0)
            ::close(m_unnamed);
        if (!m_temporary.isEmpty())
            ::unlinkat(opened.folder.get(), QFile::encodeName(m_temporary).constData(), 0);
    };
    const auto fail = [&](const QString &what, int error) {
        cleanUp();
        throw errors::Failure(QStringLiteral("Cannot %1 %2: %3")
                                  .arg(what, errors::shownPath(target), reason(error)));
    };
    source.checkReplaceable();
    const auto fill = [&](int fd) {
        if (opened.file.isValid()) {
            try {
                copyAccess(opened.file.get(), fd, target);
            } catch (const errors::Failure &) {
                cleanUp();
                throw;
            }
        }
        return writeAll(fd, bytes) && ::fdatasync(fd) == 0;
    };
    m_unnamed = createUnnamed(opened.folder.get());
    if (m_unnamed >= 0) {
        if (!fill(m_unnamed))
            fail(QStringLiteral("write the settings to"), errno);
        return;
    }
    QByteArray fresh;
    Descriptor named = createNamed(opened.folder.get(), opened.name, &fresh);
    if (!named.isValid())
        fail(QStringLiteral("write the settings beside"), errno);
    m_temporary = QFile::decodeName(fresh);
    if (!fill(named.get()) || ::close(named.release()) != 0)
        fail(QStringLiteral("write the settings to"), errno);
}

Replacement::~Replacement()
{
    if (m_unnamed >= 0)
        ::close(m_unnamed);
    if (!m_temporary.isEmpty())
        ::unlinkat(m_source.m_opened->folder.get(), QFile::encodeName(m_temporary).constData(), 0);
}

void Replacement::commit()
{
    const Source::Opened &opened = *m_source.m_opened;
    if (m_unnamed >= 0) {
        m_temporary = QFile::decodeName(nameUnnamed(m_unnamed, opened.folder.get(), opened.name));
        if (m_temporary.isEmpty())
            throw writeFailure(errors::shownPath(m_source.target()), reason(errno));
    }
    if (::renameat(opened.folder.get(), QFile::encodeName(m_temporary).constData(),
                   opened.folder.get(), opened.name.constData())
        != 0) {
        throw writeFailure(errors::shownPath(m_source.target()), reason(errno));
    }
    m_temporary.clear();
}

void flushFolderOf(const QString &path)
{
    // Makes the rename itself durable; some file systems cannot, which is no failure.
    Descriptor fd(::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.isValid())
        ::fsync(fd.get());
}

} // namespace settings::file
