#include "failure.h"
#include "optionindex.h"
#include "qtsettingsstore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void convertsStoredIndex_data();
    void convertsStoredIndex();
    void fileLayoutIsTheConventionalOne();
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

void TestSettings::fileLayoutIsTheConventionalOne()
{
    QTemporaryDir dir;
    settings::QtSettingsStore store(dir.path());
    store.SaveSetting(QStringLiteral("Quarnel"), QStringLiteral("Lumivex Software"),
                      QStringLiteral("Combo2"), settings::fromOptionIndex(-1));
    QFile file(dir.filePath(QStringLiteral("Quarnel.conf")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    // Windows line ends on Windows.
    QCOMPARE(file.readAll().trimmed().replace("\r\n", "\n"),
             QByteArray("[Lumivex%20Software]\nCombo2=-1"));
}

void TestSettings::saveThatCannotReachTheDiskFails()
{
    QTemporaryDir dir;
    // The store's folder is a file: nothing can be written below it.
    const QString blocked = dir.filePath(QStringLiteral("blocked"));
    QFile file(blocked);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    settings::QtSettingsStore store(blocked);
    QVERIFY_THROWS_EXCEPTION(errors::Failure,
                             store.SaveSetting(QStringLiteral("Quarnel"),
                                               QStringLiteral("Lumivex Software"),
                                               QStringLiteral("Combo1"), QStringLiteral("1")));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
