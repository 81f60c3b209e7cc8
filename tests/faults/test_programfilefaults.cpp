// Hostile optional files beside the program. Start-up never crashes or hangs,
// shows at most the one report of the step that loads the file, and goes on.
// Add a row per file and fault; the step's line is part of the row.
#include "curfile.h"
#include "fakeplatform.h"
#include "faultsupport.h"
#include "form1.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <unistd.h>

using faults::list;

namespace {

enum class Make { Bytes, Folder, Unreadable, HugePng };

const QString kHandCursor = QStringLiteral("\\HAND-M.CUR");
const QString kSkin = QStringLiteral("\\x\\o.cjs");

QString besideProgram(const FakePlatform &platform, const QString &name)
{
    QString relative = name;
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString path = platform.folder + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    return path;
}

QList<int> reportedLines(const FakeMessageBox &box)
{
    QList<int> lines;
    for (const FakeMessageBox::Shown &shown : box.shown) {
        const qsizetype at = shown.prompt.indexOf(QStringLiteral("at line "));
        lines.append(at < 0 ? -1
                            : shown.prompt.mid(at + 8).section(QLatin1Char('\r'), 0, 0).toInt());
    }
    return lines;
}

} // namespace

Q_DECLARE_METATYPE(Make)

class TestProgramFileFaults final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startUpHoldsUp_data();
    void startUpHoldsUp();
};

void TestProgramFileFaults::startUpHoldsUp_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Make>("make");
    QTest::addColumn<QByteArray>("content");
    // The step that may report, and whether it must (a file that is there but
    // cannot be used) or must not (a file that loads).
    QTest::addColumn<int>("line");
    QTest::addColumn<bool>("reports");

    const QByteArray cursor = makeCursorFile(32, QPoint(5, 3));
    QTest::newRow("cursor") << kHandCursor << Make::Bytes << cursor << 106 << false;
    QTest::newRow("cursor, empty") << kHandCursor << Make::Bytes << QByteArray() << 106 << true;
    QTest::newRow("cursor, truncated")
        << kHandCursor << Make::Bytes << cursor.left(cursor.size() / 2) << 106 << true;
    QTest::newRow("cursor, header only")
        << kHandCursor << Make::Bytes << cursor.left(22) << 106 << true;
    QTest::newRow("cursor, garbage")
        << kHandCursor << Make::Bytes << faults::garbageText() << 106 << true;
    QTest::newRow("cursor, binary")
        << kHandCursor << Make::Bytes << faults::binaryBytes(4096) << 106 << true;
    QTest::newRow("cursor, a PNG renamed")
        << kHandCursor << Make::Bytes << faults::smallPng() << 106 << false;
    QTest::newRow("cursor, 20000x20000 PNG")
        << kHandCursor << Make::HugePng << QByteArray() << 106 << true;
    QTest::newRow("cursor, a folder")
        << kHandCursor << Make::Folder << QByteArray() << 106 << true;
    QTest::newRow("cursor, unreadable")
        << kHandCursor << Make::Unreadable << cursor << 106 << true;

    // A skin that cannot be used is reported by the first step; a folder of
    // that name, or a file the user cannot read, is not a skin at all.
    const QByteArray skin("QWidget { background: #223344; }\n");
    QTest::newRow("skin") << kSkin << Make::Bytes << skin << 100 << false;
    QTest::newRow("skin, empty") << kSkin << Make::Bytes << QByteArray() << 100 << true;
    QTest::newRow("skin, binary") << kSkin << Make::Bytes << faults::binaryBytes(4096) << 100
                                  << true;
    QTest::newRow("skin, huge") << kSkin << Make::Bytes << QByteArray(3 * 1024 * 1024, 'a') << 100
                                << true;
    QTest::newRow("skin, unbalanced")
        << kSkin << Make::Bytes << QByteArray("QWidget { color: red; ") << 100 << true;
    QTest::newRow("skin, a folder") << kSkin << Make::Folder << QByteArray() << 100 << false;
    QTest::newRow("skin, unreadable") << kSkin << Make::Unreadable << skin << 100 << false;
}

void TestProgramFileFaults::startUpHoldsUp()
{
    QFETCH(QString, name);
    QFETCH(Make, make);
    QFETCH(QByteArray, content);
    QFETCH(int, line);
    QFETCH(bool, reports);

    FakePlatform platform;
    const QString path = besideProgram(platform, name);
    switch (make) {
    case Make::Bytes:
        QVERIFY(faults::writeBytes(path, content));
        break;
    case Make::Folder:
        QVERIFY(QDir().mkpath(path));
        break;
    case Make::Unreadable:
        if (geteuid() == 0)
            QSKIP("root reads any file");
        QVERIFY(faults::writeBytes(path, content));
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        break;
    case Make::HugePng:
        QVERIFY(faults::writeHugePng(path, 20000, 20000));
        break;
    }

    shell::Form1 form(platform);
    QElapsedTimer clock;
    clock.start();
    form.Form_Load();
    qInfo("start-up took %lld ms", static_cast<long long>(clock.elapsed()));

    const QList<int> lines = reportedLines(platform.box);
    QCOMPARE(lines, reports ? QList<int>{line} : QList<int>{});
    if (reports)
        QVERIFY(platform.box.shown.first().title == QStringLiteral("Application Error"));
    // Start-up went on to its last step.
    QCOMPARE(form.windowTitle(), QStringLiteral("Lumivex Software"));
    QCOMPARE(list(form, "Combo2")->count(), 3);
    QCOMPARE(list(form, "Combo2")->currentIndex(), 0);
    if (name == kHandCursor)
        QCOMPARE(form.hasMouseIcon(), !reports);
}

QTEST_MAIN(TestProgramFileFaults)
#include "test_programfilefaults.moc"
