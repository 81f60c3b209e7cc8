// The settings store under faults: files that are missing, empty, garbage,
// binary or huge, and stores that cannot be written. The program keeps going,
// says once that a choice could not be saved, and never loses what was stored.
#include "failure.h"
#include "fakeplatform.h"
#include "faultsupport.h"
#include "form1.h"
#include "settingsstore.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QSettings>
#include <QTest>

#include <unistd.h>

using faults::list;
using faults::promptsContaining;
using faults::readBytes;
using faults::writeBytes;

namespace {

const QString kNotSaved = QStringLiteral("could not be saved");

QByteArray storedChoices(int style, int speed)
{
    return "[Lumivex%20Software]\nCombo1=" + QByteArray::number(style)
           + "\nCombo2=" + QByteArray::number(speed) + '\n';
}

int reportCount(const FakeMessageBox &box)
{
    int count = 0;
    for (const FakeMessageBox::Shown &shown : box.shown)
        count += shown.title == QStringLiteral("Application Error") ? 1 : 0;
    return count;
}

// A store that keeps values in memory and starts failing on request, for the
// faults a test cannot make the file system produce.
class FailingStore final : public settings::SettingsStore
{
public:
    QString GetSetting(const QString &, const QString &section, const QString &key,
                       const QString &defaultValue) override
    {
        return values.value(section + QLatin1Char('/') + key, defaultValue);
    }
    void SaveSetting(const QString &, const QString &section, const QString &key,
                     const QString &value) override
    {
        ++attempts;
        if (failing)
            throw errors::Failure(QStringLiteral("No space left on device"));
        values.insert(section + QLatin1Char('/') + key, value);
    }

    QMap<QString, QString> values;
    bool failing = false;
    int attempts = 0;
};

class FailingStorePlatform final : public shell::Platform
{
public:
    errors::MessageBox &messageBox() override { return inner.box; }
    settings::SettingsStore &settingsStore() override { return store; }
    QString programFolder() const override { return inner.folder; }
    float secondsSinceMidnight() const override { return 0.0f; }
    void randomize(double) override {}
    float nextRandom() override { return 0.5f; }
    void openUrl(const QUrl &address) override { inner.openUrl(address); }
    void endProgram() override {}

    FakePlatform inner;
    FailingStore store;
};

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
    void failingStoreSaysSoOnce();
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
    QTest::newRow("huge settings")
        << true << faults::hugeSettingsText(30, storedChoices(1, 2)) << 1 << 2 << false;
    QTest::newRow("huge binary") << true << faults::binaryBytes(30 * 1024 * 1024) << 0 << 0
                                 << true;
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
    QCOMPARE(platform.box.shown.size(), 0);
    QCOMPARE(list(form, "Combo1")->currentIndex(), style);
    QCOMPARE(list(form, "Combo2")->currentIndex(), speed);

    list(form, "Combo1")->setCurrentIndex(1 - style);
    QCOMPARE(platform.box.shown.size(), 0);

    // Whatever was there is either still in the store or kept aside whole.
    QCOMPARE(QFileInfo::exists(file + QStringLiteral(".bad")), keptAside);
    if (keptAside)
        QCOMPARE(readBytes(file + QStringLiteral(".bad")), content);
    QSettings reread(file, QSettings::IniFormat);
    QCOMPARE(reread.status(), QSettings::NoError);
    QCOMPARE(reread.value(QStringLiteral("Lumivex Software/Combo1")).toString(),
             QString::number(1 - style));
    QCOMPARE(reread.value(QStringLiteral("Lumivex Software/Combo2")).toString(),
             QString::number(speed));
    if (content.startsWith("[Other]"))
        QCOMPARE(reread.value(QStringLiteral("Other/key0")).toString(),
                 QString(48, QLatin1Char('x')));

