#include "settings/settingsfile.h"

#include "errors/failure.h"
#include "files/regularfile_linux.h"
#include "settings/filebasics_linux.h"
#include "settings/resolve_linux.h"
#include "settings/settingsstore.h"
#include "settings/source_linux.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <linux/magic.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <utility>

// Reading the settings file on Linux: through the links that lead to it, and
// never opening anything but a regular file, nor waiting on what is there.
namespace settings::file {

namespace {

using handles::Descriptor;
using posix::folderPart;
using posix::namePart;
using posix::reason;
using posix::resolve;
using posix::Resolved;

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

} // namespace

QByteArray stamp(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? stampOf(info) : QByteArray();
}

QString homeFolder()
{
    const QString home = qEnvironmentVariable("HOME");
    if (QDir::isAbsolutePath(home))
        return home;
    const struct passwd *user = ::getpwuid(::getuid());
    return user && user->pw_dir ? QFile::decodeName(user->pw_dir) : QString();
}

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

} // namespace settings::file
