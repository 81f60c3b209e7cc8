#include "curfile.h"
#include "errors/failure.h"
#include "files/globals.h"
#include "files/regularfile.h"
#include "shell/cursorfile.h"
#include "shell/mainmodule.h"
#include "shell/onscreen.h"
#include "shell/qtmessagebox.h"
#include "shell/seededrandom.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

class TestShellParts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void applicationTitle_data();
    void applicationTitle();
    void seededRandomMatchesTheClassicSequence();
    void fileExistsAndProgramPath();
    void onlyFilesWithBytesAreReadable_data();
    void onlyFilesWithBytesAreReadable();
    void cursorHotSpotFromHeader_data();
    void cursorHotSpotFromHeader();
    void cursorLoaderClampsHotSpot();
    void messageTextShowsBareCarriageReturnsAsBreaks();
    void aLongAddressLineStaysInsideTheBox_data();
    void aLongAddressLineStaysInsideTheBox();
    void windowComesBackOnlyWhenOffEveryScreen_data();
    void windowComesBackOnlyWhenOffEveryScreen();
};

void TestShellParts::applicationTitle_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::newRow("product") << "Lumivex Software"
                             << "Lumivex";
    QTest::newRow("always cut once") << "A B"
                                     << "A";
    QTest::newRow("cut until 40") << "Forty characters exactly in this name ok and more words here"
                                  << "Forty characters exactly in this name ok";
    QTest::newRow("trailing blank") << "Lumivex "
                                    << "Lumivex";
}

void TestShellParts::applicationTitle()
{
    QFETCH(QString, name);
    QFETCH(QString, title);
    QCOMPARE(shell::applicationTitleFor(name), title);
}

void TestShellParts::seededRandomMatchesTheClassicSequence()
{
    // The well-known first values of the generator before any seeding.
    shell::SeededRandom random;
    QCOMPARE(random.next(), 0.7055475f);
    QCOMPARE(random.next(), 0.533424f);
}

void TestShellParts::fileExistsAndProgramPath()
{
    QTemporaryDir dir;
    QVERIFY(Globals::FileExists(dir.path()));
    QVERIFY(!Globals::FileExists(dir.filePath(QStringLiteral("missing"))));
    QVERIFY(!Globals::FileExists(QString()));
    QVERIFY(!Globals::FileExists(QString::fromUtf16(u"\0bad", 4)));
    // A time of exactly the epoch, as some archives leave, is a time the system read.
    QFile epoch(dir.filePath(QStringLiteral("HAND-M.CUR")));
    QVERIFY(epoch.open(QIODevice::WriteOnly));
    QVERIFY(epoch.setFileTime(QDateTime::fromSecsSinceEpoch(0, Qt::UTC),
                              QFileDevice::FileModificationTime));
    epoch.close();
    QVERIFY(Globals::FileExists(epoch.fileName()));
    // The folder as it stands, the fixed name in the system's separators.
    QCOMPARE(Globals::ProgramPath(QStringLiteral("/opt/lumivex"), QStringLiteral("\\x\\o.cjs")),
             QStringLiteral("/opt/lumivex")
                 + QDir::toNativeSeparators(QStringLiteral("/x/o.cjs")));
    // No check for a separator already there.
    QCOMPARE(Globals::ProgramPath(QStringLiteral("/"), QStringLiteral("\\HAND-M.CUR")),
             QStringLiteral("/") + QDir::toNativeSeparators(QStringLiteral("/HAND-M.CUR")));
}

void TestShellParts::onlyFilesWithBytesAreReadable_data()
{
    // What is made in a scratch folder (relative to it) or named outright.
    QTest::addColumn<QString>("made");
    QTest::addColumn<int>("kind");
    using Kind = files::FileCheck::Kind;
    QTest::newRow("nothing") << "missing" << int(Kind::Missing);
    QTest::newRow("file") << "file" << int(Kind::Readable);
    QTest::newRow("empty file") << "empty" << int(Kind::Empty);
    QTest::newRow("folder") << "folder" << int(Kind::Irregular);
#ifdef Q_OS_UNIX
    QTest::newRow("pipe") << "pipe" << int(Kind::Irregular);
    QTest::newRow("link to file") << "link" << int(Kind::Readable);
    QTest::newRow("link to nothing") << "dangling" << int(Kind::Missing);
    QTest::newRow("device") << "/dev/zero" << int(Kind::Irregular);
    QTest::newRow("kernel file, shown empty") << "/proc/self/status" << int(Kind::Empty);
#endif
}

void TestShellParts::onlyFilesWithBytesAreReadable()
{
    QFETCH(QString, made);
    QFETCH(int, kind);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("file")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("x") == 1);
    file.close();
    QFile empty(dir.filePath(QStringLiteral("empty")));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
#ifdef Q_OS_UNIX
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe"))).constData(), 0600),
             0);
    QVERIFY(QFile::link(file.fileName(), dir.filePath(QStringLiteral("link"))));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")),
                        dir.filePath(QStringLiteral("dangling"))));
#endif
    const QString path = made.startsWith(QLatin1Char('/')) ? made : dir.filePath(made);
    QCOMPARE(int(files::checkFile(path).kind), kind);
    // Opening checks again, on what it opened: a pipe is refused at once
    // instead of waiting for a writer.
    using Kind = files::FileCheck::Kind;
    const bool regular = kind == int(Kind::Readable) || kind == int(Kind::Empty);
    QFile opened;
    QString why;
    QCOMPARE(files::openReadable(opened, path, why), regular);
    QCOMPARE(why.isEmpty(), regular);
}

