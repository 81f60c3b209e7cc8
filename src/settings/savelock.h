#pragma once

#include "errors/threadaffinity.h"
#include "settings/lockfile.h"

#include <QString>

namespace settings {

// The lock that programs sharing a settings file hold while they replace it:
// the file <settings file>.lock in QLockFile's format, so that QSettings in
// other programs honours it. Unlike QLockFile it is taken without a flush to
// disk, so holding it costs no wait for the disk. It belongs to the save
// that made it, on that save's thread (debug builds check).
class SaveLock final
{
public:
    explicit SaveLock(QString settingsFile);
    Q_DISABLE_COPY_MOVE(SaveLock)

    // Takes the lock, waiting waitMs at most. Throws errors::Failure when it
    // is held all that time, or cannot be taken.
    void take(int waitMs = kShortWaitMs);
    // The same, but false when the lock is held all that time.
    bool takeWithin(int waitMs);

    // Other programs hold the lock for a moment; one held longer belongs to
    // a program that hangs.
    static constexpr int kShortWaitMs = 250;

private:
    QString m_settingsFile;
    QString m_name;
    file::LockFile m_lock;
    errors::ThreadAffinity m_taker;
};

} // namespace settings
