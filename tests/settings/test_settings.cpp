#include "errors/failure.h"
#include "qsettingsoracle.h"
#include "settings/inifilestore.h"
#include "settings/initext.h"
#include "settings/optionindex.h"

#include <QDir>
#include <QFile>
#include <QRect>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kSection = QStringLiteral("Lumivex Software");

// The odd files of the settings-text fuzzer's seed corpus, one row each.
void addOddFileRows()
{
    QTest::addColumn<QByteArray>("text");
    const QDir corpus(QStringLiteral(":/settingstext"));
    const QStringList names = corpus.entryList(QDir::Files, QDir::Name);
    QVERIFY(names.size() > 40);
    for (const QString &name : names) {
        QFile file(corpus.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QTest::newRow(qPrintable(name)) << file.readAll();
    }
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void convertsStoredIndex_data();
    void convertsStoredIndex();
    void editKeepsEveryOtherByte_data();
    void editKeepsEveryOtherByte();
    void readsKeysAsQSettings_data();
    void readsKeysAsQSettings();
    void savesWhereQSettingsReads_data();
    void savesWhereQSettingsReads();
    void readsWhatQSettingsWrote_data();
    void readsWhatQSettingsWrote();
    void typedValueIsATypeMismatch();
    void fileLayoutIsTheConventionalOne();
    void relativeConfigHomeIsIgnored();
    void saveThatCannotReachTheDiskFails();
    void saveQtCouldNotReadFails();
};

void TestSettings::convertsStoredIndex_data()
{
    // An index, or the failure's description when the text is none.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("minus one") << "-1" << QVariant(-1);
    QTest::newRow("0.5 to even") << "0.5" << QVariant(0);
    QTest::newRow("1.5 to even") << "1.5" << QVariant(2);
    QTest::newRow("2.5 to even") << "2.5" << QVariant(2);
    QTest::newRow("-1.5 to even") << "-1.5" << QVariant(-2);
    QTest::newRow("blanks") << "  2 " << QVariant(2);
    QTest::newRow("exponent") << "1e1" << QVariant(10);
    QTest::newRow("rounds into range") << "32767.4" << QVariant(32767);
    QTest::newRow("empty") << "" << QVariant(QStringLiteral("Type mismatch"));
    QTest::newRow("word") << "abc" << QVariant(QStringLiteral("Type mismatch"));
    QTest::newRow("nan") << "nan" << QVariant(QStringLiteral("Type mismatch"));
    QTest::newRow("infinity") << "-inf" << QVariant(QStringLiteral("Type mismatch"));
    QTest::newRow("beyond doubles") << "1e400" << QVariant(QStringLiteral("Type mismatch"));
    QTest::newRow("group separator") << "1,000" << QVariant(QStringLiteral("Type mismatch"));
    QTest::newRow("too large") << "32768" << QVariant(QStringLiteral("Overflow"));
    QTest::newRow("rounds out of range") << "32767.5" << QVariant(QStringLiteral("Overflow"));
    QTest::newRow("huge") << "1e300" << QVariant(QStringLiteral("Overflow"));
}

void TestSettings::convertsStoredIndex()
{
    QFETCH(QString, text);
    QFETCH(QVariant, expected);
    try {
        QCOMPARE(QVariant(int(settings::toOptionIndex(text))), expected);
    } catch (const errors::Failure &failure) {
        QCOMPARE(QVariant(failure.description()), expected);
    }
}

void TestSettings::editKeepsEveryOtherByte_data()
{
    // Combo1 set to 1 in the text before; the text after, none when refused.
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("empty") << QByteArray() << QByteArray("[Lumivex%20Software]\nCombo1=1\n");
    QTest::newRow("value replaced, blanks kept")
        << QByteArray("[Lumivex%20Software]\nCombo1 =  0  \nCombo2=2\n")
        << QByteArray("[Lumivex%20Software]\nCombo1 =  1  \nCombo2=2\n");
    QTest::newRow("CRLF, comments, odd lines")
        << QByteArray("; mine\r\n[Lumivex%20Software]\r\nCombo2=2\r\n# note\r\nodd line\r\n\r\n"
                      "[Other]\r\nx=@Variant(\\0\\0\\0\\x7f)\r\n")
        << QByteArray("; mine\r\n[Lumivex%20Software]\r\nCombo2=2\r\n# note\r\nodd line\r\n"
                      "Combo1=1\r\n\r\n[Other]\r\nx=@Variant(\\0\\0\\0\\x7f)\r\n");
    QTest::newRow("section added after a last line without break")
        << QByteArray("[Other]\nposition=@Invalid()")
        << QByteArray("[Other]\nposition=@Invalid()\n"
                      "\n[Lumivex%20Software]\nCombo1=1\n");
    QTest::newRow("a line that goes on swallows the header")
        << QByteArray("[Other]\npath=C:\\\n[Lumivex%20Software]\nCombo1=0\n")
        << QByteArray("[Other]\npath=C:\\\n[Lumivex%20Software]\nCombo1=0\n"
                      "\n[Lumivex%20Software]\nCombo1=1\n");
    QTest::newRow("the assignment that is read is the one changed")
        << QByteArray(
               "[Lumivex%20Software]\nCombo1=0\n[B]\nCombo1=5\n[Lumivex%20Software]\nCombo1=2\n")
        << QByteArray(
               "[Lumivex%20Software]\nCombo1=0\n[B]\nCombo1=5\n[Lumivex%20Software]\nCombo1=1\n");
    QTest::newRow("comment after the value kept")
        << QByteArray("[Lumivex%20Software]\nCombo1=0 ; by hand\n")
        << QByteArray("[Lumivex%20Software]\nCombo1=1 ; by hand\n");
    QTest::newRow("a line that goes on is ended first")
        << QByteArray("[Lumivex%20Software]\nCombo2=1\nx=y\\\n")
        << QByteArray("[Lumivex%20Software]\nCombo2=1\nx=y\\\n\nCombo1=1\n");
    QTest::newRow("a backslash at the very end escapes the first break")
        << QByteArray("[Lumivex%20Software]\nx=y\\")
        << QByteArray("[Lumivex%20Software]\nx=y\\\n\nCombo1=1\n");
    QTest::newRow("text ends inside quotes: before the first section")
        << QByteArray("; top\n[Other]\nx=\"abc\n")
        << QByteArray("; top\n[Lumivex%20Software]\nCombo1=1\n\n[Other]\nx=\"abc\n");
    QTest::newRow("no section, text ends inside quotes")
        << QByteArray("x=\"abc\n")
        << QByteArray("[Lumivex%20Software]\nCombo1=1\n\n[General]\nx=\"abc\n");
    QTest::newRow("the key in [General] under its section's name too")
        << QByteArray("Lumivex%20Software\\Combo1=0\n[Lumivex%20Software]\nCombo2=2\n")
        << QByteArray("Lumivex%20Software\\Combo1=1\n[Lumivex%20Software]\nCombo2=2\nCombo1=1\n");
    QTest::newRow("CR line ends") << QByteArray("[Lumivex%20Software]\rCombo2=2\r")
                                  << QByteArray("[Lumivex%20Software]\rCombo2=2\rCombo1=1\r");
    QTest::newRow("last line without break")
        << QByteArray("[Lumivex%20Software]\nCombo2=2")
        << QByteArray("[Lumivex%20Software]\nCombo2=2\nCombo1=1\n");
    QTest::newRow("a subsection takes the lookup: refused")
        << QByteArray("[Lumivex%20Software]\nCombo1=0\n[Lumivex%20Software\\A]\nx=1\n")
        << QByteArray();
    QTest::newRow("quotes with more after them")
        << QByteArray("[Lumivex%20Software]\nCombo1=\"0\" x\n")
        << QByteArray("[Lumivex%20Software]\nCombo1=1\n");
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF[Lumivex%20Software]\nCombo1=0\n")
                                     << QByteArray("\xEF\xBB\xBF[Lumivex%20Software]\nCombo1=1\n");
    QTest::newRow("the key in [General] right after a byte-order mark")
        << QByteArray("\xEF\xBB\xBFLumivex%20Software\\Combo1=0\n[Lumivex%20Software]\nCombo1=0\n")
        << QByteArray(
               "\xEF\xBB\xBFLumivex%20Software\\Combo1=1\n[Lumivex%20Software]\nCombo1=1\n");
    // Blanks after the mark belong to the name there: another key.
    QTest::newRow("a blank between the byte-order mark and the key in [General]")
        << QByteArray(
               "\xEF\xBB\xBF Lumivex%20Software\\Combo1=0\n[Lumivex%20Software]\nCombo1=0\n")
        << QByteArray(
               "\xEF\xBB\xBF Lumivex%20Software\\Combo1=0\n[Lumivex%20Software]\nCombo1=1\n");
    QTest::newRow("key in another section only")
        << QByteArray("[B]\nCombo1=5\n")
        << QByteArray("[B]\nCombo1=5\n\n[Lumivex%20Software]\nCombo1=1\n");
}

void TestSettings::editKeepsEveryOtherByte()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    const QString section = QStringLiteral("Lumivex Software");
    const QString key = QStringLiteral("Combo1");
    const auto edited = settings::ini::withValue(before, section, key, QStringLiteral("1"));
    if (after.isNull()) {
        QVERIFY(!edited);
        return;
    }
    QVERIFY(edited);
    QCOMPARE(*edited, after);
    QCOMPARE(settings::ini::value(*edited, section, key), QStringLiteral("1"));
}

