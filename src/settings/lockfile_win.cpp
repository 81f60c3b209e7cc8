#include "settings/lockfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>

#include <optional>
#include <utility>

// Windows has no pipes or devices to meet at a path in the user's folders:
// QLockFile itself reads a lock that is there and takes over a stale one.
namespace settings::file {

namespace {

constexpr qint64 kMaxLockSize = 4096;
constexpr int kMaxChain = 4;

QByteArray lockContents()
{
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return QByteArray::number(QCoreApplication::applicationPid()) + '\n' + program.toUtf8() + '\n'
           + QSysInfo::machineHostName().toUtf8() + '\n' + QSysInfo::machineUniqueId() + '\n'
           + QSysInfo::bootUniqueId() + '\n';
}

bool isAbsentOrSmallFile(const QString &path)
{
    const QFileInfo info(path);
    return !info.isSymLink() && (!info.exists() || (info.isFile() && info.size() <= kMaxLockSize));
}

// QLockFile guards its removal of a stale lock with <lock>.rmlock, and that
// one with <lock>.rmlock.rmlock, and so on, to the first name that is free.
bool isSafeChain(QString name)
{
    for (int depth = 0; depth < kMaxChain; ++depth, name += QStringLiteral(".rmlock")) {
        if (!isAbsentOrSmallFile(name))
            return false;
        if (!QFileInfo::exists(name))
            return true;
    }
    return false;
}

// Created with its contents in one step: a program killed while taking it
// leaves no empty lock that others would wait on.
bool createWhole(const QString &path, const QByteArray &bytes, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        *error = QFileInfo::exists(path) ? QString() : file.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        *error = file.errorString();
        file.remove();
        return false;
    }
    return true;
}

} // namespace

struct LockFile::Held
{
    bool created = false;
    std::optional<QLockFile> takenOver;
};

LockFile::LockFile(QString path)
    : m_path(std::move(path))
    , m_held(std::make_unique<Held>())
{}

LockFile::~LockFile()
{
    if (m_held->created)
        QFile::remove(m_path);
}

LockFile::Attempt LockFile::tryLock()
{
    if (!isSafeChain(m_path))
        return Attempt::NotALock;
    if (createWhole(m_path, lockContents(), &m_why)) {
        m_held->created = true;
        return Attempt::Taken;
    }
    if (!m_why.isEmpty())
        return Attempt::CannotCreate;
    m_held->takenOver.emplace(m_path);
    if (m_held->takenOver->tryLock(0))
        return Attempt::Taken;
    m_held->takenOver.reset();
    return Attempt::Held;
}

} // namespace settings::file
