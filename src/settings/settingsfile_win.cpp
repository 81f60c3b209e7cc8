#include "settings/settingsfile.h"

#include "errors/failure.h"
#include "settings/settingsstore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <windows.h>

// Windows has no pipes or devices to meet at a path in the user's folders, so
// Qt's file classes serve; the replacing rename is the system's own.
namespace settings::file {

namespace {

constexpr qint64 kMaxSize = 256 * 1024 * 1024;

} // namespace

QByteArray stamp(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    return QByteArray::number(info.size()) + ':'
           + QByteArray::number(info.lastModified().toMSecsSinceEpoch()) + ':'
           + QByteArray::number(info.metadataChangeTime().toMSecsSinceEpoch());
}

bool makeFolder(const QString &folder)
{
    return QDir(folder).exists() || QDir().mkdir(folder);
}

void removeStaleTemporaries(const QString &target)
{
    const QFileInfo info(target);
    const QString pattern = QStringLiteral(".%1.lumivex-*.tmp").arg(info.fileName());
    const QDateTime minuteAgo = QDateTime::currentDateTimeUtc().addSecs(-60);
    for (const QFileInfo &entry :
         info.dir().entryInfoList({pattern}, QDir::Files | QDir::Hidden)) {
        if (entry.lastModified() < minuteAgo)
            QFile::remove(entry.filePath());
    }
}

QString homeFolder()
{
    return QDir::homePath();
}

void flushFolderOf(const QString &)
{
    // MOVEFILE_WRITE_THROUGH has made the rename durable already.
}

Contents read(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    if (!info.isFile())
        return {Contents::Kind::Irregular, {}, {}, {}};
    if (info.size() > kMaxSize)
        return {Contents::Kind::Unreadable, {}, QStringLiteral("the file is too large"), {}};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {Contents::Kind::Unreadable, {}, file.errorString(), {}};
    const QByteArray before = stamp(path);
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {Contents::Kind::Unreadable, {}, file.errorString(), {}};
    return {Contents::Kind::Regular, bytes, {}, before};
}

struct Source::Opened
{
};

Source::Source(const QString &path)
    : m_path(path)
    , m_target(path)
    , m_contents(read(path))
{
    const QFileInfo info(path);
    if (info.isSymLink())
        m_target = info.canonicalFilePath();
}

Source::~Source() = default;

void Source::checkReplaceable() const
{
    const QFileInfo info(m_path);
    if (!info.exists() && !info.isSymLink())
        return;
    if (!info.isFile() || m_target.isEmpty())
        throw errors::Failure(
            QStringLiteral("%1 is not a settings file").arg(errors::shownPath(m_path)));
    if (m_contents.kind == Contents::Kind::Unreadable)
        throw writeFailure(errors::shownPath(m_path), m_contents.error);
    if (!info.isWritable())
        throw errors::Failure(QStringLiteral("%1 is read-only").arg(errors::shownPath(m_path)));
}

bool Source::isCurrent() const
{
    const QFileInfo info(m_path);
    const QString target = info.isSymLink() ? info.canonicalFilePath() : m_path;
    return target == m_target && stamp(m_target) == m_contents.stamp;
}

Replacement::Replacement(const Source &source, const QByteArray &bytes)
    : m_source(source)
{
    source.checkReplaceable();
    const QString &target = source.target();
    const QFileInfo info(target);
    QDir().mkpath(info.absolutePath());
    m_temporary = info.dir().filePath(
        QStringLiteral(".%1.lumivex-%2.tmp")
            .arg(info.fileName(), QString::number(QRandomGenerator::global()->generate(), 36)));
    QFile file(m_temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(bytes) != bytes.size()
        || !file.flush()) {
        const QString why = file.errorString();
        file.remove();
        m_temporary.clear();
        throw writeFailure(errors::shownPath(target), why);
    }
}

Replacement::~Replacement()
{
    if (!m_temporary.isEmpty())
        QFile::remove(m_temporary);
}

void Replacement::commit()
{
    const std::wstring from = QDir::toNativeSeparators(m_temporary).toStdWString();
    const QString &target = m_source.target();
    const std::wstring to = QDir::toNativeSeparators(target).toStdWString();
    if (!MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        throw writeFailure(errors::shownPath(target),
                           QStringLiteral("error %1").arg(GetLastError()));
    }
    m_temporary.clear();
}

} // namespace settings::file
