#include "settings/savelock.h"

#include "errors/failure.h"
#include "settings/settingsstore.h"

#include <QDeadlineTimer>
#include <QThread>

#include <utility>

namespace settings {

namespace {

constexpr int kPollMs = 2;

errors::Failure lockFailure(const QString &settingsFile, const QString &why)
{
    return writeFailure(errors::shownPath(settingsFile), why);
}

} // namespace

SaveLock::SaveLock(QString settingsFile)
    : m_settingsFile(std::move(settingsFile))
    , m_name(m_settingsFile + QStringLiteral(".lock"))
    , m_lock(m_name)
{}

void SaveLock::take(int waitMs)
{
    if (!takeWithin(waitMs))
        throw lockFailure(m_settingsFile, QStringLiteral("another program holds its lock file %1")
                                              .arg(errors::shownPath(m_name)));
}

bool SaveLock::takeWithin(int waitMs)
{
    m_taker.check();
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        switch (m_lock.tryLock()) {
        case file::LockFile::Attempt::Taken:
            return true;
        case file::LockFile::Attempt::NotALock:
            throw lockFailure(
                m_settingsFile,
                QStringLiteral("%1 is not a lock file").arg(errors::shownPath(m_name)));
        case file::LockFile::Attempt::CannotCreate:
            throw lockFailure(m_settingsFile,
                              QStringLiteral("its lock file %1 cannot be created: %2")
                                  .arg(errors::shownPath(m_name), m_lock.why()));
        case file::LockFile::Attempt::Held:
            break;
        }
        if (deadline.hasExpired())
            return false;
        QThread::msleep(kPollMs);
    }
}

} // namespace settings
