// Things swapped in at the settings paths while a save runs: a pipe or a
// link to a device in place of a held lock, a path that turns from a file
// into a link and back; and a save that never ends when the program does. The
// lock stays one that QLockFile (so QSettings) and Lumivex both honour.
#include "faultsupport.h"
#include "settings/inifilestore.h"
#include "settings/savelock.h"
#include "settings/settingsfile.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <functional>
#include <future>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using faults::readBytes;
using faults::writeBytes;

namespace {

const QString kApplication = QStringLiteral("Quarnel");
const QString kSection = QStringLiteral("Lumivex Software");

bool setAge(const QString &path, int seconds)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite)
           && file.setFileTime(QDateTime::currentDateTime().addSecs(-seconds),
                               QFileDevice::FileModificationTime);
}

// Puts each prepared entry at path in turn, atomically, until stopped.
class Swapper
{
public:
    using Make = std::function<bool(const QByteArray &)>;

    Swapper(const QString &path, QList<Make> makes, int pauseUs)
        : m_thread([this, path, makes = std::move(makes), pauseUs] {
            const QByteArray name = QFile::encodeName(path);
            const QByteArray fresh = name + ".swap";
            for (int i = 0; !m_stop; ++i) {
                ::unlink(fresh.constData());
                if (makes.at(i % makes.size())(fresh))
                    ::rename(fresh.constData(), name.constData());
                ++m_swaps;
                if (pauseUs > 0)
                    ::usleep(useconds_t(pauseUs));
            }
            ::unlink(fresh.constData());
        })
    {}
    ~Swapper() { stop(); }
    Q_DISABLE_COPY_MOVE(Swapper)

    int stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_swaps;
    }

private:
    std::atomic<bool> m_stop = false;
    std::atomic<int> m_swaps = 0;
    std::thread m_thread;
};

Swapper::Make fileWith(const QByteArray &text)
{
    return [text](const QByteArray &at) {
        return writeBytes(QFile::decodeName(at), text);
    };
}

Swapper::Make linkTo(const QString &target)
{
    return [target](const QByteArray &at) {
        return ::symlink(QFile::encodeName(target).constData(), at.constData()) == 0;
    };
}

Swapper::Make fifo()
{
    return [](const QByteArray &at) {
        return ::mkfifo(at.constData(), 0600) == 0;
    };
}

// A lock as QLockFile writes one, for pid and program.
QByteArray lockText(qint64 pid, const QByteArray &program, const QByteArray &host,
                    const QByteArray &hostId, const QByteArray &bootId)
{
    return QByteArray::number(pid) + '\n' + program + '\n' + host + '\n' + hostId + '\n' + bootId
           + '\n';
}

QByteArray ownProgram()
{
    return QFile::encodeName(
        QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).fileName());
}

qint64 deadPid()
{
    QByteArray out;
    faults::runTool(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("echo $$")}, &out);
    return out.trimmed().toLongLong();
}

enum class Swapped { Fifo, DeviceLink };

} // namespace

Q_DECLARE_METATYPE(Swapped)

class TestSwapFaults final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lockSwappedWhileWaited_data();
    void lockSwappedWhileWaited();
    void takesOverLocksAsQLockFile_data();
    void takesOverLocksAsQLockFile();
    void heldLockIsHonouredByQLockFile();
    void pathChangesKindWhileRead();
    void pathChangesKindDuringSaves();
    void pathThatNeverStopsChangingFails();
    void stuckSaveDoesNotHoldTheExit();
    void failedSaveAtTheEndIsSaid();
};

void TestSwapFaults::lockSwappedWhileWaited_data()
{
    QTest::addColumn<Swapped>("swapped");
    QTest::newRow("a pipe") << Swapped::Fifo;
    QTest::newRow("a link to /dev/zero") << Swapped::DeviceLink;
}

