// The settings store under faults: files that are missing, empty, garbage,
// binary or huge or hold other programs' data; pipes, devices, links and locks
// at its path; stores that cannot be read or written; many programs saving at
// once. The program keeps going, never blocks, says once what went wrong, and
// never loses or harms what was there.
#include "fakeplatform.h"
#include "faultsupport.h"
#include "settings/initext.h"
#include "shell/mainwindow.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QLockFile>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using faults::readBytes;
using faults::writeBytes;

namespace {

QByteArray storedChoices(int style, int speed)
{
    return "[Lumivex%20Software]\nCombo1=" + QByteArray::number(style)
           + "\nCombo2=" + QByteArray::number(speed) + '\n';
}

QByteArray hugeSettingsText(const QByteArray &tail, int mebibytes = 30)
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

// Owner, group, mode, access control lists and every extended attribute.
QByteArray accessRules(const QString &path)
{
    struct stat info = {};
    ::stat(QFile::encodeName(path).constData(), &info);
    QByteArray acl;
    QByteArray attributes;
    faults::runTool(QStringLiteral("getfacl"),
                    {QStringLiteral("-n"), QStringLiteral("--absolute-names"), path}, &acl);
    faults::runTool(QStringLiteral("getfattr"),
                    {QStringLiteral("-d"), QStringLiteral("-m"), QStringLiteral("-"),
                     QStringLiteral("-e"), QStringLiteral("hex"),
                     QStringLiteral("--absolute-names"), path},
                    &attributes);
    return QByteArray::number(info.st_uid) + ':' + QByteArray::number(info.st_gid) + ' '
           + QByteArray::number(info.st_mode & 07777, 8) + '\n' + acl + attributes;
}

bool runShell(const QString &command)
{
    return faults::runTool(QStringLiteral("sh"), {QStringLiteral("-c"), command});
}

// Puts at path, atomically and in turn, a link to each target and a regular
// file of its own, until stopped. Counts the times it found a regular file
// at path holding a line of a target.
class LinkSwapper
{
public:
    LinkSwapper(const QString &path, const QStringList &targets)
        : m_thread([=] {
            const QByteArray link = QFile::encodeName(path);
            const QByteArray fresh = link + ".swap";
            for (int i = 0; !m_stop; ++i) {
                struct stat info = {};
                if (::lstat(link.constData(), &info) == 0 && S_ISREG(info.st_mode)
                    && readBytes(path).contains("only="))
                    ++m_mixed;
                ::unlink(fresh.constData());
                const int which = i % (targets.size() + 1);
                const bool made = which == targets.size()
                                      ? writeBytes(QFile::decodeName(fresh), "[Own]\nmine=1\n")
                                      : ::symlink(QFile::encodeName(targets.at(which)).constData(),
                                                  fresh.constData())
                                            == 0;
                if (made)
                    ::rename(fresh.constData(), link.constData());
                ++m_swaps;
            }
        })
    {}
    ~LinkSwapper() { stop(); }
    Q_DISABLE_COPY_MOVE(LinkSwapper)

    int stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_swaps;
    }
    int mixed() const { return m_mixed; }

private:
    std::atomic<bool> m_stop = false;
    std::atomic<int> m_swaps = 0;
    std::atomic<int> m_mixed = 0;
    std::thread m_thread;
};

enum class AtPath { Fifo, Folder, DeviceLink, DanglingLink, FifoLink, KernelLink };
enum class AtLock { Stale, Empty, Live, Folder, Fifo, Huge, PipeInChain };
enum class Unwritable { ReadOnlyFileSystem, FolderIsFile, FullDisk };
enum class RootLink {
    OwnedByAnother,
    InOthersFolder,
    InWorldWritableFolder,
    FolderOwnedByAnother
};

} // namespace

Q_DECLARE_METATYPE(AtPath)
Q_DECLARE_METATYPE(AtLock)
Q_DECLARE_METATYPE(Unwritable)
Q_DECLARE_METATYPE(RootLink)

class TestSettingsFaults final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void storeFileKeptByteForByte_data();
    void storeFileKeptByteForByte();
    void notAFileAtThePath_data();
    void notAFileAtThePath();
    void locks_data();
    void locks();
    void linksAndModes();
    void accessRulesKept_data();
    void accessRulesKept();
    void hardLinkKeepsOldVersion();
    void linkSwappedDuringSaves();
    void rootFollowsOnlySafeLinks_data();
    void rootFollowsOnlySafeLinks();
    void savesOffTheWindowThread_data();
    void savesOffTheWindowThread();
    void strayTemporaryFilesGo();
    void unreadableStore_data();
    void unreadableStore();
    void unwritableStore_data();
    void unwritableStore();
    void tenProgramsSaveAtOnce();
};

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

