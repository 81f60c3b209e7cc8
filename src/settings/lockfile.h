#pragma once

#include <QString>

#include <memory>

namespace settings::file {

// The lock file that programs sharing a file take while they replace it, in
// QLockFile's format and by its rules, so that Qt programs and Lumivex
// exclude each other: created with its owner's pid, program name, host name,
// machine and boot ids, one a line; held until removed; taken over when its
// owner has ended (or another boot or 30 s have passed), under <lock>.rmlock
// as QLockFile does. Unlike QLockFile it never opens anything but a small
// regular file to learn a lock's owner: no link is followed, nothing waits
// for a writer, and no more than a few lines are read.
class LockFile final
{
public:
    explicit LockFile(QString path);
    ~LockFile(); // removes the lock when it is held
    Q_DISABLE_COPY_MOVE(LockFile)

    enum class Attempt {
        Taken,
        Held,         // by another program, or for a moment by nobody
        NotALock,     // a folder, pipe, device, link or big file is in its place
        CannotCreate, // why() says why
    };

    // One attempt, which never waits.
    Attempt tryLock();
    const QString &why() const { return m_why; }

    struct Held;

private:
    QString m_path;
    QString m_why;
    std::unique_ptr<Held> m_held;
};

} // namespace settings::file
