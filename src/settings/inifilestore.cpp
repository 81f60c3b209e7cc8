#include "inifilestore.h"

#include "initext.h"
#include "savelock.h"
#include "settingsfile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>

#include <utility>

namespace settings {

namespace {

// Rounds lost to other programs' saves end after this long.
constexpr int kSaveRoundsMs = 1000;

using file::Contents;

QString userConfigFolder()
{
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (QDir::isAbsolutePath(configured))
        return configured;
    return file::homeFolder() + QStringLiteral("/.config");
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

errors::Failure saveFailure(const QString &path, const QString &why)
{
    return errors::Failure(
        QStringLiteral("Cannot write the settings to %1: %2").arg(native(path), why));
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

QString IniFileStore::GetSetting(const QString &application, const QString &section,
                                 const QString &key, const QString &defaultValue)
{
    const QString path = location(application);
    const Contents contents = readKnown(path);
    if (contents.kind == Contents::Kind::Unreadable) {
        m_unreadable.insert(path);
        throw Unreadable(QStringLiteral("The settings in %1 cannot be read: %2")
                             .arg(native(path), contents.error));
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

void IniFileStore::SaveSetting(const QString &application, const QString &section,
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
    if (unchanged(readKnown(path)))
        return;

    const QString target = file::writableTarget(path);
    // The new file is written and flushed before the lock is taken, so the
    // lock is held only to check that nobody changed the file meanwhile and to
    // rename: others saving at the same time wait a moment at most. Someone
    // who did change it has made progress; the next round starts from that.
    const QDeadlineTimer deadline(kSaveRoundsMs);
    for (;;) {
        const Contents current = file::read(target);
        if (unchanged(current))
            return;
        file::Replacement replacement(target, edited(current, path, section, key, value));
        SaveLock lock(path);
        lock.take();
        if (file::stamp(target) == current.stamp) {
            replacement.commit();
            file::removeStaleTemporaries(target);
            file::flushFolderOf(target);
            return;
        }
        if (deadline.hasExpired())
            throw saveFailure(path, QStringLiteral("other programs keep changing it"));
    }
}

} // namespace settings
