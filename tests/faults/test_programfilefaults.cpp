// Hostile optional files beside the program. Start-up never crashes or hangs,
// shows at most the one report of the step that loads the file, and goes on.
#include "curfile.h"
#include "fakeplatform.h"
#include "faultsupport.h"
#include "form1.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QTest>

namespace {

const QString kHandCursor = QStringLiteral("/HAND-M.CUR");
const QString kSkin = QStringLiteral("/x/o.cjs");
// Stands for a folder in place of the file.
const QByteArray kFolder = QByteArrayLiteral("<folder>");

// A 1-bit PNG: small on disk, 20000 x 20000 once decoded.
QByteArray hugePng()
{
    QImage image(20000, 20000, QImage::Format_Mono);
    image.fill(0);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace

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
    QTest::addColumn<QByteArray>("content");
    // The step that must report; 0 for a file that loads or is left alone.
    QTest::addColumn<int>("line");

    const QByteArray cursor = makeCursorFile(32, QPoint(5, 3));
    QTest::newRow("cursor") << kHandCursor << cursor << 0;
    QTest::newRow("cursor, empty") << kHandCursor << QByteArray() << 106;
    QTest::newRow("cursor, truncated") << kHandCursor << cursor.left(cursor.size() / 2) << 106;
    QTest::newRow("cursor, binary") << kHandCursor << faults::binaryBytes(4096) << 106;
    QTest::newRow("cursor, 20000x20000 PNG") << kHandCursor << hugePng() << 106;
    QTest::newRow("cursor, a folder") << kHandCursor << kFolder << 106;

    // A skin that cannot be used is reported by the first step; a folder of
    // that name is not a skin at all.
    QTest::newRow("skin") << kSkin << QByteArray("QWidget { background: #223344; }\n") << 0;
    QTest::newRow("skin, empty") << kSkin << QByteArray() << 100;
    QTest::newRow("skin, binary") << kSkin << faults::binaryBytes(4096) << 100;
    QTest::newRow("skin, huge") << kSkin << QByteArray(3 * 1024 * 1024, 'a') << 100;
    QTest::newRow("skin, unbalanced") << kSkin << QByteArray("QWidget { color: red; ") << 100;
    QTest::newRow("skin, a folder") << kSkin << kFolder << 0;
}

void TestProgramFileFaults::startUpHoldsUp()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(int, line);

    FakePlatform platform;
    const QString path = platform.folder + name;
    QVERIFY(QDir().mkpath(content == kFolder ? path : QFileInfo(path).absolutePath()));
    if (content != kFolder)
        QVERIFY(faults::writeBytes(path, content));

    shell::Form1 form(platform);
    form.Form_Load();
    QCOMPARE(platform.box.reportedLines(), line ? QList<int>{line} : QList<int>{});
    QCOMPARE(platform.box.shown.size(), line ? 1 : 0);
    // Start-up went on to its last step.
    QCOMPARE(form.windowTitle(), QStringLiteral("Lumivex Software"));
    QCOMPARE(form.speedIndex(), qint16(0));
    if (name == kHandCursor)
        QCOMPARE(form.hasMouseIcon(), line == 0);
}

QTEST_MAIN(TestProgramFileFaults)
#include "test_programfilefaults.moc"