    // A second bad file later is kept too, beside the first.
    if (keptAside) {
        QVERIFY(writeBytes(file, faults::garbageText()));
        list(form, "Combo2")->setCurrentIndex(speed == 0 ? 1 : 0);
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
    QTest::newRow("read-only garbage store")
        << Unwritable::ReadOnlyFileSystem << faults::garbageText() << 0 << 0;
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
    std::unique_ptr<faults::ScratchMount> mount;
    QString intact = platform.settingsFile();

    switch (fault) {
    case Unwritable::ReadOnlyFileSystem:
        QVERIFY(writeBytes(platform.settingsFile(), content));
        if (geteuid() == 0) {
            // Root writes through permission bits; only a read-only mount stops it.
            if (!faults::ScratchMount::available())
                QSKIP("needs mount to make a read-only file system");
            mount = std::make_unique<faults::ScratchMount>(folder, 256);
            if (!mount->mounted())
                QSKIP("mount failed");
            QVERIFY(writeBytes(platform.settingsFile(), content));
            QVERIFY(mount->remountReadOnly());
        } else {
            QFile::setPermissions(platform.settingsFile(), QFile::ReadOwner);
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        }
        break;
    case Unwritable::FolderIsFile:
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(writeBytes(folder, content));
        intact = folder;
        break;
    case Unwritable::FullDisk:
        if (!faults::ScratchMount::available())
            QSKIP("needs root and mount for a small file system; see failingStoreSaysSoOnce");
        mount = std::make_unique<faults::ScratchMount>(folder, 64);
        if (!mount->mounted())
            QSKIP("mount failed");
        QVERIFY(writeBytes(platform.settingsFile(), content));
        QVERIFY(mount->fill());
        break;
    }
    const QStringList before = QDir(folder).entryList(QDir::Files | QDir::Hidden);

    {
        shell::Form1 form(platform);
        form.Form_Load();
        QCOMPARE(list(form, "Combo1")->currentIndex(), style);
        QCOMPARE(list(form, "Combo2")->currentIndex(), speed);
        // The user goes on choosing; every save fails, one message says so.
        list(form, "Combo1")->setCurrentIndex(1 - style);
        list(form, "Combo2")->setCurrentIndex(speed == 2 ? 1 : 2);
        list(form, "Combo1")->setCurrentIndex(style);
        QCOMPARE(promptsContaining(platform.box, kNotSaved).size(), 1);
        QCOMPARE(reportCount(platform.box), 0);
        QCOMPARE(platform.box.shown.size(), 1);
        // The choices stay in effect for this run.
        QCOMPARE(list(form, "Combo1")->currentIndex(), style);
        QCOMPARE(list(form, "Combo2")->currentIndex(), speed == 2 ? 1 : 2);
    }

    QCOMPARE(readBytes(intact), content);
    if (fault != Unwritable::FolderIsFile)
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), before);
    if (fault == Unwritable::ReadOnlyFileSystem && geteuid() != 0)
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestSettingsFaults::failingStoreSaysSoOnce()
{
    FailingStorePlatform platform;
    platform.store.values.insert(QStringLiteral("Lumivex Software/Combo1"), QStringLiteral("1"));
    shell::Form1 form(platform);
    form.Form_Load();
    QCOMPARE(platform.inner.box.shown.size(), 0);

    platform.store.failing = true;
    list(form, "Combo2")->setCurrentIndex(2);
    list(form, "Combo1")->setCurrentIndex(0);
    list(form, "Combo2")->setCurrentIndex(1);
    QCOMPARE(platform.store.attempts, 5);
    const QStringList told = promptsContaining(platform.inner.box, kNotSaved);
    QCOMPARE(told.size(), 1);
    QVERIFY(told.first().contains(QStringLiteral("No space left on device")));
    QCOMPARE(platform.inner.box.shown.size(), 1);
    QCOMPARE(platform.store.values.value(QStringLiteral("Lumivex Software/Combo1")),
             QStringLiteral("1"));
    QCOMPARE(platform.store.values.value(QStringLiteral("Lumivex Software/Combo2")),
             QStringLiteral("0"));
    QCOMPARE(form.styleIndex(), 0);
    QCOMPARE(form.speedIndex(), 1);
}

QTEST_MAIN(TestSettingsFaults)
#include "test_settingsfaults.moc"
