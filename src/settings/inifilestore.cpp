#include "settings/inifilestore.h"

#include "errors/failure.h"
#include "settings/initext.h"
#include "settings/savelock.h"
#include "settings/settingsfile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>

#include <utility>

namespace settings {

namespace {

// Rounds lost to other programs' saves, or to a file swapped meanwhile, end
// after this long or this many rounds.
constexpr int kSaveRoundsMs = 1000;
constexpr int kMaxRounds = 20;
constexpr int kOptimisticRounds = 3;
// Taken first, the lock waits out a few others' whole saves.
constexpr int kLockFirstWaitMs = 3000;

using file::Contents;

QString userConfigFolder()
{
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (QDir::isAbsolutePath(configured))
        return configured;
    return file::homeFolder() + QStringLiteral("/.config");
}

errors::Failure saveFailure(const QString &path, const QString &why)
{
    return writeFailure(errors::shownPath(path), why);
}

// The text to save: the current file with the one value changed.
QByteArray edited(const Contents &current, const QString &path, const QString &section,
                  const QString &key, const QString &value)
{
    switch (current.kind) {
    case Contents::Kind::Missing:
    case Contents::Kind::Regular:
        break;
    case Contents::Kind::Irregular:
        throw saveFailure(path, QStringLiteral("it is not a regular file"));
    case Contents::Kind::Unreadable:
    case Contents::Kind::Refused:
        throw saveFailure(path, current.error);
    }
    if (auto text = ini::withValue(current.bytes, section, key, value))
        return *std::move(text);
    throw saveFailure(path, QStringLiteral("a subsection in it keeps the value from being read"));
}

} // namespace

IniFileStore::IniFileStore(QString folder)
    : m_folder(folder.isEmpty() ? userConfigFolder() : std::move(folder))
{}

QString IniFileStore::location(const QString &application) const
{
    return QDir(m_folder).filePath(application + QStringLiteral(".conf"));
}

// Start-up reads each setting in turn; a big file is read from disk once.
file::Contents IniFileStore::readKnown(const QString &path)
{
    const QByteArray stamp = file::stamp(path);
    if (stamp.isEmpty() || stamp != m_known.stamp || path != m_knownPath) {
        m_known = file::read(path);
        m_knownPath = path;
    }
    return m_known;
}

QString IniFileStore::setting(const QString &application, const QString &section,
                              const QString &key, const QString &defaultValue)
{
    const QString path = location(application);
    const Contents contents = readKnown(path);
    if (contents.kind == Contents::Kind::Unreadable) {
        m_unreadable.insert(path);
        throw Unreadable(QStringLiteral("The settings in %1 cannot be read: %2")
                             .arg(errors::shownPath(path), contents.error));
    }
    if (contents.kind != Contents::Kind::Regular)
        return defaultValue;
    const auto stored = ini::read(contents.bytes, section, key);
    if (!stored)
        return defaultValue;
    // A list or a typed value, as in the registry a value that is not text.
    if (stored->typed)
        throw errors::Failure(errors::Description::typeMismatch());
    return stored->text;
}

void IniFileStore::saveSetting(const QString &application, const QString &section,
                               const QString &key, const QString &value)
{
    const QString path = location(application);
    if (m_unreadable.contains(path))
        throw saveFailure(path,
                          QStringLiteral("the file could not be read, so it is left as it is"));
    const auto unchanged = [&](const Contents &contents) {
        if (contents.kind != Contents::Kind::Regular)
            return false;
        const auto stored = ini::read(contents.bytes, section, key);
        return stored && !stored->typed && stored->text == value;
    };
    // A file read at start-up and not changed since is not read again.
    if (path == m_knownPath && !m_known.stamp.isEmpty() && file::stamp(path) == m_known.stamp
        && unchanged(m_known))
        return;
    // A big file is not kept twice in memory.
    m_known = {};

    file::makeFolder(QFileInfo(path).absolutePath());
    // The new file is written and flushed before the lock is taken, so the
    // lock is held only to check that the path still leads to the very file
    // that was read, unchanged, and to rename: others saving at the same time
    // wait a moment at most. Someone who did change it has made progress; the
    // next round starts from that. A program that keeps losing these rounds
    // to busier ones takes the lock first, so that its turn comes.
    const QDeadlineTimer deadline(kSaveRoundsMs);
    for (int round = 1;; ++round) {
        const bool lockFirst = round > kOptimisticRounds;
        SaveLock lock(path);
        if (lockFirst)
            lock.take(kLockFirstWaitMs);
        const file::Source current(path);
        // A path that changed kind as it was read starts the round over, as
        // a changed file does.
        if (!current.isChanging()) {
            if (unchanged(current.contents()))
                return;
            file::Replacement replacement(current,
                                          edited(current.contents(), path, section, key, value));
            if (!lockFirst && !lock.takeWithin(SaveLock::kShortWaitMs))
                continue;
            if (current.isCurrent()) {
                replacement.commit();
                file::removeStaleTemporaries(current.target());
                file::flushFolderOf(current.target());
                return;
            }
        }
        // Only a program that ignores the lock can change the file now.
        if (lockFirst && (deadline.hasExpired() || round == kMaxRounds))
            throw saveFailure(path, QStringLiteral("it kept changing while it was being saved"));
    }
}

} // namespace settings