void TestSettingsFaults::linksAndModes()
{
    FakePlatform platform;
    const QString file = platform.settingsFile();
    const QString real = platform.scratch.filePath(QStringLiteral("dotfiles/quarnel.ini"));
    QVERIFY(QDir().mkpath(QFileInfo(real).path()));
    const QByteArray others = QByteArrayLiteral("[Painter]\nzoom=2\n");
    QVERIFY(writeBytes(real, others));
    QVERIFY(QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    QVERIFY(QFile::link(real, file));

    // A link to a file is followed: the file it leads to is updated, the link stays.
    {
        shell::MainWindow form(platform);
        form.setUp();
        choose(form, "Combo1", 1);
        QCOMPARE(platform.box.shown.size(), 0);
    }
    QCOMPARE(QFileInfo(file).symLinkTarget(), real);
    QCOMPARE(readBytes(real), others + '\n' + storedChoices(1, 0));
    QCOMPARE(modeOf(real), 0640);
    QCOMPARE(QDir(QFileInfo(file).path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QFileInfo(file).fileName()});

    // A new file, in a folder that is not there yet, is the user's alone.
    FakePlatform fresh;
    const QString folder = QFileInfo(fresh.settingsFile()).path();
    QVERIFY(QDir(folder).removeRecursively());
    shell::MainWindow form(fresh);
    form.setUp();
    QCOMPARE(fresh.storedValue(QStringLiteral("Combo1")), QStringLiteral("0"));
    QCOMPARE(modeOf(fresh.settingsFile()), 0600);
    QCOMPARE(modeOf(folder), 0700);
}

void TestSettingsFaults::accessRulesKept_data()
{
    // Shell commands that give the settings file (%1) and its folder (%2)
    // their access rules; whether they need root.
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("needsRoot");
    QTest::newRow("a user in the access list, group narrower than the mask")
        << QStringLiteral("chmod 0640 %1 && setfacl -m u:65534:rw,g::r %1") << false;
    QTest::newRow("a default access list on the folder, none on the file")
        << QStringLiteral("chmod 0640 %1 && setfacl -d -m u:65534:rwx %2") << false;
    QTest::newRow("user attributes") << QStringLiteral("setfattr -n user.origin -v by-hand %1 && "
                                                       "setfattr -n user.empty %1")
                                     << false;
    QTest::newRow("another group and setgid")
        << QStringLiteral("chown 0:65534 %1 && chmod 2660 %1") << true;
    QTest::newRow("another owner, an access list and an attribute")
        << QStringLiteral("chown 65534:65534 %1 && chmod 0604 %1 && setfacl -m g:0:r %1 && "
                          "setfattr -n user.kept -v yes %1")
        << true;
}

void TestSettingsFaults::accessRulesKept()
{
    QFETCH(QString, setup);
    QFETCH(bool, needsRoot);
    if (needsRoot && ::geteuid() != 0)
        QSKIP("needs root to give the file to another owner or group");
    FakePlatform platform;
    const QString file = platform.settingsFile();
    QVERIFY(writeBytes(file, storedChoices(1, 2)));
    if (!runShell(QStringLiteral("setfacl -m u:65534:r %1 && setfattr -n user.probe -v 1 %1 && "
                                 "setfacl -b %1 && setfattr -x user.probe %1")
                      .arg(file)))
        QSKIP("needs setfacl and setfattr (Debian: acl, attr) and a file system with access "
              "control lists and user attributes under the scratch folder");
    QVERIFY(runShell(setup.arg(file, QFileInfo(file).path())));
    const QByteArray before = accessRules(file);

    shell::MainWindow form(platform);
    form.setUp();
    choose(form, "Combo1", 0);
    QCOMPARE(platform.box.shown.size(), 0);
    QCOMPARE(platform.storedValue(QStringLiteral("Combo1")), QStringLiteral("0"));
    QCOMPARE(accessRules(file), before);
}

void TestSettingsFaults::hardLinkKeepsOldVersion()
{
    // The settings file is replaced as a whole, never rewritten in place: a
    // crash can never leave it half written. Another name for it keeps the
    // version it had, whole.
    FakePlatform platform;
    const QString file = platform.settingsFile();
    const QString other = platform.scratch.filePath(QStringLiteral("other-name.conf"));
    QVERIFY(writeBytes(file, storedChoices(1, 2)));
    QCOMPARE(::link(QFile::encodeName(file).constData(), QFile::encodeName(other).constData()), 0);
    shell::MainWindow form(platform);
    form.setUp();
    choose(form, "Combo1", 0);
    QCOMPARE(platform.box.shown.size(), 0);
    QCOMPARE(readBytes(file), storedChoices(0, 2));
    QCOMPARE(readBytes(other), storedChoices(1, 2));
}

void TestSettingsFaults::linkSwappedDuringSaves()
{
    // The settings path is swapped between links to two programs' files and a
    // file of its own while three programs save into it. Each save replaces
    // the file that it read: no file ever gets another's lines.
    FakePlatform platform;
    const QString file = platform.settingsFile();
    const QString first = platform.scratch.filePath(QStringLiteral("first.ini"));
    const QString second = platform.scratch.filePath(QStringLiteral("second.ini"));
    const QByteArray firstText = QByteArray("[First]\nonly=first\n") + QByteArray(20000, ';');
    const QByteArray secondText = QByteArrayLiteral("[Second]\nonly=second\n");
    QVERIFY(writeBytes(first, firstText));
    QVERIFY(writeBytes(second, secondText));
    QVERIFY(QFile::link(first, file));

    QList<QProcess *> programs;
    const auto cleanup = qScopeGuard([&] { qDeleteAll(programs); });
    LinkSwapper swapper(file, {first, second});
    for (int i = 0; i < 3; ++i) {
        programs.append(new QProcess);
        programs.last()->start(
            QStringLiteral(SETTINGS_HAMMER),
            {QFileInfo(file).path(), QStringLiteral("Key%1").arg(i), QStringLiteral("40")});
    }
    for (QProcess *program : std::as_const(programs))
        QVERIFY(program->waitForFinished(60000));
    qInfo("%d swaps of the link", swapper.stop());
    QCOMPARE(swapper.mixed(), 0);

    const QByteArray firstAfter = readBytes(first);
    const QByteArray secondAfter = readBytes(second);
    QVERIFY(firstAfter.startsWith(firstText));
    QVERIFY(secondAfter.startsWith(secondText));
    QVERIFY(!firstAfter.contains("second"));
    QVERIFY(!secondAfter.contains("first"));
    QVERIFY(!secondAfter.contains(";;"));
    for (const QByteArray &text : {firstAfter, secondAfter}) {
        const QByteArray added
            = text.mid(text.startsWith("[First]") ? firstText.size() : secondText.size());
        for (const QByteArray &line : added.split('\n'))
            QVERIFY2(line.isEmpty() || line == "[Lumivex%20Software]" || line.startsWith("Key"),
                     line.constData());
    }
}

void TestSettingsFaults::rootFollowsOnlySafeLinks_data()
{
    QTest::addColumn<RootLink>("link");
    QTest::newRow("a link owned by another user") << RootLink::OwnedByAnother;
    QTest::newRow("root's link in another user's folder") << RootLink::InOthersFolder;
    QTest::newRow("root's link in a world-writable folder") << RootLink::InWorldWritableFolder;
    QTest::newRow("root's link through a folder link owned by another user")
        << RootLink::FolderOwnedByAnother;
}

void TestSettingsFaults::rootFollowsOnlySafeLinks()
{
    QFETCH(RootLink, link);
    if (::geteuid() != 0)
        QSKIP("the rule is root's");
    FakePlatform platform;
    const QString file = platform.settingsFile();
    const QByteArray folder = QFile::encodeName(QFileInfo(file).path());
    QString secret = platform.scratch.filePath(QStringLiteral("secret"));
    const QByteArray content = "[Root]\ntoken=42\n" + storedChoices(1, 2);
    if (link == RootLink::FolderOwnedByAnother) {
        // Root's own link leads through another user's link to root's folder.
        const QDir scratch(platform.scratch.path());
        QVERIFY(scratch.mkdir(QStringLiteral("private"))
                && scratch.mkdir(QStringLiteral("shared")));
        QCOMPARE(::chmod(QFile::encodeName(scratch.filePath(QStringLiteral("shared"))), 01777), 0);
        const QString shared = scratch.filePath(QStringLiteral("shared/folder"));
        QVERIFY(QFile::link(scratch.filePath(QStringLiteral("private")), shared));
        QCOMPARE(::lchown(QFile::encodeName(shared).constData(), 65534, 65534), 0);
        secret = scratch.filePath(QStringLiteral("private/") + QFileInfo(file).fileName());
        QVERIFY(writeBytes(secret, content));
        QVERIFY(QFile::link(shared + u'/' + QFileInfo(file).fileName(), file));
    } else {
        QVERIFY(writeBytes(secret, content));
        QVERIFY(QFile::link(secret, file));
    }
    QVERIFY(QFile::setPermissions(secret, QFile::ReadOwner | QFile::WriteOwner));
    switch (link) {
    case RootLink::FolderOwnedByAnother:
        break;
    case RootLink::OwnedByAnother:
        QCOMPARE(::lchown(QFile::encodeName(file).constData(), 65534, 65534), 0);
        break;
    case RootLink::InOthersFolder:
        QCOMPARE(::chown(folder.constData(), 65534, 65534), 0);
        break;
    case RootLink::InWorldWritableFolder:
        QCOMPARE(::chmod(folder.constData(), 01777), 0);
        break;
    }
    const QByteArray before = identity(secret);

    // Neither read nor written: the lists start with their first entries,
    // and the first save says once that choices are not kept.
    shell::MainWindow form(platform);
    form.setUp();
    QCOMPARE(QPoint(form.styleIndex(), form.speedIndex()), QPoint(0, 0));
    choose(form, "Combo1", 1);
    choose(form, "Combo2", 1);
    QCOMPARE(platform.box.shown.size(), 1);
    QVERIFY(platform.box.shown[0].prompt.contains(QStringLiteral("could not be saved")));
    QVERIFY(platform.box.shown[0].prompt.contains(QStringLiteral("runs as root")));
    QCOMPARE(identity(secret), before);
    QCOMPARE(readBytes(secret), content);
}

void TestSettingsFaults::savesOffTheWindowThread_data()
{
    QTest::addColumn<bool>("lockHeld");
    QTest::newRow("free") << false;
    QTest::newRow("lock held by another program for a while") << true;
}

void TestSettingsFaults::savesOffTheWindowThread()
{
    QFETCH(bool, lockHeld);
    FakePlatform platform;
    platform.backgroundSaves = true;
    // Big enough that saves queue up behind each other, small enough for the
    // sanitizer build.
    const int mebibytes = 2;
    QVERIFY(writeBytes(platform.settingsFile(), hugeSettingsText(storedChoices(0, 0), mebibytes)));
    QLockFile held(platform.settingsFile() + QStringLiteral(".lock"));
    if (lockHeld)
        QVERIFY(held.tryLock(0));
    {
        shell::MainWindow form(platform);
        form.setUp();
        QCOMPARE(QPoint(form.styleIndex(), form.speedIndex()), QPoint(0, 0));
        // Many choices, faster than the saves: the last of each list is kept.
        for (int i = 0; i < 30; ++i) {
            choose(form, "Combo1", i % 2);
            choose(form, "Combo2", i % 3);
        }
        if (lockHeld) {
            QTRY_COMPARE_WITH_TIMEOUT(platform.box.shown.size(), 1, 20000);
            QVERIFY(platform.box.shown[0].prompt.contains(QStringLiteral("could not be saved")));
            QVERIFY(form.finishSaving(60000));
            held.unlock();
            choose(form, "Combo2", 0);
            choose(form, "Combo1", 0);
            choose(form, "Combo1", 1);
        }
        // Closing the window waits for the saves still under way.
    }
    QCOMPARE(platform.box.shown.size(), lockHeld ? 1 : 0);
    QCOMPARE(platform.storedValue(QStringLiteral("Combo1")), QStringLiteral("1"));
    QCOMPARE(platform.storedValue(QStringLiteral("Combo2")),
             lockHeld ? QStringLiteral("0") : QStringLiteral("2"));
    QVERIFY(readBytes(platform.settingsFile()).startsWith(hugeSettingsText({}, mebibytes)));
}

void TestSettingsFaults::strayTemporaryFilesGo()
{
    // A save killed before its rename leaves its temporary file; the next save
    // removes those over a minute old, and nothing else.
    FakePlatform platform;
    const QDir folder(QFileInfo(platform.settingsFile()).path());
    const QString old = folder.filePath(QStringLiteral(".Quarnel.conf.lumivex-1x2y.tmp"));
    const QString fresh = folder.filePath(QStringLiteral(".Quarnel.conf.lumivex-3z4w.tmp"));
    const QString users = folder.filePath(QStringLiteral(".Quarnel.conf.bak"));
    for (const QString &name : {old, fresh, users})
        QVERIFY(writeBytes(name, "[Lumivex%20Software]\n"));
    QVERIFY(setAge(old, 120));
    QVERIFY(setAge(users, 120));
    shell::MainWindow form(platform);
    form.setUp();
    QVERIFY(!QFileInfo::exists(old));
    QVERIFY(QFileInfo::exists(fresh));
    QVERIFY(QFileInfo::exists(users));
}

void TestSettingsFaults::unreadableStore_data()
{
    QTest::addColumn<bool>("overTheCap");
    QTest::addColumn<QString>("why");
    QTest::newRow("no permission") << false << QStringLiteral("Permission denied");
    QTest::newRow("over 256 MiB") << true << QStringLiteral("larger than 256 MiB");
}

void TestSettingsFaults::unreadableStore()
{
    QFETCH(bool, overTheCap);
    QFETCH(QString, why);

    FakePlatform platform;
    const QString file = platform.settingsFile();
    QByteArray content = storedChoices(1, 2);
    QVERIFY(writeBytes(file, content));
    if (overTheCap)
        QVERIFY(QFile::resize(file, 257 * 1024 * 1024)); // sparse: no disk used
    else
        QVERIFY(QFile::setPermissions(file, {}));
    const QByteArray before = identity(file);
    // Root reads anything: take the rights of an ordinary user for the run.
    const bool root = ::geteuid() == 0 && !overTheCap;
    if (root) {
        for (QString at = QFileInfo(file).path(); at != QDir::rootPath();
             at = QFileInfo(at).path())
            QVERIFY(QFile::setPermissions(at, QFileInfo(at).permissions() | QFile::ExeOther));
        QCOMPARE(::seteuid(65534), 0);
    }
    const auto restore = qScopeGuard([&] {
        if (root)
            QCOMPARE(::seteuid(0), 0);
    });

    shell::MainWindow form(platform);
    form.setUp();
    choose(form, "Combo1", 0);
    choose(form, "Combo2", 1);

    // Told once, where the file is and why; the lists start as with no file,
    // and the file is left alone for the run.
    QCOMPARE(platform.box.shown.size(), 1);
    QVERIFY(platform.box.shown[0].prompt.contains(QStringLiteral("could not be read")));
    QVERIFY(platform.box.shown[0].prompt.contains(QDir::toNativeSeparators(file)));
    QVERIFY2(platform.box.shown[0].prompt.contains(why), qPrintable(platform.box.shown[0].prompt));
    QCOMPARE(QPoint(form.styleIndex(), form.speedIndex()), QPoint(0, 1));
    if (root)
        QCOMPARE(::seteuid(0), 0);
    QCOMPARE(identity(file), before);
    QVERIFY(QFile::setPermissions(file, QFile::ReadOwner));
    QCOMPARE(readBytes(file).left(content.size()), content);
}

void TestSettingsFaults::unwritableStore_data()
{
    QTest::addColumn<Unwritable>("fault");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("speed");
    QTest::addColumn<bool>("leftoverLock");

    QTest::newRow("read-only store")
        << Unwritable::ReadOnlyFileSystem << storedChoices(1, 2) << 1 << 2 << false;
    QTest::newRow("read-only store, lock left behind")
        << Unwritable::ReadOnlyFileSystem << storedChoices(1, 2) << 1 << 2 << true;
    QTest::newRow("store folder is a file")
        << Unwritable::FolderIsFile << QByteArray("not a folder\n") << 0 << 0 << false;
    QTest::newRow("full disk") << Unwritable::FullDisk << storedChoices(1, 2) << 1 << 2 << false;
    QTest::newRow("full disk, binary store")
        << Unwritable::FullDisk << faults::binaryBytes(4096) << 0 << 0 << false;
}

void TestSettingsFaults::unwritableStore()
{
    QFETCH(Unwritable, fault);
    QFETCH(QByteArray, content);
    QFETCH(int, style);
    QFETCH(int, speed);
    QFETCH(bool, leftoverLock);

    FakePlatform platform;
    const QString folder = QFileInfo(platform.settingsFile()).absolutePath();
    QString intact = platform.settingsFile();
    bool mounted = false;
    const auto unmount = qScopeGuard([&] {
        if (mounted)
            faults::runTool(QStringLiteral("umount"), {QStringLiteral("-l"), folder});
    });
    if (fault == Unwritable::FolderIsFile) {
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(writeBytes(folder, content));
        intact = folder;
    } else {
        // Root writes through permission bits; only a small read-only or full mount stops it.
        if (geteuid() != 0 || !QFile::exists(QStringLiteral("/bin/mount")))
            QSKIP("needs root and mount for a small file system");
        mounted = faults::runTool(QStringLiteral("mount"),
                                  {QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                   QStringLiteral("-o"), QStringLiteral("size=256k"),
                                   QStringLiteral("lumivex-faults"), folder});
        QVERIFY(mounted);
        QVERIFY(writeBytes(intact, content));
        if (leftoverLock)
            QVERIFY(writeBytes(intact + QStringLiteral(".lock"),
                               QByteArray::number(deadPid()) + "\nlumivex\n"
                                   + QSysInfo::machineHostName().toUtf8() + '\n'));
        if (fault == Unwritable::ReadOnlyFileSystem) {
            QVERIFY(faults::runTool(QStringLiteral("mount"),
                                    {QStringLiteral("-o"), QStringLiteral("remount,ro"), folder}));
        } else {
            QFile filler(QDir(folder).filePath(QStringLiteral("filler")));
            QVERIFY(filler.open(QIODevice::WriteOnly));
            while (filler.write(QByteArray(4096, 'f')) == 4096 && filler.flush()) {
            }
        }
    }
    const QStringList before = QDir(folder).entryList(QDir::Files | QDir::Hidden);

    {
        shell::MainWindow form(platform);
        form.setUp();
        QCOMPARE(QPoint(form.styleIndex(), form.speedIndex()), QPoint(style, speed));
        // Restoring what is stored writes nothing, so nothing can fail yet.
        const bool stored = content.startsWith("[Lumivex") && fault != Unwritable::FolderIsFile;
        QCOMPARE(platform.box.shown.size(), stored ? 0 : 1);
        // The user goes on choosing; every save fails, one message says so.
        choose(form, "Combo1", 1 - style);
        choose(form, "Combo2", speed == 2 ? 1 : 2);
        choose(form, "Combo1", style);
        QCOMPARE(platform.box.shown.size(), 1);
        QVERIFY(platform.box.shown[0].prompt.contains(QStringLiteral("could not be saved")));
        // The choices stay in effect for this run.
        QCOMPARE(QPoint(form.styleIndex(), form.speedIndex()), QPoint(style, speed == 2 ? 1 : 2));
    }

    QCOMPARE(readBytes(intact), content);
    if (fault != Unwritable::FolderIsFile)
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), before);
}

