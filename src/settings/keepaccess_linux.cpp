#include "settings/keepaccess_linux.h"

#include "errors/failure.h"
#include "settings/filebasics_linux.h"
#include "settings/settingsstore.h"

#include <QByteArray>
#include <QList>

#include <cerrno>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <optional>

namespace settings::file::posix {

namespace {

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

} // namespace

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

} // namespace settings::file::posix
