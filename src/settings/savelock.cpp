#include "settings/savelock.h"

#include "errors/failure.h"
#include "settings/settingsfile.h"
#include "settings/settingsstore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QThread>

#include <utility>

namespace settings {

namespace {

constexpr int kPollMs = 2;
// A lock holds a few short lines.
constexpr qint64 kMaxLockSize = 4096;
constexpr int kMaxChain = 4;

QByteArray lockContents()
{
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return QByteArray::number(QCoreApplication::applicationPid()) + '\n' + program.toUtf8() + '\n'
           + QSysInfo::machineHostName().toUtf8() + '\n' + QSysInfo::machineUniqueId() + '\n'
           + QSysInfo::bootUniqueId() + '\n';
}

errors::Failure lockFailure(const QString &settingsFile, const QString &why)
{
    return writeFailure(errors::shownPath(settingsFile), why);
}

} // namespace

SaveLock::SaveLock(QString settingsFile)
    : m_settingsFile(std::move(settingsFile))
    , m_name(m_settingsFile + QStringLiteral(".lock"))
{}

SaveLock::~SaveLock()
{
    if (m_created)
        QFile::remove(m_name);
}

void SaveLock::take(int waitMs)
{
    if (!takeWithin(waitMs))
        throw lockFailure(m_settingsFile, QStringLiteral("another program holds its lock file %1")
                                              .arg(errors::shownPath(m_name)));
}

bool SaveLock::takeWithin(int waitMs)
{
    // QLockFile reads a lock it meets to learn its owner; it must never meet
    // a pipe or a device there.
    if (!isSafeChain())
        throw lockFailure(m_settingsFile,
                          QStringLiteral("%1 is not a lock file").arg(errors::shownPath(m_name)));
    const QDeadlineTimer deadline(waitMs);
    while (!tryTake()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(kPollMs);
    }
    return true;
}

// QLockFile guards its removal of a stale lock with <lock>.rmlock, and that
// one with <lock>.rmlock.rmlock, and so on, to the first name that is free.
bool SaveLock::isSafeChain() const
{
    QString name = m_name;
    for (int depth = 0; depth < kMaxChain; ++depth, name += QStringLiteral(".rmlock")) {
        if (!file::isAbsentOrSmallFile(name, kMaxLockSize))
            return false;
        if (!QFileInfo::exists(name))
            return true;
    }
    return false;
}

bool SaveLock::tryTake()
{
    // Created with its contents in one step: a program killed while taking
    // it leaves no empty lock that others would wait on.
    QString error;
    if (file::createWhole(m_name, lockContents(), &error)) {
        m_created = true;
        return true;
    }
    if (!error.isEmpty())
        throw lockFailure(m_settingsFile, QStringLiteral("its lock file %1 cannot be created: %2")
                                              .arg(errors::shownPath(m_name), error));
    // A lock that a killed program left empty would stand for QLockFile's 30 s.
    if (file::isAbandonedLock(m_name)) {
        QFile::remove(m_name);
        return false;
    }
    // Held: QLockFile knows whether its owner has ended, and takes it over if so.
    m_takenOver.emplace(m_name);
    if (m_takenOver->tryLock(0))
        return true;
    m_takenOver.reset();
    return false;
}

} // namespace settings