void TestSettingsFaults::tenProgramsSaveAtOnce()
{
    // Ten programs save their own key ten times each into one file. Each save
    // keeps everyone else's keys, none fails, and none holds its program up.
    FakePlatform platform;
    const QString folder = QFileInfo(platform.settingsFile()).path();
    QList<QProcess *> programs;
    const auto cleanup = qScopeGuard([&] { qDeleteAll(programs); });
    for (int i = 0; i < 10; ++i) {
        programs.append(new QProcess);
        programs.last()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        programs.last()->start(QStringLiteral(SETTINGS_HAMMER),
                               {folder, QStringLiteral("Key%1").arg(i), QStringLiteral("10")});
    }
    qint64 longest = 0;
    QList<qint64> medians;
    for (QProcess *program : programs) {
        QVERIFY(program->waitForFinished(60000));
        const QList<QByteArray> result = program->readAllStandardOutput().trimmed().split(' ');
        QCOMPARE(result.size(), 3);
        QCOMPARE(result[2], QByteArray("0"));
        longest = qMax(longest, result[0].toLongLong());
        medians.append(result[1].toLongLong());
    }
    std::sort(medians.begin(), medians.end());
    qInfo("saves with ten programs saving: median %lld ms, longest %lld ms", medians[5], longest);
    QVERIFY2(longest < 5000, "a save hung its program");
    const QByteArray text = readBytes(platform.settingsFile());
    for (int i = 0; i < 10; ++i)
        QCOMPARE(settings::ini::value(text, QStringLiteral("Lumivex Software"),
                                      QStringLiteral("Key%1").arg(i)),
                 QStringLiteral("1"));
    QVERIFY(!QFileInfo::exists(platform.settingsFile() + QStringLiteral(".lock")));
}

QTEST_MAIN(TestSettingsFaults)
#include "test_settingsfaults.moc"
