#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

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
        Refused,    // a link that is not followed (see Source); error says why
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

// The settings file that a save to path reads, edits and replaces: the
// regular file that path leads to, through any links, fixed from the moment
// it is read. Never opens anything but a regular file. When the program runs
// as root, a link owned by another user, or a link in a folder that another
// user can write, is not followed (Contents::Kind::Refused).
class Source final
{
public:
    explicit Source(const QString &path);
    ~Source();
    Q_DISABLE_COPY_MOVE(Source)

    const Contents &contents() const { return m_contents; }
    // The file that path leads to: path itself when it is no link.
    const QString &target() const { return m_target; }

    // Throws errors::Failure, with the reason, when this file cannot be
    // replaced: it is no regular file, a link that leads nowhere or is not
    // followed, or read-only.
    void checkReplaceable() const;

    // Whether path still leads through the same links to the very file that
    // was read, unchanged since. Holding the save lock, this is what makes a
    // save replace only the file that it read.
    bool isCurrent() const;

    // Whether path changed kind as it was read (a link became a file, or a
    // file a link): contents() tells nothing then, and it is read again.
    bool isChanging() const { return m_changing; }

    struct Opened;

private:
    QString m_path;
    QString m_target;
    Contents m_contents;
    std::unique_ptr<Opened> m_opened;
    bool m_changing = false;

    friend class Replacement;
};

// A new version of the file that source was read from: written to a
// temporary file in the same folder and flushed to disk when made, renamed
// over that file by commit(); flushFolderOf(target) makes the rename durable.
// Where the system allows, the file has no name until commit(), so a program
// killed meanwhile leaves nothing behind. An existing file's owner, group,
// mode, access control lists and extended attributes are kept exactly, or
// the constructor throws, naming what cannot be kept; a new file is readable
// by its owner only. Other hard links to the file keep the version before the
// save. Throws errors::Failure with the reason.
class Replacement final
{
public:
    Replacement(const Source &source, const QByteArray &bytes);
    ~Replacement(); // removes the temporary file unless committed
    Q_DISABLE_COPY_MOVE(Replacement)

    void commit();

private:
    const Source &m_source;
    QString m_temporary;
    int m_unnamed = -1; // a file written without a name yet, where the system has them
};

} // namespace settings::file