void TestSettings::readsKeysAsQSettings_data()
{
    addOddFileRows();
}

void TestSettings::readsKeysAsQSettings()
{
    QFETCH(QByteArray, text);
    QTemporaryDir dir;
    QSettingsOracle qt(dir.path());
    for (const QString &key : {QStringLiteral("Combo1"), QStringLiteral("Combo2")}) {
        const auto lumivex = settings::ini::read(text, kSection, key);
        const auto expected = qt.read(text, kSection, key);
        if (!QSettingsOracle::agree(lumivex, expected))
            QFAIL(qPrintable(QStringLiteral("%1: Lumivex reads %2, QSettings %3")
                                 .arg(key, QSettingsOracle::describe(lumivex),
                                      QSettingsOracle::describe(expected))));
    }
}

void TestSettings::savesWhereQSettingsReads_data()
{
    addOddFileRows();
}

void TestSettings::savesWhereQSettingsReads()
{
    QFETCH(QByteArray, text);
#ifdef Q_OS_WIN
    // The program keeps its settings in the registry on Windows; with keys
    // folded to one case there, QSettings' readings after an edit of a
    // differently spelt key are not settled yet.
    const QByteArray tag(QTest::currentDataTag());
    if (tag == "key-case" || tag == "section-case")
        QSKIP("keys spelt in another case, under Windows' case folding");
#endif
    QTemporaryDir dir;
    QSettingsOracle qt(dir.path());
    // One key after the other, as the program saves them; a value that needs quotes.
    QByteArray current = text;
    const QList<std::pair<QString, QString>> saves{
        {QStringLiteral("Combo1"), QStringLiteral("-1")},
        {QStringLiteral("Combo2"), QStringLiteral("2")},
        {QStringLiteral("Combo1"), QStringLiteral(" a;b")}};
    for (const auto &[key, value] : saves) {
        const auto edited = settings::ini::withValue(current, kSection, key, value);
        if (!edited) {
            // Only where QSettings finds no value for any text of the key.
            QVERIFY(!qt.read(current, kSection, key));
            QVERIFY(!settings::ini::read(current, kSection, key));
            continue;
        }
        const QString problems = qt.editProblems(current, *edited, kSection, key, value);
        QVERIFY2(problems.isEmpty(), qPrintable(key + QStringLiteral(": ") + problems));
        QCOMPARE(settings::ini::value(*edited, kSection, key), value);
        QCOMPARE(settings::ini::withValue(*edited, kSection, key, value), *edited);
        current = *edited;
    }
}

