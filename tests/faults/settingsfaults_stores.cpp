// Saves off the window's thread, and stores that cannot be read or written or
// that many programs save into at once.
#include "settingsfaults.h"

#include "fakeplatform.h"
#include "faultsupport.h"
#include "settings/initext.h"

#include <QDir>
#include <QLockFile>
#include <QPoint>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>

#include <unistd.h>

using faults::readBytes;
using faults::writeBytes;
using namespace settingsfaults;

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
