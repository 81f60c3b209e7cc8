#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

// Hostile file contents and small helpers shared by the fault tests.
namespace faults {

inline QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeBytes(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

inline QByteArray garbageText()
{
    return QByteArrayLiteral("this is not\na settings file {\n\t<html>\xff\xfe unfinished\n");
}

// Deterministic noise starting with a NUL byte, n bytes long.
inline QByteArray binaryBytes(qsizetype n)
{
    QRandomGenerator random(20211);
    QByteArray data(n, '\0');
    for (qsizetype i = 1; i < n; ++i)
        data[i] = static_cast<char>(random.bounded(256));
    return data;
}

inline bool runTool(const QString &program, const QStringList &args, QByteArray *out = nullptr)
{
    QProcess process;
    process.start(program, args);
    const bool finished = process.waitForFinished(20000);
    if (out)
        *out = process.readAllStandardOutput();
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Whether small file systems can be mounted in a test's scratch folder.
inline bool canMountFileSystems()
{
#ifdef Q_OS_UNIX
    return geteuid() == 0 && QFile::exists(QStringLiteral("/bin/mount"));
#else
    return false;
#endif
}

} // namespace faults