void TestShellParts::cursorHotSpotFromHeader_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QPoint>("spot");
    const QByteArray cursor = makeCursorFile(32, QPoint(3, 29));
    QTest::newRow("cursor") << cursor << QPoint(3, 29);
    QTest::newRow("icon, not cursor") << QByteArray(cursor).replace(2, 1, "\1") << QPoint(-1, -1);
    QTest::newRow("truncated") << cursor.left(12) << QPoint(-1, -1);
    QTest::newRow("no images") << QByteArray(cursor).replace(4, 1, "\0", 1) << QPoint(-1, -1);
}

void TestShellParts::cursorHotSpotFromHeader()
{
    QFETCH(QByteArray, header);
    QFETCH(QPoint, spot);
    QCOMPARE(shell::cursorHotSpot(header).value_or(QPoint(-1, -1)), spot);
}

void TestShellParts::cursorLoaderClampsHotSpot()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("HAND-M.CUR"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(makeCursorFile(16, QPoint(500, 40)));
    file.close();
    QCOMPARE(shell::loadCursorFile(path).hotSpot(), QPoint(15, 15));
    QVERIFY(Globals::FileExists(path));
    QVERIFY_THROWS_EXCEPTION(errors::Failure,
                             shell::loadCursorFile(dir.filePath(QStringLiteral("missing"))));
}

void TestShellParts::messageTextShowsBareCarriageReturnsAsBreaks()
{
    QCOMPARE(shell::QtMessageBox::forDisplay(QStringLiteral("a\r\nb\r\rc")),
             QStringLiteral("a\nb\n\nc"));
}

void TestShellParts::aLongAddressLineStaysInsideTheBox_data()
{
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<int>("style");
    const QString address = QStringLiteral("https://www.quarnel.com/") + QString(300, u'a');
    QTest::newRow("long address") << QStringLiteral("See %1\r\nfor more.").arg(address) << 0;
    QTest::newRow("long address, icon") << QStringLiteral("See %1").arg(address) << 16;
    QTest::newRow("address in a long sentence") << QStringLiteral(
        "Questions? Please contact Team Quarnel at https://www.quarnel.com/contact/ "
        "or read the pages there, which tell much more than fits on one line "
        "of a box on any screen at all, however wide it may be.")
                                                << 48;
}

// Qt never lets a box grow wider than a limit of its own; a label wider than
// that is cut off at the box's edge, and the end of the text is lost. Run on
// the default screen and on a wide one (test_shellparts_widescreen).
void TestShellParts::aLongAddressLineStaysInsideTheBox()
{
    QFETCH(QString, prompt);
    QFETCH(int, style);
    QMessageBox box;
    shell::QtMessageBox::prepare(box, prompt, style, std::nullopt);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    QVERIFY(label);
    QVERIFY2(box.rect().contains(label->geometry()),
             qPrintable(QStringLiteral("label %1 wide in a box %2 wide on a screen %3 wide")
                            .arg(label->width())
                            .arg(box.width())
                            .arg(box.screen()->availableGeometry().width())));
    QVERIFY(box.width() <= box.screen()->availableGeometry().width());
}

void TestShellParts::windowComesBackOnlyWhenOffEveryScreen_data()
{
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<QPoint>("to"); // (-1, -1): stays
    // One 1920x1080 monitor left, a panel along its bottom; a second one of
    // 1280x1024 to the left of it, where one is.
    QTest::newRow("on the monitor") << QRect(700, 400, 536, 193) << QPoint(-1, -1);
    QTest::newRow("52 pixels on it") << QRect(1868, 400, 536, 193) << QPoint(-1, -1);
    QTest::newRow("one pixel on it") << QRect(1919, 1079, 536, 193) << QPoint(-1, -1);
    QTest::newRow("right of it") << QRect(2600, 400, 536, 193) << QPoint(1384, 400);
    QTest::newRow("right of it and below") << QRect(2600, 1500, 536, 193) << QPoint(1384, 847);
    QTest::newRow("just past the edge") << QRect(1920, 400, 536, 193) << QPoint(1384, 400);
    QTest::newRow("above it") << QRect(100, -300, 536, 193) << QPoint(100, 0);
    QTest::newRow("larger than the free area") << QRect(3000, 0, 2000, 1200) << QPoint(0, 0);
    QTest::newRow("nearer the second monitor")
        << QRect(-1900, 1100, 536, 193) << QPoint(-1280, 831);
}

void TestShellParts::windowComesBackOnlyWhenOffEveryScreen()
{
    QFETCH(QRect, frame);
    QFETCH(QPoint, to);
    const bool two = QByteArray(QTest::currentDataTag()).contains("second");
    QList<QRect> screens{QRect(0, 0, 1920, 1080)};
    QList<QRect> freeAreas{QRect(0, 0, 1920, 1040)};
    if (two) {
        screens << QRect(-1280, 0, 1280, 1024);
        freeAreas << QRect(-1280, 0, 1280, 1024);
    }
    QCOMPARE(shell::placeBackOnScreen(frame, screens, freeAreas).value_or(QPoint(-1, -1)), to);
}

QTEST_MAIN(TestShellParts)
#include "test_shellparts.moc"
