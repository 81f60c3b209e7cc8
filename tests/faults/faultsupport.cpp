#include "faultsupport.h"

#include "fakemessagebox.h"

#include <QBuffer>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QStorageInfo>
#include <QTest>
#include <QThread>

#include <unistd.h>

namespace faults {

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(data) == data.size();
}

QByteArray garbageText()
{
    return QByteArrayLiteral("this is not\na settings file {\n\t<html>\xff\xfe unfinished\n");
}

QByteArray binaryBytes(qsizetype n)
{
    QRandomGenerator random(20211);
    QByteArray data(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        data[i] = static_cast<char>(random.bounded(256));
    data[0] = '\0';
    return data;
}

QByteArray hugeSettingsText(int megabytes, const QByteArray &tail)
{
    QByteArray data = QByteArrayLiteral("[Other]\n");
    const QByteArray filler(48, 'x');
    for (int i = 0; data.size() < qsizetype(megabytes) * 1024 * 1024; ++i)
        data += "key" + QByteArray::number(i) + '=' + filler + '\n';
    return data + tail;
}

bool writeHugePng(const QString &path, int width, int height)
{
    QImage image(width, height, QImage::Format_Mono);
    if (image.isNull())
        return false;
    image.fill(0);
    return image.save(path, "PNG");
}

QByteArray smallPng()
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(qRgba(200, 40, 40, 255));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

QStringList promptsContaining(const FakeMessageBox &box, const QString &text)
{
    QStringList found;
    for (const FakeMessageBox::Shown &shown : box.shown) {
        if (shown.prompt.contains(text))
            found.append(shown.prompt);
    }
    return found;
}

QComboBox *list(QWidget &form, const char *name)
{
    return form.findChild<QComboBox *>(QLatin1String(name));
}

ScratchMount::ScratchMount(const QString &folder, int kilobytes)
    : m_folder(folder)
{
    if (!available())
        return;
    QDir().mkpath(folder);
    m_mounted = runTool(QStringLiteral("mount"),
                        {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                         QStringLiteral("size=%1k,mode=0755").arg(kilobytes),
                         QStringLiteral("lumivex-faults"), folder});
}

ScratchMount::~ScratchMount()
{
    if (m_mounted)
        runTool(QStringLiteral("umount"), {QStringLiteral("-l"), m_folder});
}

bool ScratchMount::available()
{
    return geteuid() == 0 && QFile::exists(QStringLiteral("/bin/mount"));
}

bool ScratchMount::remountReadOnly()
{
    return m_mounted
           && runTool(QStringLiteral("mount"),
                      {QStringLiteral("-o"), QStringLiteral("remount,ro"), m_folder});
}

bool ScratchMount::fill()
{
    QFile filler(QDir(m_folder).filePath(QStringLiteral("filler")));
    if (!filler.open(QIODevice::WriteOnly))
        return false;
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();
    // Whatever is left is smaller than a page; the file system is full.
    QStorageInfo info(m_folder);
    info.refresh();
    return info.bytesAvailable() < 4096;
}

bool runTool(const QString &program, const QStringList &args, QByteArray *out, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (out)
        *out = process.readAll();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

ProgramRun::ProgramRun(const QString &configHome)
    : m_configHome(configHome)
{
    const QString opener = m_bin.filePath(QStringLiteral("xdg-open"));
    writeBytes(opener, QByteArrayLiteral("#!/bin/sh\necho \"$@\" >>\"${0%/*}/opened\"\n"));
    QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

ProgramRun::~ProgramRun()
{
    kill();
}

bool ProgramRun::start()
{
    m_process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"),
               m_bin.path() + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_configHome);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    m_process->setProcessEnvironment(env);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(QStringLiteral(LUMIVEX_PROGRAM), {});
    return m_process->waitForStarted(10000);
}

QString ProgramRun::waitForMainWindow(int timeoutMs)
{
    QByteArray out;
    for (int waited = 0; waited < timeoutMs && isRunning(); waited += 100) {
        if (runTool(QStringLiteral("xdotool"),
                    {QStringLiteral("search"), QStringLiteral("--all"),
                     QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                     QString::number(pid()), QStringLiteral("--name"),
                     QStringLiteral("^Lumivex Software$")},
                    &out)) {
            const QList<QByteArray> ids = out.trimmed().split('\n');
            if (!ids.isEmpty() && !ids.first().isEmpty()) {
                m_window = QString::fromLatin1(ids.first());
                return m_window;
            }
        }
        QThread::msleep(100);
    }
    return {};
}

bool ProgramRun::sendKeys(const QStringList &keys)
{
    if (m_window.isEmpty())
        return false;
    QStringList args{
        QStringLiteral("windowfocus"), QStringLiteral("--sync"),  m_window,
        QStringLiteral("key"),         QStringLiteral("--delay"), QStringLiteral("30")};
    return runTool(QStringLiteral("xdotool"), args + keys);
}

bool ProgramRun::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

qint64 ProgramRun::pid() const
{
    return m_process ? m_process->processId() : 0;
}

void ProgramRun::kill()
{
    if (!isRunning())
        return;
    m_process->kill();
    m_process->waitForFinished(10000);
}

bool ProgramRun::terminate(int timeoutMs)
{
    if (!isRunning())
        return true;
    m_process->terminate();
    return m_process->waitForFinished(timeoutMs);
}

QByteArray ProgramRun::output() const
{
    return m_process ? m_process->readAll() : QByteArray();
}

QString ProgramRun::opened() const
{
    return QString::fromLocal8Bit(readBytes(m_bin.filePath(QStringLiteral("opened"))));
}

} // namespace faults
