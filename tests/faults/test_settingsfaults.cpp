// The settings store under faults: files that are missing, empty, garbage,
// binary or huge, and stores that cannot be written. The program keeps going,
// says once that a choice could not be saved, and never loses what was stored.
#include "fakeplatform.h"
#include "faultsupport.h"
#include "form1.h"

#include <QComboBox>
#include <QDir>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>

using faults::readBytes;
using faults::writeBytes;

namespace {

QByteArray storedChoices(int style, int speed)
{
    return "[Lumivex%20Software]\nCombo1=" + QByteArray::number(style)
           + "\nCombo2=" + QByteArray::number(speed) + '\n';
}

QByteArray hugeSettingsText(const QByteArray &tail)
{
    QByteArray data = QByteArrayLiteral("[Other]\n");
    for (int i = 0; data.size() < 30 * 1024 * 1024; ++i)
        data += "key" + QByteArray::number(i) + '=' + QByteArray(48, 'x') + '\n';
    return data + tail;
}

void choose(shell::Form1 &form, const char *list, int index)
{
    form.findChild<QComboBox *>(QLatin1String(list))->setCurrentIndex(index);
}

enum class Unwritable { ReadOnlyFileSystem, FolderIsFile, FullDisk };

} // namespace

Q_DECLARE_METATYPE(Unwritable)

class TestSettingsFaults final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void badStoreFile_data();
    void badStoreFile();
    void unwritableStore_data();
    void unwritableStore();
};

void TestSettingsFaults::badStoreFile_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("speed");
    QTest::addColumn<bool>("keptAside");

    QTest::newRow("missing") << false << QByteArray() << 0 << 0 << false;
    QTest::newRow("empty") << true << QByteArray() << 0 << 0 << false;
    QTest::newRow("garbage") << true << faults::garbageText() << 0 << 0 << true;
    QTest::newRow("readable values, broken line") << true << storedChoices(1, 2) + "[broken\n"
                                                  << 1 << 2 << false;
    QTest::newRow("binary") << true << faults::binaryBytes(64 * 1024) << 0 << 0 << true;
    QTest::newRow("huge") << true << hugeSettingsText(storedChoices(1, 2)) << 1 << 2 << false;
}

void TestSettingsFaults::badStoreFile()
{
    QFETCH(bool, present);
    QFETCH(QByteArray, content);
    QFETCH(int, style);
    QFETCH(int, speed);
    QFETCH(bool, keptAside);

    FakePlatform platform;
    const QString file = platform.settingsFile();
    if (present)
        QVERIFY(writeBytes(file, content));

    shell::Form1 form(platform);
    form.Form_Load();
    QCOMPARE(QPoint(form.styleIndex(), form.speedIndex()), QPoint(style, speed));
    choose(form, "Combo1", 1 - style);
    QCOMPARE(platform.box.shown.size(), 0);

    // Whatever was there is either still in the store or kept aside whole.
    QCOMPARE(readBytes(file + QStringLiteral(".bad")), keptAside ? content : QByteArray());
    QSettings reread(file, QSettings::IniFormat);
    QCOMPARE(reread.status(), QSettings::NoError);
    QCOMPARE(reread.value(QStringLiteral("Lumivex Software/Combo1")).toString(),
             QString::number(1 - style));
    QCOMPARE(reread.value(QStringLiteral("Lumivex Software/Combo2")).toString(),
             QString::number(speed));
    if (content.startsWith("[Other]"))
        QCOMPARE(reread.value(QStringLiteral("Other/key0")).toString(), QString(48, u'x'));

    // A second bad file later is kept too, beside the first.
    if (keptAside) {
        QVERIFY(writeBytes(file, faults::garbageText()));
        choose(form, "Combo2", 1);
        QCOMPARE(readBytes(file + QStringLiteral(".bad.1")), faults::garbageText());
        QCOMPARE(readBytes(file + QStringLiteral(".bad")), content);
    }
}

void TestSettingsFaults::unwritableStore_data()
{
    QTest::addColumn<Unwritable>("fault");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("speed");

    QTest::newRow("read-only store")
        << Unwritable::ReadOnlyFileSystem << storedChoices(1, 2) << 1 << 2;
    QTest::newRow("store folder is a file")
        << Unwritable::FolderIsFile << QByteArray("not a folder\n") << 0 << 0;
    QTest::newRow("full disk") << Unwritable::FullDisk << storedChoices(1, 2) << 1 << 2;
    // The unreadable file cannot be kept aside, so it is not replaced either.
    QTest::newRow("full disk, garbage store")
        << Unwritable::FullDisk << faults::garbageText() << 0 << 0;
}

void TestSettingsFaults::unwritableStore()
{
    QFETCH(Unwritable, fault);
    QFETCH(QByteArray, content);
    QFETCH(int, style);
    QFETCH(int, speed);

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
        if (!faults::canMountFileSystems())
            QSKIP("needs root and mount for a small file system");
        mounted = faults::runTool(QStringLiteral("mount"),
                                  {QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                   QStringLiteral("-o"), QStringLiteral("size=256k"),
                                   QStringLiteral("lumivex-faults"), folder});
        QVERIFY(mounted);
        QVERIFY(writeBytes(intact, content));
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
        shell::Form1 form(platform);
        form.Form_Load();
        QCOMPARE(QPoint(form.styleIndex(), form.speedIndex()), QPoint(style, speed));
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

QTEST_MAIN(TestSettingsFaults)
#include "test_settingsfaults.moc"
