// The registry store on its own and under the main window. Each test works in
// a scratch key HKEY_CURRENT_USER\Software\LumivexTests\<n> that stands in for
// Software, and removes it afterwards.
#include "errors/failure.h"
#include "fakemessagebox.h"
#include "fakeplatform.h"
#include "settings/registrysettingsstore.h"
#include "shell/mainwindow.h"
#include "shell/platform.h"

#include <QComboBox>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <qt_windows.h>
#include <sddl.h>
// windows.h names MessageBoxW so; the program's own message-box seam is meant.
#undef MessageBox

using Reports = QList<int>;

namespace {

const QString kApplication = QStringLiteral("Quarnel");
const QString kSection = QStringLiteral("Lumivex Software");
constexpr DWORD kNothing = 0xffffffff;

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

QByteArray text(const QString &value, bool terminated = true)
{
    QByteArray bytes(reinterpret_cast<const char *>(value.utf16()), value.size() * 2);
    return terminated ? bytes + QByteArray(2, '\0') : bytes;
}

// A scratch root with the program's section key below it.
class ScratchKey final
{
public:
    ScratchKey()
        : root(QStringLiteral("Software\\LumivexTests\\")
               + QString::number(QRandomGenerator::global()->generate()))
        , section(root + u'\\' + kApplication + u'\\' + kSection)
    {}
    ~ScratchKey()
    {
        // Give the key back to its owner first, should a test have locked it.
        setAccess(QStringLiteral("D:(A;OICI;KA;;;WD)"));
        RegDeleteTreeW(HKEY_CURRENT_USER, wide(root));
    }
    Q_DISABLE_COPY_MOVE(ScratchKey)

    bool set(const QString &name, DWORD type, const QByteArray &data) const
    {
        return RegSetKeyValueW(HKEY_CURRENT_USER, wide(section), wide(name), type,
                               data.constData(), static_cast<DWORD>(data.size()))
               == ERROR_SUCCESS;
    }

    // The value's type and bytes as stored; type kNothing when there is none.
    std::pair<DWORD, QByteArray> get(const QString &name) const
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, wide(section), 0, KEY_QUERY_VALUE, &key)
            != ERROR_SUCCESS)
            return {kNothing, {}};
        DWORD type = kNothing;
        DWORD size = 0;
        QByteArray data;
        if (RegQueryValueExW(key, wide(name), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
            data.resize(static_cast<qsizetype>(size));
            RegQueryValueExW(key, wide(name), nullptr, &type,
                             reinterpret_cast<BYTE *>(data.data()), &size);
        } else {
            type = kNothing;
        }
        RegCloseKey(key);
        return {type, data};
    }

    bool hasSubkey(const QString &name) const
    {
        HKEY key = nullptr;
        const bool found
            = RegOpenKeyExW(HKEY_CURRENT_USER, wide(section + u'\\' + name), 0, KEY_READ, &key)
              == ERROR_SUCCESS;
        RegCloseKey(key);
        return found;
    }

    bool makeSubkey(const QString &name) const
    {
        HKEY key = nullptr;
        const bool made = RegCreateKeyExW(HKEY_CURRENT_USER, wide(section + u'\\' + name), 0,
                                          nullptr, 0, KEY_READ, nullptr, &key, nullptr)
                          == ERROR_SUCCESS;
        RegCloseKey(key);
        return made;
    }

    // Replaces the section key's access list (SDDL); its owner may always
    // change it back.
    bool setAccess(const QString &sddl) const
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, wide(section), 0, WRITE_DAC, &key) != ERROR_SUCCESS)
            return false;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        bool changed
            = ConvertStringSecurityDescriptorToSecurityDescriptorW(wide(sddl), SDDL_REVISION_1,
                                                                   &descriptor, nullptr)
              && RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
        LocalFree(descriptor);
        RegCloseKey(key);
        return changed;
    }

    const QString root;
    const QString section;
};

// Everyone may read the key; nobody may change it.
const QString kReadOnly = QStringLiteral("D:P(A;;KR;;;WD)");
// Nobody may open the key at all.
const QString kNoAccess = QStringLiteral("D:P(D;;KA;;;WD)");

class RegistryPlatform final : public shell::Platform
{
public:
    explicit RegistryPlatform(const QString &root)
        : store(root)
    {}
    errors::MessageBox &messageBox() override { return box; }
    settings::SettingsStore &settingsStore() override { return store; }
    QString programFolder() const override { return folder.path(); }
    float secondsSinceMidnight() const override { return 0.0f; }
    void randomize(double) override {}
    float nextRandom() override { return 0.5f; } // no home page
    void openUrl(const QUrl &) override {}
    void endProgram() override {}
    strobe::IdleInhibitor &idleInhibitor() override { return idle; }
    // The checks read the registry right after each choice.
    bool savesInBackground() const override { return false; }

    FakeMessageBox box;
    FakeIdleInhibitor idle;
    settings::RegistrySettingsStore store;
    QTemporaryDir folder;
};

} // namespace