void TestSettings::readsWhatQSettingsWrote_data()
{
    // What QSettings writes for Combo1, beside other programs' keys.
    QTest::addColumn<QVariant>("stored");
    QTest::newRow("number") << QVariant(QStringLiteral("1"));
    QTest::newRow("blanks around") << QVariant(QStringLiteral(" 1 "));
    QTest::newRow("separators") << QVariant(QStringLiteral("a;b,c=d"));
    QTest::newRow("quotes and backslashes") << QVariant(QStringLiteral("\"x\\y\""));
    QTest::newRow("at sign") << QVariant(QStringLiteral("@Invalid()"));
    QTest::newRow("control characters") << QVariant(QStringLiteral("\t1\n\x01"
                                                                   "2"));
    QTest::newRow("NUL") << QVariant(QString(QChar::Null) + QStringLiteral("1"));
    QTest::newRow("non-ASCII") << QVariant(QStringLiteral("\u00e9\u4e2d\U0001F600"));
    QTest::newRow("empty") << QVariant(QString());
    QTest::newRow("integer") << QVariant(5);
    QTest::newRow("list") << QVariant(QStringList{QStringLiteral("1"), QStringLiteral("2")});
    QTest::newRow("rectangle") << QVariant(QRect(1, 2, 3, 4));
    QTest::newRow("bytes") << QVariant(QByteArray("1"));
    QTest::newRow("nothing") << QVariant();
}

