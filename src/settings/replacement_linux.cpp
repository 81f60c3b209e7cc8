#include "settings/settingsfile.h"

#include "errors/failure.h"
#include "settings/filebasics_linux.h"
#include "settings/keepaccess_linux.h"
#include "settings/settingsstore.h"
#include "settings/source_linux.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The new version of the settings file on Linux: written beside the old one,
// with its access rules, and renamed over it.
namespace settings::file {

namespace {

using handles::Descriptor;
using posix::copyAccess;
using posix::createNamed;
using posix::createUnnamed;
using posix::freshNameBeside;
using posix::reason;
using posix::writeAll;

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

} // namespace

bool makeFolder(const QString &folder)
{
    return ::mkdir(QFile::encodeName(folder).constData(), 0700) == 0 || errno == EEXIST;
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
