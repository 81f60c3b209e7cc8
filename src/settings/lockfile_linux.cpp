#include "settings/lockfile.h"

#include "files/regularfile_linux.h"
#include "settings/filebasics_linux.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <utility>

namespace settings::file {

namespace {

using handles::Descriptor;

// A lock holds a few short lines.
constexpr qint64 kMaxLockSize = 4096;
// QLockFile's staleLockTime.
constexpr qint64 kStaleMs = 30000;
// A lock without an owner, older than this and held by nobody, was left by a
// program killed while it made the lock.
constexpr qint64 kAbandonedMs = 1000;
// <lock>.rmlock, <lock>.rmlock.rmlock, ...
constexpr int kMaxChain = 4;

// The name QLockFile gives the program that runs as pid, or "/ERROR/" for
// one that is gone; empty without /proc.
QString processNameByPid(qint64 pid)
{
    if (::access("/proc/version", F_OK) != 0)
        return {};
    const QByteArray exe = "/proc/" + QByteArray::number(pid) + "/exe";
    QByteArray target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(exe.constData(), target.data(), size_t(target.size()));
    if (n <= 0)
        return QStringLiteral("/ERROR/");
    target.truncate(n);
    const QByteArray deleted(" (deleted)");
    if (target.endsWith(deleted))
        target.chop(deleted.size());
    return QFile::decodeName(posix::namePart(target));
}

// Read from files each time Qt is asked; neither changes while the program runs.
const QByteArray &machineId()
{
    static const QByteArray id = QSysInfo::machineUniqueId();
    return id;
}

const QByteArray &bootId()
{
    static const QByteArray id = QSysInfo::bootUniqueId();
    return id;
}

QByteArray lockContents()
{
    return QByteArray::number(QCoreApplication::applicationPid()) + '\n'
           + processNameByPid(QCoreApplication::applicationPid()).toUtf8() + '\n'
           + QSysInfo::machineHostName().toUtf8() + '\n' + machineId() + '\n' + bootId() + '\n';
}

struct Owner
{
    qint64 pid = 0;
    QString program;
    QString host;
    QByteArray hostId;
    QByteArray bootId;
};

// The owner as QLockFile reads it: each line up to its '\n', less its last byte.
std::optional<Owner> ownerIn(const QByteArray &bytes)
{
    qsizetype at = 0;
    const auto nextLine = [&] {
        if (at >= bytes.size())
            return QByteArray();
        const qsizetype lineBreak = bytes.indexOf('\n', at);
        const qsizetype end = lineBreak < 0 ? bytes.size() : lineBreak + 1;
        QByteArray line = bytes.mid(at, end - at);
        at = end;
        line.chop(1);
        return line;
    };
    const QByteArray pidLine = nextLine();
    if (pidLine.isEmpty())
        return std::nullopt;
    Owner owner;
    owner.program = QString::fromUtf8(nextLine());
    owner.host = QString::fromUtf8(nextLine());
    owner.hostId = nextLine();
    owner.bootId = nextLine();
    bool ok = false;
    owner.pid = pidLine.toLongLong(&ok);
    if (!ok || owner.pid <= 0)
        return std::nullopt;
    return owner;
}

bool isProcessRunning(qint64 pid, const QString &program)
{
    // No such pid: QLockFile finds no program of that number in /proc either.
    if (pid > std::numeric_limits<pid_t>::max())
        return false;
    if (::kill(pid_t(pid), 0) == -1 && errno == ESRCH)
        return false;
    const QString running = processNameByPid(pid);
    if (running.isEmpty())
        return true;
    // QLockFile follows a link of that name in the current folder; Qt writes
    // a bare name, and no path a lock names elsewhere is looked at.
    QFileInfo named(program);
    if (!program.contains(u'/') && named.isSymLink())
        named.setFile(named.symLinkTarget());
    return running == named.fileName();
}

struct Found
{
    enum class Kind { Nothing, Lock, NotALock, Unreadable };
    Kind kind = Kind::Nothing;
    Descriptor fd;
    QByteArray bytes;
    struct stat info = {};
};

// The lock at path, opened as only a lock may be: no link followed, nothing
// that waits for a writer, a regular file of a few lines.
Found readLock(const QByteArray &path)
{
    Found found;
    struct stat before = {};
    if (::lstat(path.constData(), &before) != 0) {
        found.kind = errno == ENOENT ? Found::Kind::Nothing : Found::Kind::Unreadable;
        return found;
    }
    found.kind = Found::Kind::NotALock;
    if (!S_ISREG(before.st_mode) || before.st_size > kMaxLockSize)
        return found;
    files::RegularFile opened = files::openRegular(AT_FDCWD, path.constData(), O_NOFOLLOW);
    if (!opened.fd.isValid()) {
        if (opened.error == ENOENT || opened.error == EACCES)
            found.kind = opened.error == ENOENT ? Found::Kind::Nothing : Found::Kind::Unreadable;
        return found;
    }
    found.fd = std::move(opened.fd);
    found.info = opened.info;
    if (found.info.st_size > kMaxLockSize)
        return found;
    char buffer[kMaxLockSize + 1];
    qsizetype total = 0;
    while (total < qsizetype(sizeof buffer)) {
        const ssize_t n = ::read(found.fd.get(), buffer + total, sizeof buffer - size_t(total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return found;
        if (n == 0)
            break;
        total += n;
    }
    if (total > kMaxLockSize)
        return found;
    found.bytes = QByteArray(buffer, total);
    found.kind = Found::Kind::Lock;
    return found;
}

qint64 ageMs(const struct stat &info)
{
    const qint64 modified
        = qint64(info.st_mtim.tv_sec) * 1000 + qint64(info.st_mtim.tv_nsec) / 1000000;
    return qAbs(QDateTime::currentMSecsSinceEpoch() - modified);
}

// QLockFile's rule: another boot, an owner that has ended, or 30 s; and one
// of Lumivex's own: a lock that a program killed while making it left empty.
bool isStale(const Found &lock)
{
    const qint64 age = ageMs(lock.info);
    const std::optional<Owner> owner = ownerIn(lock.bytes);
    if (!owner)
        return age > kAbandonedMs;
    bool sameHost = owner->host.isEmpty() || owner->host == QSysInfo::machineHostName();
    if (!owner->hostId.isEmpty()) {
        const QByteArray &ours = machineId();
        if (!ours.isEmpty())
            sameHost = ours == owner->hostId;
    }
    if (sameHost) {
        if (!owner->bootId.isEmpty() && owner->bootId != bootId())
            return true;
        if (!isProcessRunning(owner->pid, owner->program))
            return true;
    }
    return age > kStaleMs;
}

// The lock, created with its contents in one step (a program killed while
// taking it leaves no empty lock) and flock()ed as QLockFile's are, so that
// no program takes it over while it is held. Invalid, with why empty, when
// the name is taken.
Descriptor create(const QByteArray &path, QString *why)
{
    const Descriptor folder(
        ::open(posix::folderPart(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        *why = posix::reason(errno);
        return Descriptor();
    }
    const QByteArray name = posix::namePart(path);
    QByteArray named;
    Descriptor fd(posix::createUnnamed(folder.get()));
    if (fd.get() < 0)
        fd = posix::createNamed(folder.get(), name, &named);
    if (fd.get() < 0) {
        *why = posix::reason(errno);
        return Descriptor();
    }
    ::fchmod(fd.get(), 0644);
    ::flock(fd.get(), LOCK_EX | LOCK_NB);
    const QByteArray unnamed = "/proc/self/fd/" + QByteArray::number(fd.get());
    const bool linked = posix::writeAll(fd.get(), lockContents())
                        && (named.isEmpty() ? ::linkat(AT_FDCWD, unnamed.constData(), folder.get(),
                                                       name.constData(), AT_SYMLINK_FOLLOW)
                                            : ::linkat(folder.get(), named.constData(),
                                                       folder.get(), name.constData(), 0))
                               == 0;
    const int linkError = errno;
    if (!named.isEmpty())
        ::unlinkat(folder.get(), named.constData(), 0);
    if (linked)
        return fd;
    *why = linkError == EEXIST ? QString() : posix::reason(linkError);
    return Descriptor();
}

bool namesFile(const QByteArray &path, int fd)
{
    struct stat named = {};
    struct stat held = {};
    return ::lstat(path.constData(), &named) == 0 && ::fstat(fd, &held) == 0
           && named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

void release(const QByteArray &path, Descriptor &fd)
{
    if (fd.get() >= 0 && namesFile(path, fd.get()))
        ::unlink(path.constData());
    fd = Descriptor();
}

LockFile::Attempt attempt(const QByteArray &path, int depth, Descriptor *held, QString *why);

// Removes the stale lock at path as QLockFile does, under <path>.rmlock: only
// when it is still stale there, and nobody holds it.
bool removeStale(const QByteArray &path, int depth)
{
    if (depth + 1 >= kMaxChain)
        return false;
    const QByteArray removalPath = path + ".rmlock";
    Descriptor removal;
    QString why;
    if (attempt(removalPath, depth + 1, &removal, &why) != LockFile::Attempt::Taken)
        return false;
    Found again = readLock(path);
    const bool removed = again.kind == Found::Kind::Lock && isStale(again)
                         && ::flock(again.fd.get(), LOCK_EX | LOCK_NB) == 0
                         && namesFile(path, again.fd.get()) && ::unlink(path.constData()) == 0;
    release(removalPath, removal);
    return removed;
}

LockFile::Attempt attempt(const QByteArray &path, int depth, Descriptor *held, QString *why)
{
    // Making a lock costs more than looking: one that is there is read first.
    struct stat there = {};
    if (::lstat(path.constData(), &there) != 0) {
        *held = create(path, why);
        if (held->get() >= 0)
            return LockFile::Attempt::Taken;
        if (!why->isEmpty())
            return LockFile::Attempt::CannotCreate;
    }
    const Found lock = readLock(path);
    switch (lock.kind) {
    case Found::Kind::Nothing:
    case Found::Kind::Unreadable:
        return LockFile::Attempt::Held;
    case Found::Kind::NotALock:
        return LockFile::Attempt::NotALock;
    case Found::Kind::Lock:
        break;
    }
    if (!isStale(lock) || !removeStale(path, depth))
        return LockFile::Attempt::Held;
    *held = create(path, why);
    if (held->get() >= 0)
        return LockFile::Attempt::Taken;
    return why->isEmpty() ? LockFile::Attempt::Held : LockFile::Attempt::CannotCreate;
}

} // namespace

struct LockFile::Held
{
    Descriptor fd;
};

LockFile::LockFile(QString path)
    : m_path(std::move(path))
    , m_held(std::make_unique<Held>())
{}

LockFile::~LockFile()
{
    release(QFile::encodeName(QFileInfo(m_path).absoluteFilePath()), m_held->fd);
}

LockFile::Attempt LockFile::tryLock()
{
    m_why.clear();
    return attempt(QFile::encodeName(QFileInfo(m_path).absoluteFilePath()), 0, &m_held->fd,
                   &m_why);
}

} // namespace settings::file
