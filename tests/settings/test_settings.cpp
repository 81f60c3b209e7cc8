#include "failure.h"
#include "inifilestore.h"
#include "initext.h"
#include "optionindex.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void convertsStoredIndex_data();
    void convertsStoredIndex();
    void editKeepsEveryOtherByte_data();
    void editKeepsEveryOtherByte();
    void readsValueAsWritten_data();
    void readsValueAsWritten();
    void fileLayoutIsTheConventionalOne();
    void relativeConfigHomeIsIgnored();
    void saveThatCannotReachTheDiskFails();
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
    // Combo1 set to 1 in the text before; the text after.
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
    QTest::newRow("continuation does not swallow the header")
        << QByteArray("[Other]\npath=C:\\\n[Lumivex%20Software]\nCombo1=0\n")
        << QByteArray("[Other]\npath=C:\\\n[Lumivex%20Software]\nCombo1=1\n");
    QTest::newRow("the assignment that is read is the one changed")
        << QByteArray(
               "[Lumivex%20Software]\nCombo1=0\n[B]\nCombo1=5\n[Lumivex%20Software]\nCombo1=2\n")
        << QByteArray(
               "[Lumivex%20Software]\nCombo1=0\n[B]\nCombo1=5\n[Lumivex%20Software]\nCombo1=1\n");
    QTest::newRow("comment after the value kept")
        << QByteArray("[Lumivex%20Software]\nCombo1=0 ; by hand\n")
        << QByteArray("[Lumivex%20Software]\nCombo1=1 ; by hand\n");
    QTest::newRow("new key not after a line that goes on")
        << QByteArray("[Lumivex%20Software]\nCombo2=1\nx=y\\\n")
        << QByteArray("[Lumivex%20Software]\nCombo2=1\nCombo1=1\nx=y\\\n");
    QTest::newRow("quotes with more after them")
        << QByteArray("[Lumivex%20Software]\nCombo1=\"0\" x\n")
        << QByteArray("[Lumivex%20Software]\nCombo1=1\n");
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF[Lumivex%20Software]\nCombo1=0\n")
                                     << QByteArray("\xEF\xBB\xBF[Lumivex%20Software]\nCombo1=1\n");
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
    const QByteArray edited = settings::ini::withValue(before, section, key, QStringLiteral("1"));
    QCOMPARE(edited, after);
    QCOMPARE(settings::ini::value(edited, section, key), QStringLiteral("1"));
}

void TestSettings::readsValueAsWritten_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QVariant>("expected"); // no value when nothing is stored
    QTest::newRow("plain") << QByteArray("[Lumivex%20Software]\nCombo2=2\n")
                           << QVariant(QStringLiteral("2"));
    QTest::newRow("quoted") << QByteArray("[Lumivex%20Software]\nCombo2=\" 1\"\n")
                            << QVariant(QStringLiteral(" 1"));
    QTest::newRow("typed by another program")
        << QByteArray("[Lumivex%20Software]\nCombo2=@Invalid()\n")
        << QVariant(QStringLiteral("@Invalid()"));
    QTest::newRow("section written unescaped")
        << QByteArray("[Lumivex Software]\nCombo2=1\n") << QVariant(QStringLiteral("1"));
    QTest::newRow("comment after the value")
        << QByteArray("[Lumivex%20Software]\nCombo2=2 ;note\n") << QVariant(QStringLiteral("2"));
    QTest::newRow("commented out")
        << QByteArray("[Lumivex%20Software]\n;Combo2=1\n") << QVariant();
    QTest::newRow("other section") << QByteArray("[Other]\nCombo2=1\n") << QVariant();
}

void TestSettings::readsValueAsWritten()
{
    QFETCH(QByteArray, text);
    QFETCH(QVariant, expected);
    const auto value
        = settings::ini::value(text, QStringLiteral("Lumivex Software"), QStringLiteral("Combo2"));
    QCOMPARE(value ? QVariant(*value) : QVariant(), expected);
}

void TestSettings::fileLayoutIsTheConventionalOne()
{
    QTemporaryDir dir;
    settings::IniFileStore store(dir.path());
    store.SaveSetting(QStringLiteral("Quarnel"), QStringLiteral("Lumivex Software"),
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
    // The store's folder is a file: nothing can be written below it.
    const QString blocked = dir.filePath(QStringLiteral("blocked"));
    QFile file(blocked);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    settings::IniFileStore store(blocked);
    QVERIFY_THROWS_EXCEPTION(errors::Failure,
                             store.SaveSetting(QStringLiteral("Quarnel"),
                                               QStringLiteral("Lumivex Software"),
                                               QStringLiteral("Combo1"), QStringLiteral("1")));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