class TestRegistryStore final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reads_data();
    void reads();
    void saves_data();
    void saves();
    void lockedKey_data();
    void lockedKey();
    void mainWindow_data();
    void mainWindow();
};

void TestRegistryStore::reads_data()
{
    // What is stored under Combo1 (type kNothing: nothing), and what reading
    // it gives: the text, or the description of the failure.
    QTest::addColumn<DWORD>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("expected");
    const QString mismatch = errors::Description::typeMismatch();
    QTest::newRow("nothing stored") << kNothing << QByteArray() << QStringLiteral("default");
    QTest::newRow("text") << DWORD(REG_SZ) << text(QStringLiteral("1")) << QStringLiteral("1");
    QTest::newRow("empty text") << DWORD(REG_SZ) << QByteArray() << QString();
    QTest::newRow("text without terminator")
        << DWORD(REG_SZ) << text(QStringLiteral("12"), false) << QStringLiteral("12");
    QTest::newRow("odd byte count")
        << DWORD(REG_SZ) << text(QStringLiteral("2"), false) + 'x' << QStringLiteral("2");
    QTest::newRow("text up to a terminator inside")
        << DWORD(REG_SZ) << text(QStringLiteral("1")) + text(QStringLiteral("9"))
        << QStringLiteral("1");
    const QString longText(100000, u'7');
    QTest::newRow("long text") << DWORD(REG_SZ) << text(longText) << longText;
    QTest::newRow("DWORD") << DWORD(REG_DWORD) << QByteArray("\1\0\0\0", 4) << mismatch;
    QTest::newRow("QWORD") << DWORD(REG_QWORD) << QByteArray(8, '\0') << mismatch;
    QTest::newRow("expandable text")
        << DWORD(REG_EXPAND_SZ) << text(QStringLiteral("1")) << mismatch;
    QTest::newRow("list of texts")
        << DWORD(REG_MULTI_SZ) << text(QStringLiteral("1")) + text({}) << mismatch;
    QTest::newRow("binary") << DWORD(REG_BINARY) << QByteArray("1") << mismatch;
    QTest::newRow("no type") << DWORD(REG_NONE) << QByteArray() << mismatch;
}

void TestRegistryStore::reads()
{
    QFETCH(DWORD, type);
    QFETCH(QByteArray, data);
    QFETCH(QString, expected);
    ScratchKey scratch;
    if (type != kNothing)
        QVERIFY(scratch.set(QStringLiteral("Combo1"), type, data));
    // A subkey of the same name is not a value.
    QVERIFY(scratch.makeSubkey(QStringLiteral("Combo2")));
    settings::RegistrySettingsStore store(scratch.root);
    QString read;
    try {
        read = store.setting(kApplication, kSection, QStringLiteral("Combo1"),
                             QStringLiteral("default"));
    } catch (const errors::Failure &failure) {
        read = failure.description();
    }
    QCOMPARE(read, expected);
    QCOMPARE(store.setting(kApplication, kSection, QStringLiteral("Combo2"), QStringLiteral("0")),
             QStringLiteral("0"));
    // Reading changes nothing.
    QCOMPARE(scratch.get(QStringLiteral("Combo1")).first, type);
}

void TestRegistryStore::saves_data()
{
    // What is there before the save of "-1" under Combo1.
    QTest::addColumn<DWORD>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("no key yet") << kNothing << QByteArray();
    QTest::newRow("text") << DWORD(REG_SZ) << text(QStringLiteral("1"));
    QTest::newRow("DWORD") << DWORD(REG_DWORD) << QByteArray("\1\0\0\0", 4);
}

void TestRegistryStore::saves()
{
    QFETCH(DWORD, type);
    QFETCH(QByteArray, data);
    ScratchKey scratch;
    if (type != kNothing) {
        QVERIFY(scratch.set(QStringLiteral("Combo1"), type, data));
        QVERIFY(scratch.makeSubkey(QStringLiteral("Combo1")));
    }
    settings::RegistrySettingsStore store(scratch.root);
    store.saveSetting(kApplication, kSection, QStringLiteral("Combo1"), QStringLiteral("-1"));
    const std::pair<DWORD, QByteArray> expected{REG_SZ, text(QStringLiteral("-1"))};
    QCOMPARE(scratch.get(QStringLiteral("Combo1")), expected);
    QCOMPARE(store.setting(kApplication, kSection, QStringLiteral("Combo1"), {}),
             QStringLiteral("-1"));
    // A subkey that shares the name stays.
    QCOMPARE(scratch.hasSubkey(QStringLiteral("Combo1")), type != kNothing);
}

void TestRegistryStore::lockedKey_data()
{
    QTest::addColumn<QString>("access");
    QTest::addColumn<QString>("read");
    QTest::newRow("read-only") << kReadOnly << QStringLiteral("1");
    // Told as unreadable rather than read as empty.
    QTest::newRow("no access") << kNoAccess << QString();
}

