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
    void rejectsWhatIsNotAnIndex_data();
    void rejectsWhatIsNotAnIndex();
    void storesAndReadsBack();
    void fileLayoutIsTheConventionalOne();
    void saveThatCannotReachTheDiskFails();
};

void TestSettings::convertsStoredIndex_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("index");
    QTest::newRow("minus one") << "-1" << -1;
    QTest::newRow("0.5 to even") << "0.5" << 0;
    QTest::newRow("1.5 to even") << "1.5" << 2;
    QTest::newRow("2.5 to even") << "2.5" << 2;
    QTest::newRow("-1.5 to even") << "-1.5" << -2;
    QTest::newRow("blanks") << "  2 " << 2;
    QTest::newRow("exponent") << "1e1" << 10;
    QTest::newRow("largest") << "32767" << 32767;
    QTest::newRow("rounds into range") << "32767.4" << 32767;
}

void TestSettings::convertsStoredIndex()
{
    QFETCH(QString, text);
    QFETCH(int, index);
    QCOMPARE(int(settings::toOptionIndex(text)), index);
}

void TestSettings::rejectsWhatIsNotAnIndex_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("description");
    QTest::newRow("empty") << ""
                           << "Type mismatch";
    QTest::newRow("word") << "abc"
                          << "Type mismatch";
    QTest::newRow("nan") << "nan"
                         << "Type mismatch";
    QTest::newRow("too large") << "32768"
                               << "Overflow";
    QTest::newRow("rounds out of range") << "32767.5"
                                         << "Overflow";
    QTest::newRow("huge") << "1e300"
                          << "Overflow";
}

void TestSettings::rejectsWhatIsNotAnIndex()
{
    QFETCH(QString, text);
    QFETCH(QString, description);
    try {
        settings::toOptionIndex(text);
        QFAIL("no failure");
    } catch (const errors::Failure &failure) {
        QCOMPARE(failure.description(), description);
    }
}

void TestSettings::storesAndReadsBack()
{
    QTemporaryDir dir;
    settings::QtSettingsStore store(dir.path());
    const QString app = QStringLiteral("Quarnel");
    const QString section = QStringLiteral("Lumivex Software");
    QCOMPARE(store.GetSetting(app, section, QStringLiteral("Combo1"), QStringLiteral("0")),
             QStringLiteral("0"));
    store.SaveSetting(app, section, QStringLiteral("Combo1"), QStringLiteral("-1"));
    QCOMPARE(store.GetSetting(app, section, QStringLiteral("Combo1"), QStringLiteral("0")),
             QStringLiteral("-1"));
    // A second store object sees it: the value is on disk, not in memory.
    settings::QtSettingsStore other(dir.path());
    QCOMPARE(other.GetSetting(app, section, QStringLiteral("Combo1"), QStringLiteral("0")),
             QStringLiteral("-1"));
    QCOMPARE(settings::fromOptionIndex(-1), QStringLiteral("-1"));
}

void TestSettings::fileLayoutIsTheConventionalOne()
{
    QTemporaryDir dir;
    settings::QtSettingsStore store(dir.path());
    store.SaveSetting(QStringLiteral("Quarnel"), QStringLiteral("Lumivex Software"),
                      QStringLiteral("Combo2"), QStringLiteral("2"));
    QFile file(dir.filePath(QStringLiteral("Quarnel.conf")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().trimmed(), QByteArray("[Lumivex%20Software]\nCombo2=2"));
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
    QCOMPARE(store.GetSetting(QStringLiteral("Quarnel"), QStringLiteral("Lumivex Software"),
                              QStringLiteral("Combo1"), QStringLiteral("0")),
             QStringLiteral("0"));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