void TestSwapFaults::lockSwappedWhileWaited()
{
    // A held lock, checked once by the save, is replaced while it waits: the
    // save never opens what takes its place, and fails at once.
    QFETCH(Swapped, swapped);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Quarnel.conf"));
    const QString lockName = file + QStringLiteral(".lock");
    QLockFile held(lockName);
    QVERIFY(held.tryLock(0));
    settings::IniFileStore store(dir.path());
    QElapsedTimer timer;
    timer.start();
    auto save = std::async(std::launch::async, [&] {
        try {
            store.saveSetting(kApplication, kSection, QStringLiteral("Combo1"),
                              QStringLiteral("1"));
            return QStringLiteral("saved");
        } catch (const errors::Failure &failure) {
            return failure.description();
        }
    });
    QTest::qWait(60);
    const QByteArray fresh = QFile::encodeName(lockName + QStringLiteral(".new"));
    QCOMPARE(swapped == Swapped::Fifo ? ::mkfifo(fresh.constData(), 0600)
                                      : ::symlink("/dev/zero", fresh.constData()),
             0);
    QCOMPARE(::rename(fresh.constData(), QFile::encodeName(lockName).constData()), 0);
    QVERIFY2(save.wait_for(std::chrono::seconds(10)) == std::future_status::ready,
             "the save is stuck on what was put in the lock's place");
    const QString outcome = save.get();
    QVERIFY2(outcome.contains(QStringLiteral("is not a lock file")), qPrintable(outcome));
    QVERIFY(timer.elapsed() < 5000);
    QVERIFY(!QFileInfo::exists(file));
}

void TestSwapFaults::takesOverLocksAsQLockFile_data()
{
    // A lock left in place; whether QLockFile, Qt's own, takes it over.
    QTest::addColumn<QByteArray>("lock");
    QTest::addColumn<int>("ageSeconds");
    const QByteArray host = QSysInfo::machineHostName().toUtf8();
    const QByteArray id = QSysInfo::machineUniqueId();
    const QByteArray boot = QSysInfo::bootUniqueId();
    const qint64 self = QCoreApplication::applicationPid();
    QTest::newRow("owner ended") << lockText(deadPid(), "lumivex", host, id, boot) << 0;
    QTest::newRow("owner running") << lockText(self, ownProgram(), host, id, boot) << 0;
    QTest::newRow("owner running, lines of Qt before 5.10")
        << QByteArray::number(self) + '\n' + ownProgram() + '\n' + host + '\n'
        << 0;
    QTest::newRow("pid now another program's") << lockText(self, "other", host, id, boot) << 0;
    QTest::newRow("another boot") << lockText(self, ownProgram(), host, id, "0123") << 0;
    QTest::newRow("another machine")
        << lockText(deadPid(), "lumivex", "elsewhere", "f00d", boot) << 0;
    QTest::newRow("another machine, 40 s old")
        << lockText(deadPid(), "lumivex", "elsewhere", "f00d", boot) << 40;
    QTest::newRow("owner running, 40 s old") << lockText(self, ownProgram(), host, id, boot) << 40;
    QTest::newRow("no line break after the pid") << QByteArray::number(deadPid()) << 0;
    QTest::newRow("pid zero") << lockText(0, "lumivex", host, id, boot) << 40;
    QTest::newRow("pid beyond any") << lockText(Q_INT64_C(99999999999), "x", host, id, boot) << 0;
    QTest::newRow("text, 40 s old") << QByteArray("not a pid\n") << 40;
    QTest::newRow("text, new") << QByteArray("not a pid\n") << 0;
}

void TestSwapFaults::takesOverLocksAsQLockFile()
{
    QFETCH(QByteArray, lock);
    QFETCH(int, ageSeconds);
    QTemporaryDir dir;
    const QString lockName = dir.filePath(QStringLiteral("Quarnel.conf.lock"));
    const auto place = [&] {
        QFile::remove(lockName);
        return writeBytes(lockName, lock) && setAge(lockName, ageSeconds);
    };
    QVERIFY(place());
    bool qtTakes = false;
    {
        QLockFile qt(lockName);
        qtTakes = qt.tryLock(0);
    }
    QVERIFY(place());
    settings::SaveLock lumivex(dir.filePath(QStringLiteral("Quarnel.conf")));
    QCOMPARE(lumivex.takeWithin(0), qtTakes);
    if (!qtTakes)
        QCOMPARE(readBytes(lockName), lock);
}

void TestSwapFaults::heldLockIsHonouredByQLockFile()
{
    // Lumivex's lock tells QLockFile its owner, and is kept from being taken
    // over while held, even once it is older than QLockFile's 30 s.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Quarnel.conf"));
    const QString lockName = file + QStringLiteral(".lock");
    settings::SaveLock lumivex(file);
    QVERIFY(lumivex.takeWithin(0));
    QLockFile qt(lockName);
    QVERIFY(!qt.tryLock(0));
    qint64 pid = 0;
    QString host;
    QString program;
    QVERIFY(qt.getLockInfo(&pid, &host, &program));
    QCOMPARE(pid, QCoreApplication::applicationPid());
    QCOMPARE(host, QSysInfo::machineHostName());
    QCOMPARE(program.toUtf8(), ownProgram());
    QVERIFY(setAge(lockName, 40));
    QVERIFY(!qt.tryLock(0));
    QVERIFY(QFileInfo::exists(lockName));
}