void TestRegistryStore::lockedKey()
{
    QFETCH(QString, access);
    QFETCH(QString, read);
    ScratchKey scratch;
    QVERIFY(scratch.set(QStringLiteral("Combo1"), REG_SZ, text(QStringLiteral("1"))));
    QVERIFY(scratch.setAccess(access));
    settings::RegistrySettingsStore store(scratch.root);
    if (read.isNull()) {
        QVERIFY_THROWS_EXCEPTION(settings::Unreadable,
                                 store.setting(kApplication, kSection, QStringLiteral("Combo1"),
                                               QStringLiteral("default")));
    } else {
        QCOMPARE(store.setting(kApplication, kSection, QStringLiteral("Combo1"),
                               QStringLiteral("default")),
                 read);
    }
    try {
        store.saveSetting(kApplication, kSection, QStringLiteral("Combo1"), QStringLiteral("0"));
        QFAIL("the save went through");
    } catch (const errors::Failure &failure) {
        QVERIFY2(failure.description().startsWith(QStringLiteral("Cannot write the settings to "
                                                                 "HKEY_CURRENT_USER\\")
                                                  + scratch.section),
                 qPrintable(failure.description()));
    }
    QVERIFY(scratch.setAccess(QStringLiteral("D:(A;OICI;KA;;;WD)")));
    QCOMPARE(scratch.get(QStringLiteral("Combo1")).second, text(QStringLiteral("1")));
}

void TestRegistryStore::mainWindow_data()
{
    // Combo1 stored as type and text, the key's access list (none: as made),
    // the indexes selected at start-up, its reports, and whether the first
    // change of choice is told as not saved.
    QTest::addColumn<DWORD>("type");
    QTest::addColumn<QString>("access");
    QTest::addColumn<QPoint>("selected");
    QTest::addColumn<Reports>("reports");
    QTest::addColumn<bool>("unsaved");
    QTest::newRow("text") << DWORD(REG_SZ) << QString() << QPoint(1, 2) << Reports{} << false;
    QTest::newRow("DWORD") << DWORD(REG_DWORD) << QString() << QPoint(-1, 2) << Reports{138}
                           << false;
    QTest::newRow("read-only key")
        << DWORD(REG_SZ) << kReadOnly << QPoint(1, 2) << Reports{} << true;
    QTest::newRow("key without access")
        << DWORD(REG_SZ) << kNoAccess << QPoint(0, 0) << Reports{} << true;
}

void TestRegistryStore::mainWindow()
{
    QFETCH(DWORD, type);
    QFETCH(QString, access);
    QFETCH(QPoint, selected);
    QFETCH(Reports, reports);
    QFETCH(bool, unsaved);
    ScratchKey scratch;
    QVERIFY(scratch.set(QStringLiteral("Combo1"), type,
                        type == REG_SZ ? text(QStringLiteral("1")) : QByteArray("\1\0\0\0", 4)));
    QVERIFY(scratch.set(QStringLiteral("Combo2"), REG_SZ, text(QStringLiteral("2"))));
    const auto before = scratch.get(QStringLiteral("Combo1"));
    if (!access.isEmpty())
        QVERIFY(scratch.setAccess(access));

    RegistryPlatform platform(scratch.root);
    shell::MainWindow form(platform);
    form.setUp();
    QCOMPARE(QPoint(form.styleIndex(), form.speedIndex()), selected);
    QCOMPARE(platform.box.reportedLines(), reports);
    if (!reports.isEmpty())
        QVERIFY(platform.box.shown[0].prompt.startsWith(errors::Description::typeMismatch()));
    // Restoring a choice stores it again: on a key that cannot be written the
    // one message comes at start-up.
    const qsizetype shownAtStart = platform.box.shown.size();

    auto *style = form.findChild<QComboBox *>(QStringLiteral("Combo1"));
    auto *speed = form.findChild<QComboBox *>(QStringLiteral("Combo2"));
    style->setCurrentIndex(0);
    speed->setCurrentIndex(1);
    style->setCurrentIndex(1);
    QCOMPARE(QPoint(form.styleIndex(), form.speedIndex()), QPoint(1, 1));
    QCOMPARE(platform.box.shown.size(), unsaved ? 1 : shownAtStart);
    // A key that cannot even be read is told as such, once, at start-up.
    if (unsaved)
        QVERIFY(platform.box.shown.last().prompt.contains(
            access == kNoAccess ? QStringLiteral("could not be read")
                                : QStringLiteral("could not be saved")));

    if (!access.isEmpty())
        QVERIFY(scratch.setAccess(QStringLiteral("D:(A;OICI;KA;;;WD)")));
    if (unsaved) {
        QCOMPARE(scratch.get(QStringLiteral("Combo1")), before);
    } else {
        const std::pair<DWORD, QByteArray> one{REG_SZ, text(QStringLiteral("1"))};
        QCOMPARE(scratch.get(QStringLiteral("Combo1")), one);
        QCOMPARE(scratch.get(QStringLiteral("Combo2")).second, text(QStringLiteral("1")));
    }
}

QTEST_MAIN(TestRegistryStore)
#include "test_registrystore.moc"
