// The settings store under faults: files that are missing, empty, garbage,
// binary or huge or hold other programs' data; pipes, devices, links and locks
// at its path; stores that cannot be read or written; many programs saving at
// once. The program keeps going, never blocks, says once what went wrong, and
// never loses or harms what was there.
#include "settingsfaults.h"

#include "fakeplatform.h"
#include "faultsupport.h"
#include "settings/initext.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QLockFile>
#include <QScopeGuard>
#include <QTest>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using faults::readBytes;
using faults::writeBytes;

namespace settingsfaults {

QByteArray storedChoices(int style, int speed)
{
    return "[Lumivex%20Software]\nCombo1=" + QByteArray::number(style)
           + "\nCombo2=" + QByteArray::number(speed) + '\n';
}

QByteArray hugeSettingsText(const QByteArray &tail, int mebibytes)
{
    QByteArray data = QByteArrayLiteral("[Other]\n");
    for (int i = 0; data.size() < mebibytes * 1024 * 1024; ++i)
        data += "key" + QByteArray::number(i) + '=' + QByteArray(48, 'x') + '\n';
    return data + tail;
}

void choose(shell::MainWindow &form, const char *list, int index)
{
    form.findChild<QComboBox *>(QLatin1String(list))->setCurrentIndex(index);
}

// What a file at path is, and when it last changed: equal before and after
// means it was not touched (not even rewritten with the same bytes).
QByteArray identity(const QString &path)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return "absent";
    return QByteArray::number(quint64(info.st_ino)) + ' ' + QByteArray::number(info.st_mode, 8)
           + ' ' + QByteArray::number(qint64(info.st_mtim.tv_nsec))
           + QByteArray::number(qint64(info.st_mtim.tv_sec));
}

int modeOf(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777)
                                                                   : -1;
}

// setUp must come back at once whatever sits at the settings path.
// Backdates the file at path by seconds.
bool setAge(const QString &path, int seconds)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite)
           && file.setFileTime(QDateTime::currentDateTime().addSecs(-seconds),
                               QFileDevice::FileModificationTime);
}

// The pid of a process that has ended, for a lock left behind by a killed program.
qint64 deadPid()
{
    QByteArray out;
    faults::runTool(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("echo $$")}, &out);
    return out.trimmed().toLongLong();
}

} // namespace settingsfaults

using namespace settingsfaults;

void TestSettingsFaults::storeFileKeptByteForByte_data()
{
    // The file before; the choices restored from it; the file after the style
    // is changed.
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("speed");
    QTest::addColumn<QByteArray>("after");

    const QByteArray fresh = storedChoices(1, 0);
    QTest::newRow("missing") << false << QByteArray() << 0 << 0 << fresh;
    QTest::newRow("empty") << true << QByteArray() << 0 << 0 << fresh;
    QTest::newRow("garbage text") << true << faults::garbageText() << 0 << 0
                                  << faults::garbageText() + '\n' + fresh;
    const QByteArray binary = faults::binaryBytes(64 * 1024);
    // The noise ends inside quotes: the section goes before its first section.
    QTest::newRow("binary") << true << binary << 0 << 0
                            << QByteArray(binary).insert(binary.indexOf("\n[") + 1, fresh + '\n');
    const QByteArray nul = QByteArrayLiteral("[Other]\nname=a\0b\n") + storedChoices(1, 2);
    QTest::newRow("a NUL byte in another section")
        << true << nul << 1 << 2 << QByteArray(nul).replace("Combo1=1", "Combo1=0");
    QTest::newRow("readable values, broken line") << true << storedChoices(1, 2) + "[broken\n"
                                                  << 1 << 2 << storedChoices(0, 2) + "[broken\n";
    QTest::newRow("huge") << true << hugeSettingsText(storedChoices(1, 2)) << 1 << 2
                          << hugeSettingsText(storedChoices(0, 2));
    // Lines without "]" or "=" once made every line a search of the whole file.
    const QByteArray brackets
        = storedChoices(1, 2) + "[Other]\n" + QByteArray("[\n").repeated(500000);
    QTest::newRow("a megabyte of open brackets")
        << true << brackets << 1 << 2 << QByteArray(brackets).replace("Combo1=1", "Combo1=0");
    const QByteArray bare = storedChoices(1, 2) + QByteArray("bare\n").repeated(200000);
    QTest::newRow("a megabyte of lines without equals")
        << true << bare << 1 << 2 << QByteArray(bare).replace("Combo1=1", "Combo1=0");
    const QByteArray others = QByteArrayLiteral(
        "; settings of Quarnel's programs\r\n[Painter]\r\n"
        "position=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x6QPointF)\r\nodd line without equals\r\n"
        "path=C:\\\\Temp\\\\\r\n[Lumivex%20Software]\r\n# chosen by hand\r\nCombo1 = 1\r\n"
        "Combo2=2\r\n\r\n[Viewer]\r\nlast=\"a, b\"");
    QByteArray othersAfter = others;
    othersAfter.replace("Combo1 = 1", "Combo1 = 0");
    QTest::newRow("other programs' data, CRLF, comments")
        << true << others << 1 << 2 << othersAfter;
    // A trailing backslash carries the header into the line before, for Qt
    // too: nothing is stored for Lumivex, and a section of its own follows.
    const QByteArray carried = QByteArrayLiteral(
        "[Other]\r\npath=C:\\Temp\\\r\n[Lumivex%20Software]\r\nCombo1=1\r\nCombo2=2\r\n");
    QTest::newRow("a trailing backslash")
        << true << carried << 0 << 0
        << carried + "\r\n[Lumivex%20Software]\r\nCombo1=1\r\nCombo2=0\r\n";
}

