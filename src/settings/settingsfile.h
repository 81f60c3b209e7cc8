#pragma once

#include <QByteArray>
#include <QString>

// The file system under the settings file: reads that cannot block on
// whatever sits at the path, and replacements that are atomic and durable.
namespace settings::file {

struct Contents
{
    enum class Kind {
        Missing,    // nothing at the path (a dangling link counts as nothing)
        Regular,    // a regular file, or a link to one; bytes holds it
        Irregular,  // a folder, pipe, device or socket: neither read nor written
        Unreadable, // a regular file that could not be read; error says why
    };
    Kind kind = Kind::Missing;
    QByteArray bytes;
    QString error;
    QByteArray stamp; // see stamp()
};

// Tells one version of the file at path from another: equal stamps mean the
// file was not replaced or changed in between. Empty when nothing is there.
QByteArray stamp(const QString &path);

// Creates folder, private to the user, when the folder above it is there.
bool makeFolder(const QString &folder);

// Whether path names nothing, or a regular file of at most maxSize bytes
// that is no link.
bool isAbsentOrSmallFile(const QString &path, qint64 maxSize);

// Creates the file path holding bytes in one step, so that nobody ever sees
// it empty or half written. Returns false, with error empty, when something
// is at path already; false with the reason when it cannot be created.
bool createWhole(const QString &path, const QByteArray &bytes, QString *error);

// Whether the lock file at path was left behind half made: no owner written
// in it, older than a second, and nobody holding it.
bool isAbandonedLock(const QString &path);

// Removes temporary files of saves into target that were killed over a
// minute ago.
void removeStaleTemporaries(const QString &target);

// The user's home folder: $HOME when it is an absolute path, otherwise the
// one the system's user database gives.
QString homeFolder();

// Makes a committed replacement of path durable (the rename in its folder).
void flushFolderOf(const QString &path);

// Reads the file at path without ever opening anything but a regular file.
Contents read(const QString &path);

// The file that a save to path replaces: path itself (also when nothing is
// there yet), or the regular file a link at path leads to. Throws
// errors::Failure when path is a dangling link or anything but a regular file
// or a link to one, or when that file is read-only.
QString writableTarget(const QString &path);

// A new version of the regular file target: written to a temporary file in
// the same folder and flushed to disk when made, renamed over target by
// commit(); flushFolderOf(target) makes the rename durable. Where the system
// allows, the file has no name until commit(), so a program killed meanwhile
// leaves nothing behind. An existing file's mode and owner are
// kept; a new file is readable by its owner only. Throws errors::Failure with the reason.
class Replacement
{
public:
    Replacement(QString target, const QByteArray &bytes);
    ~Replacement(); // removes the temporary file unless committed
    Q_DISABLE_COPY_MOVE(Replacement)

    void commit();

private:
    QString m_target;
    QString m_temporary;
    int m_unnamed = -1; // a file written without a name yet, where the system has them
};

inline void replace(const QString &target, const QByteArray &bytes)
{
    Replacement(target, bytes).commit();
    flushFolderOf(target);
}

} // namespace settings::file