void TestSettings::readsWhatQSettingsWrote()
{
    QFETCH(QVariant, stored);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("written.ini"));
    {
        QSettings qt(path, QSettings::IniFormat);
        qt.setValue(QStringLiteral("top"), QStringLiteral("in [General]"));
        qt.setValue(QStringLiteral("General/x"), QStringLiteral("in [%General]"));
        qt.setValue(QStringLiteral("Other Program/k\u00e9y;=\"\\"), QStringLiteral("v\nw\\"));
        qt.setValue(QStringLiteral("Lumivex Software/Sub/Combo1"), 7);
        qt.setValue(QStringLiteral("lumivex software/Combo1"), 8);
        qt.setValue(QStringLiteral("Lumivex Software/Combo1"), stored);
        qt.setValue(QStringLiteral("Lumivex Software/Combo2"), QStringLiteral("2"));
        qt.sync();
        QCOMPARE(qt.status(), QSettings::NoError);
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QSettingsOracle qt(dir.path());
    for (const QString &key : {QStringLiteral("Combo1"), QStringLiteral("Combo2")}) {
        const auto lumivex = settings::ini::read(text, kSection, key);
        QVERIFY2(QSettingsOracle::agree(lumivex, qt.read(text, kSection, key)),
                 qPrintable(key + QStringLiteral(" reads ") + QSettingsOracle::describe(lumivex)));
    }
    const auto edited
        = settings::ini::withValue(text, kSection, QStringLiteral("Combo1"), QStringLiteral("0"));
    QVERIFY(edited);
    const QString problems
        = qt.editProblems(text, *edited, kSection, QStringLiteral("Combo1"), QStringLiteral("0"));
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

void TestSettings::typedValueIsATypeMismatch()
{
    // As a value of another type in the registry: the store says so, it does not guess.
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("Quarnel.conf")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Lumivex%20Software]\nCombo1=1, 2\nCombo2=@String(2)\n");
    file.close();
    settings::IniFileStore store(dir.path());
    QCOMPARE(
        store.setting(QStringLiteral("Quarnel"), kSection, QStringLiteral("Combo2"), QString()),
        QStringLiteral("2"));
    try {
        store.setting(QStringLiteral("Quarnel"), kSection, QStringLiteral("Combo1"), QString());
        QFAIL("a list read as text");
    } catch (const errors::Failure &failure) {
        QCOMPARE(failure.description(), QStringLiteral("Type mismatch"));
    }
}

void TestSettings::fileLayoutIsTheConventionalOne()
{
    QTemporaryDir dir;
    settings::IniFileStore store(dir.path());
    store.saveSetting(QStringLiteral("Quarnel"), QStringLiteral("Lumivex Software"),
                      QStringLiteral("Combo2"), settings::fromOptionIndex(-1));
    QFile file(dir.filePath(QStringLiteral("Quarnel.conf")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    // Windows line ends on Windows.
    QCOMPARE(file.readAll().trimmed().replace("\r\n", "\n"),
             QByteArray("[Lumivex%20Software]\nCombo2=-1"));
}

void TestSettings::relativeConfigHomeIsIgnored()
{
#ifdef Q_OS_WIN
    QSKIP("the registry holds the settings on Windows");
#endif
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", "relative/config");
    QCOMPARE(settings::IniFileStore().location(QStringLiteral("Quarnel")),
             home.filePath(QStringLiteral(".config/Quarnel.conf")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("elsewhere"))));
    QCOMPARE(settings::IniFileStore().location(QStringLiteral("Quarnel")),
             home.filePath(QStringLiteral("elsewhere/Quarnel.conf")));
}

void TestSettings::saveThatCannotReachTheDiskFails()
{
    QTemporaryDir dir;
    // The store's folder is a file: nothing can be written below it. Its name
    // holds a line break (not on Windows, whose names cannot) and a
    // right-to-left override, shown as escapes.
#ifdef Q_OS_WIN
    const QString blocked = dir.filePath(QStringLiteral("blocked Saved.\u202Etxt"));
    const QString shown = QStringLiteral("blocked Saved.\\u202etxt");
#else
    const QString blocked = dir.filePath(QStringLiteral("blocked\nSaved.\u202Etxt"));
    const QString shown = QStringLiteral("blocked\\x0aSaved.\\u202etxt");
#endif
    QFile file(blocked);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    settings::IniFileStore store(blocked);
    try {
        store.saveSetting(QStringLiteral("Quarnel"), QStringLiteral("Lumivex Software"),
                          QStringLiteral("Combo1"), QStringLiteral("1"));
        QFAIL("saved");
    } catch (const errors::Failure &failure) {
        QVERIFY2(failure.description().contains(shown), qPrintable(failure.description()));
    }
}

void TestSettings::saveQtCouldNotReadFails()
{
    // QSettings looks Combo1 up in the subsection only: no edit makes it read the value.
    const QByteArray text("[Lumivex%20Software]\nCombo1=1\n[Lumivex%20Software\\A]\nx=1\n");
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("Quarnel.conf")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();
    settings::IniFileStore store(dir.path());
    QCOMPARE(store.setting(QStringLiteral("Quarnel"), kSection, QStringLiteral("Combo1"),
                           QStringLiteral("absent")),
             QStringLiteral("absent"));
    QVERIFY_THROWS_EXCEPTION(errors::Failure,
                             store.saveSetting(QStringLiteral("Quarnel"), kSection,
                                               QStringLiteral("Combo1"), QStringLiteral("0")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), text);
}

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
