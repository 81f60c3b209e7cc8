#include "settings/resolve_linux.h"

#include "errors/failure.h"
#include "settings/filebasics_linux.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace settings::file::posix {

namespace {

// The kernel's protected_symlinks rule, stricter: root follows only its own
// links, in folders that no other user can write.
bool mayFollowAsRoot(const QByteArray &link, const struct stat &linkInfo)
{
    if (::geteuid() != 0)
        return true;
    struct stat folder = {};
    return linkInfo.st_uid == 0 && ::stat(folderPart(link).constData(), &folder) == 0
           && folder.st_uid == 0 && (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The folder with every link in it followed, as realpath() gives it; as root,
// a link that another user could have made is not followed, and named in refused.
QByteArray resolvedFolder(const QByteArray &folder, int *error, QByteArray *refused)
{
    if (::geteuid() != 0) {
        char *resolved = ::realpath(folder.constData(), nullptr);
        *error = resolved ? 0 : errno;
        const QByteArray result(resolved);
        ::free(resolved);
        return result;
    }
    QList<QByteArray> pending = folder.split('/');
    QByteArray done; // empty for "/"
    for (int links = 0; !pending.isEmpty();) {
        const QByteArray part = pending.takeFirst();
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            done.truncate(std::max<qsizetype>(0, done.lastIndexOf('/')));
            continue;
        }
        const QByteArray next = done + '/' + part;
        struct stat info = {};
        if (::lstat(next.constData(), &info) != 0) {
            *error = errno;
            return {};
        }
        if (S_ISDIR(info.st_mode)) {
            done = next;
            continue;
        }
        if (!S_ISLNK(info.st_mode) || ++links > 40) {
            *error = S_ISLNK(info.st_mode) ? ELOOP : ENOTDIR;
            return {};
        }
        if (!mayFollowAsRoot(next, info)) {
            *refused = next;
            return {};
        }
        QByteArray leadsTo(PATH_MAX, '\0');
        const ssize_t n = ::readlink(next.constData(), leadsTo.data(), size_t(PATH_MAX));
        if (n < 0 || n >= PATH_MAX) {
            *error = n < 0 ? errno : ENAMETOOLONG;
            return {};
        }
        leadsTo.truncate(n);
        if (leadsTo.startsWith('/'))
            done.clear();
        pending = leadsTo.split('/') + pending;
    }
    *error = 0;
    return done.isEmpty() ? QByteArray("/") : done;
}

QString refusalOf(const QByteArray &link)
{
    return QStringLiteral("%1 is a link that another user could have made, and the program "
                          "runs as root")
        .arg(errors::shownPath(QFile::decodeName(link)));
}

} // namespace

Resolved resolve(const QString &path)
{
    Resolved resolved;
    QByteArray current = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    // A chain as long as the system's own limit on links.
    for (int hop = 0; hop <= 40; ++hop) {
        QByteArray refused;
        const QByteArray folder = resolvedFolder(folderPart(current), &resolved.error, &refused);
        if (!refused.isEmpty()) {
            resolved.refusal = refusalOf(refused);
            return resolved;
        }
        if (resolved.error != 0) {
            // A folder link of the path that stopped being one (as root).
            resolved.changed = resolved.error == EINVAL;
            return resolved;
        }
        const QByteArray name = namePart(current);
        current = folder + (folder == "/" ? "" : "/") + name;
        resolved.target = current;
        struct stat info = {};
        if (name.isEmpty() || name == "." || name == "..") {
            resolved.error = EISDIR;
            return resolved;
        }
        if (::lstat(current.constData(), &info) != 0) {
            resolved.error = errno == ENOENT ? 0 : errno;
            return resolved;
        }
        if (!S_ISLNK(info.st_mode)) {
            resolved.kind = info.st_mode & S_IFMT;
            return resolved;
        }
        if (!mayFollowAsRoot(current, info)) {
            resolved.refusal = refusalOf(current);
            return resolved;
        }
        QByteArray leadsTo(PATH_MAX, '\0');
        const ssize_t n = ::readlink(current.constData(), leadsTo.data(), size_t(PATH_MAX));
        if (n < 0 || n >= PATH_MAX) {
            resolved.error = n < 0 ? errno : ENAMETOOLONG;
            // EINVAL: what was a link a moment ago is none now.
            resolved.changed = resolved.error == EINVAL;
            return resolved;
        }
        leadsTo.truncate(n);
        resolved.chain += current + '\0' + leadsTo + '\0';
        current = leadsTo.startsWith('/') ? leadsTo : folderPart(current) + '/' + leadsTo;
    }
    resolved.error = ELOOP;
    return resolved;
}

} // namespace settings::file::posix