void TestSwapFaults::pathChangesKindWhileRead()
{
    // The path turns from a settings file into a link to one and back, as
    // fast as it can: every read finds a settings file.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Quarnel.conf"));
    const QString real = dir.filePath(QStringLiteral("real.conf"));
    const QByteArray text = "[Lumivex%20Software]\nCombo1=1\n";
    QVERIFY(writeBytes(real, text));
    QVERIFY(writeBytes(file, text));
    Swapper swapper(file, {fileWith(text), linkTo(real)}, 1000);
    int failed = 0;
    QString last;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 2000) {
        const settings::file::Contents contents = settings::file::read(file);
        if (contents.kind != settings::file::Contents::Kind::Regular || contents.bytes != text) {
            ++failed;
            last = contents.error;
        }
    }
    qInfo("%d swaps", swapper.stop());
    QVERIFY2(failed == 0,
             qPrintable(QStringLiteral("%1 reads failed (%2)").arg(failed).arg(last)));
}

void TestSwapFaults::pathChangesKindDuringSaves()
{
    // The same, a thousand times a second, while values are saved: a save
    // may find the path changed too often (on a busy machine, where its
    // rounds take long), but none fails for a change of kind.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Quarnel.conf"));
    const QString real = dir.filePath(QStringLiteral("real.conf"));
    const QByteArray text = "[Other]\nx=1\n";
    QVERIFY(writeBytes(real, text));
    QVERIFY(writeBytes(file, text));
    Swapper swapper(file, {fileWith(text), linkTo(real)}, 1000);
    settings::IniFileStore store(dir.path());
    QStringList failures;
    int keptChanging = 0;
    for (int i = 0; i < 600; ++i) {
        try {
            store.saveSetting(kApplication, kSection, QStringLiteral("Combo1"),
                              QString::number(i % 2));
        } catch (const errors::Failure &failure) {
            if (failure.description().contains(QStringLiteral("it kept changing")))
                ++keptChanging;
            else
                failures << failure.description();
        }
    }
    qInfo("%d swaps; %d saves found the path changing too often", swapper.stop(), keptChanging);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
}

void TestSwapFaults::pathThatNeverStopsChangingFails()
{
    // Changing between a file and a pipe more often than it can be read: the
    // save ends, with a clear reason, instead of trying for ever.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Quarnel.conf"));
    Swapper swapper(file, {fileWith("[Other]\nx=1\n"), fifo()}, 0);
    settings::IniFileStore store(dir.path());
    QElapsedTimer timer;
    timer.start();
    int failures = 0;
    for (int i = 0; i < 20; ++i) {
        try {
            store.saveSetting(kApplication, kSection, QStringLiteral("Combo1"),
                              QString::number(i % 2));
        } catch (const errors::Failure &) {
            ++failures;
        }
    }
    swapper.stop();
    qInfo("%d of 20 saves failed in %lld ms", failures, timer.elapsed());
    QVERIFY(timer.elapsed() < 60000);
}

void TestSwapFaults::stuckSaveDoesNotHoldTheExit()
{
    // A save that never ends: the program still ends, a few seconds later,
    // with status 0 and a line that says so.
    QProcess program;
    program.start(QStringLiteral(STUCK_SAVE), {});
    QVERIFY(program.waitForStarted());
    QElapsedTimer timer;
    timer.start();
    const bool ended = program.waitForFinished(20000);
    if (!ended)
        program.kill();
    QVERIFY2(ended, "the program waited for the save for ever");
    qInfo("ended after %lld ms", timer.elapsed());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(program.readAllStandardError().contains("still under way"));
}

void TestSwapFaults::failedSaveAtTheEndIsSaid()
{
    // A save that fails once the program is ending: no window is left to say
    // it, so standard error does.
    QProcess program;
    program.start(QStringLiteral(STUCK_SAVE), {QStringLiteral("fails")});
    QVERIFY(program.waitForStarted());
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    const QByteArray said = program.readAllStandardError();
    QVERIFY2(said.contains("could not be saved as the program ended")
                 && said.contains("Another program holds the settings file's lock"),
             said.constData());
}

QTEST_GUILESS_MAIN(TestSwapFaults)
#include "test_swapfaults.moc"
