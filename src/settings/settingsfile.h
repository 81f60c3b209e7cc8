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

// Creates folder and the folders above it that are missing, private to the user.
bool makeFolder(const QString &folder);

// Whether path names nothing, or a regular file that is no link.
bool isAbsentOrPlainFile(const QString &path);

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
// commit(); flushFolderOf(target) makes the rename durable. An existing file's mode and owner are
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
};

inline void replace(const QString &target, const QByteArray &bytes)
{
    Replacement(target, bytes).commit();
    flushFolderOf(target);
}

} // namespace settings::file