void TestSettingsFaults::storeFileKeptByteForByte()
{
    QFETCH(bool, present);
    QFETCH(QByteArray, content);
    QFETCH(int, style);
    QFETCH(int, speed);
    QFETCH(QByteArray, after);

    FakePlatform platform;
    const QString file = platform.settingsFile();
    if (present)
        QVERIFY(writeBytes(file, content));
    const QByteArray before = identity(file);

    shell::MainWindow form(platform);
    form.setUp();
    QCOMPARE(QPoint(form.styleIndex(), form.speedIndex()), QPoint(style, speed));
    // Choices restored as they were stored are not written again.
    const bool holdsChoices = settings::ini::value(content, QStringLiteral("Lumivex Software"),
                                                   QStringLiteral("Combo2"))
                                  .has_value();
    if (holdsChoices)
        QCOMPARE(identity(file), before);

    choose(form, "Combo1", 1 - style);
    QCOMPARE(platform.box.shown.size(), 0);
    QCOMPARE(readBytes(file), after);
    QCOMPARE(QDir(QFileInfo(file).path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

void TestSettingsFaults::notAFileAtThePath_data()
{
    QTest::addColumn<AtPath>("thing");
    QTest::newRow("pipe") << AtPath::Fifo;
    QTest::newRow("folder") << AtPath::Folder;
    QTest::newRow("link to a device") << AtPath::DeviceLink;
    QTest::newRow("dangling link") << AtPath::DanglingLink;
    QTest::newRow("link to a pipe") << AtPath::FifoLink;
    QTest::newRow("link to a kernel file") << AtPath::KernelLink;
}

void TestSettingsFaults::notAFileAtThePath()
{
    QFETCH(AtPath, thing);

    FakePlatform platform;
    const QString file = platform.settingsFile();
    const QByteArray name = QFile::encodeName(file);
    const QString pipe = platform.scratch.filePath(QStringLiteral("pipe"));
    switch (thing) {
    case AtPath::Fifo:
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        break;
    case AtPath::Folder:
        QVERIFY(QDir().mkpath(file));
        break;
    case AtPath::DeviceLink:
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), file));
        break;
    case AtPath::DanglingLink:
        QVERIFY(QFile::link(platform.scratch.filePath(QStringLiteral("nowhere")), file));
        break;
    case AtPath::FifoLink:
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        QVERIFY(QFile::link(pipe, file));
        break;
    case AtPath::KernelLink:
        QVERIFY(QFile::link(QStringLiteral("/proc/self/environ"), file));
        break;
    }
    const QByteArray before = identity(file);
    // Never opened: a writer waiting on the pipe would get through.
    const bool isPipe = thing == AtPath::Fifo || thing == AtPath::FifoLink;
    const QByteArray pipeName = thing == AtPath::Fifo ? name : QFile::encodeName(pipe);
    std::atomic<pid_t> writerThread{0};
    std::atomic<bool> writerThrough{false};
    std::thread writer;
    if (isPipe) {
        writer = std::thread([&] {
            writerThread = ::gettid();
            ::close(::open(pipeName.constData(), O_WRONLY | O_CLOEXEC));
            writerThrough = true;
        });
    }
    const auto releaseWriter = qScopeGuard([&] {
        if (!writer.joinable())
            return;
        const int fd = ::open(pipeName.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        writer.join();
        ::close(fd);
    });
    if (isPipe) {
        const auto waiting = [&] {
            QFile wchan(QStringLiteral("/proc/self/task/%1/wchan").arg(writerThread.load()));
            return writerThread != 0 && wchan.open(QIODevice::ReadOnly)
                   && wchan.readAll() == "wait_for_partner";
        };
        QTRY_VERIFY(waiting());
    }

    // Neither read nor written: the lists start as with no file, and the first
    // save says once that choices are not kept.
    shell::MainWindow form(platform);
    form.setUp();
    QCOMPARE(QPoint(form.styleIndex(), form.speedIndex()), QPoint(0, 0));
    choose(form, "Combo1", 1);
    choose(form, "Combo2", 2);
    QCOMPARE(platform.box.shown.size(), 1);
    QVERIFY(platform.box.shown[0].prompt.contains(QStringLiteral("could not be saved")));
    QCOMPARE(QPoint(form.styleIndex(), form.speedIndex()), QPoint(1, 2));
    QCOMPARE(identity(file), before);
    QCOMPARE(QDir(QFileInfo(file).path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                 .size(),
             1);
    QCOMPARE(modeOf(QStringLiteral("/dev/null")) & 0777, 0666);
    QVERIFY(!writerThrough);
}

void TestSettingsFaults::locks_data()
{
    QTest::addColumn<AtLock>("lock");
    QTest::addColumn<bool>("saves");
    QTest::newRow("left by a killed program") << AtLock::Stale << true;
    QTest::newRow("left empty by a killed program") << AtLock::Empty << true;
    QTest::newRow("held by a running program") << AtLock::Live << false;
    QTest::newRow("a folder") << AtLock::Folder << false;
    QTest::newRow("a pipe") << AtLock::Fifo << false;
    QTest::newRow("two hundred megabytes") << AtLock::Huge << false;
    QTest::newRow("stale, with a pipe where its removal is guarded")
        << AtLock::PipeInChain << false;
}

void TestSettingsFaults::locks()
{
    QFETCH(AtLock, lock);
    QFETCH(bool, saves);

    FakePlatform platform;
    const QString file = platform.settingsFile();
    const QString lockName = file + QStringLiteral(".lock");
    QLockFile held(lockName);
    switch (lock) {
    case AtLock::Stale:
        QVERIFY(writeBytes(lockName, QByteArray::number(deadPid()) + "\nlumivex\n"
                                         + QSysInfo::machineHostName().toUtf8() + '\n'));
        break;
    case AtLock::Live:
        QVERIFY(held.tryLock(0));
        break;
    case AtLock::Folder:
        QVERIFY(QDir().mkpath(lockName));
        break;
    case AtLock::Fifo:
        QCOMPARE(::mkfifo(QFile::encodeName(lockName).constData(), 0600), 0);
        break;
    case AtLock::Empty:
        QVERIFY(writeBytes(lockName, {}));
        QVERIFY(setAge(lockName, 5));
        break;
    case AtLock::PipeInChain:
        for (const QString &name : {lockName, lockName + QStringLiteral(".rmlock")})
            QVERIFY(writeBytes(name, QByteArray::number(deadPid()) + "\nlumivex\n"));
        QCOMPARE(
            ::mkfifo(QFile::encodeName(lockName + QStringLiteral(".rmlock.rmlock")).constData(),
                     0600),
            0);
        break;
    case AtLock::Huge:
        QVERIFY(QFile(lockName).open(QIODevice::WriteOnly));
        QVERIFY(QFile::resize(lockName, 200 * 1024 * 1024));
        break;
    }

    // Each save waits a moment at most; one that cannot get the lock fails.
    shell::MainWindow form(platform);
    form.setUp();
    choose(form, "Combo2", 2);
    QCOMPARE(platform.box.shown.size(), saves ? 0 : 1);
    QCOMPARE(form.speedIndex(), 2);
    QCOMPARE(platform.storedValue(QStringLiteral("Combo2")),
             saves ? QStringLiteral("2") : QString());
    if (saves)
        QVERIFY(!QFileInfo::exists(lockName));
}

QTEST_MAIN(TestSettingsFaults)
