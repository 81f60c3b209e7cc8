// Hostile optional files beside the program. Start-up never crashes or hangs,
// shows at most the one report of the step that loads the file, and goes on.
#include "curfile.h"
#include "fakeplatform.h"
#include "faultsupport.h"
#include "shell/mainwindow.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QTest>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kHandCursor = QStringLiteral("/HAND-M.CUR");
const QString kSkin = QStringLiteral("/x/o.cjs");
// Stand for a folder, a named pipe, and a link to standard input (a pipe that
// stays open and empty) in place of the file.
const QByteArray kFolder = QByteArrayLiteral("<folder>");
const QByteArray kPipe = QByteArrayLiteral("<pipe>");
const QByteArray kStdin = QByteArrayLiteral("<stdin>");
// A named pipe beside every skin, for skins that name it as an image.
const QString kPipeImage = QStringLiteral("/x/pipe.png");

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

// Opening or reading a pipe waits for a writer. Should start-up still be
// waiting after a few seconds, this lets it go on (by writing nothing to the
// pipes and closing them) and says so, rather than hanging the test.
class HangDetector final
{
public:
    HangDetector(QStringList pipes, int stdinWriter)
        : m_pipes(std::move(pipes))
        , m_stdinWriter(stdinWriter)
        , m_thread([this] { watch(); })
    {}
    ~HangDetector() { finish(); }
    Q_DISABLE_COPY_MOVE(HangDetector)

    // True when start-up had to be let go.
    bool finish()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        return m_released;
    }

private:
    void watch()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_wake.wait_for(lock, std::chrono::seconds(5), [this] { return m_done; }))
            return;
        m_released = true;
        if (m_stdinWriter >= 0)
            ::close(m_stdinWriter);
        // A writer that comes and goes ends a reader's wait with end of file.
        while (!m_wake.wait_for(lock, std::chrono::milliseconds(50), [this] { return m_done; })) {
            for (const QString &pipe : std::as_const(m_pipes)) {
                const int writer
                    = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
                if (writer >= 0)
                    ::close(writer);
            }
        }
    }

    QStringList m_pipes;
    int m_stdinWriter;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    bool m_released = false;
    std::thread m_thread;
};

// Standard input replaced by a pipe that stays open and empty while it lives.
class EmptyStdin final
{
public:
    EmptyStdin()
    {
        m_saved = ::dup(STDIN_FILENO);
        int ends[2];
        if (::pipe(ends) != 0)
            return;
        ::dup2(ends[0], STDIN_FILENO);
        ::close(ends[0]);
        m_writer = ends[1];
    }
    ~EmptyStdin()
    {
        ::dup2(m_saved, STDIN_FILENO);
        ::close(m_saved);
    }
    Q_DISABLE_COPY_MOVE(EmptyStdin)

    // Handed to the hang detector, which closes it to end a wait.
    int writer() const { return m_writer; }

private:
    int m_saved = -1;
    int m_writer = -1;
};

// Runs check as an ordinary user, for files that root could read anyway: as
// root, in a child process that has given root up. check returns what went
// wrong, if anything.
QString asOrdinaryUser(const std::function<QString()> &check)
{
    if (::geteuid() != 0)
        return check();
    int ends[2];
    if (::pipe(ends) != 0)
        return QStringLiteral("no pipe to the child");
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        const uid_t nobody = 65534;
        const bool dropped
            = ::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 && ::setuid(nobody) == 0;
        const QByteArray result = dropped ? check().toUtf8() : QByteArrayLiteral("still root");
        [[maybe_unused]] const ssize_t written
            = ::write(ends[1], result.constData(), static_cast<size_t>(result.size()));
        ::_exit(0);
    }
    ::close(ends[1]);
    QByteArray result;
    char buffer[256];
    ssize_t got = 0;
    while ((got = ::read(ends[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, got);
    ::close(ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? QString::fromUtf8(result) : QStringLiteral("the child crashed");
}

} // namespace

class TestProgramFileFaults final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startUpHoldsUp_data();
    void startUpHoldsUp();
    void unreadableSkinIsThere();
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
    QTest::newRow("cursor, a named pipe") << kHandCursor << kPipe << 106;
    QTest::newRow("cursor, link to standard input") << kHandCursor << kStdin << 106;

    // A skin that cannot be used is reported by the first step; a folder of
    // that name is not a skin at all.
    QTest::newRow("skin") << kSkin << QByteArray("QWidget { background: #223344; }\n") << 0;
    QTest::newRow("skin, empty") << kSkin << QByteArray() << 100;
    QTest::newRow("skin, binary") << kSkin << faults::binaryBytes(4096) << 100;
    QTest::newRow("skin, huge") << kSkin << QByteArray(3 * 1024 * 1024, 'a') << 100;
    QTest::newRow("skin, unbalanced") << kSkin << QByteArray("QWidget { color: red; ") << 100;
    QTest::newRow("skin, a folder") << kSkin << kFolder << 0;
    QTest::newRow("skin, escaped property")
        << kSkin << QByteArray("QPushButton { \\71property-text: \"x\"; }") << 100;
    // Images that are not regular files are not drawn, and not opened.
    QTest::newRow("skin, image a named pipe")
        << kSkin << QByteArray("#Form1 { background-image: url(pipe.png); }") << 0;
    QTest::newRow("skin, image standard input")
        << kSkin << QByteArray("#Form1 { background-image: url(/dev/stdin); }") << 0;
}

void TestProgramFileFaults::startUpHoldsUp()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(int, line);

    FakePlatform platform;
    const QString path = platform.folder + name;
    const QString pipeImage = platform.folder + kPipeImage;
    QVERIFY(QDir().mkpath(content == kFolder ? path : QFileInfo(path).absolutePath()));
    QVERIFY(QDir().mkpath(QFileInfo(pipeImage).absolutePath()));
    QVERIFY(::mkfifo(QFile::encodeName(pipeImage).constData(), 0600) == 0);
    if (content == kPipe)
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    else if (content == kStdin)
        QVERIFY(QFile::link(QStringLiteral("/dev/stdin"), path));
    else if (content != kFolder)
        QVERIFY(faults::writeBytes(path, content));

    const EmptyStdin stdinPipe;
    HangDetector hang({path, pipeImage}, stdinPipe.writer());
    shell::MainWindow form(platform);
    form.setUp();
    form.show();
    form.grab();
    QVERIFY2(!hang.finish(), "start-up waited on a pipe");

    QCOMPARE(platform.box.reportedLines(), line ? QList<int>{line} : QList<int>{});
    QCOMPARE(platform.box.shown.size(), line ? 1 : 0);
    // Start-up went on to its last step.
    QCOMPARE(form.windowTitle(), QStringLiteral("Lumivex Software"));
    QCOMPARE(form.speedIndex(), qint16(0));
    if (name == kHandCursor)
        QCOMPARE(form.hasMouseIcon(), line == 0);
}

// A skin file that is there counts even when it cannot be read: the window
// takes the button face, and loading it is reported.
void TestProgramFileFaults::unreadableSkinIsThere()
{
    const QString failure = asOrdinaryUser([] {
        FakePlatform platform;
        const QString path = platform.folder + kSkin;
        if (!QDir().mkpath(QFileInfo(path).absolutePath())
            || !faults::writeBytes(path, "QWidget { color: red; }")
            || ::chmod(QFile::encodeName(path).constData(), 0) != 0)
            return QStringLiteral("cannot make the skin");
        shell::MainWindow form(platform);
        form.setUp();
        const QColor buttonFace = QApplication::palette().color(QPalette::Button);
        const auto *frame = form.findChild<QGroupBox *>(QStringLiteral("Frame3"));
        if (platform.box.reportedLines() != QList<int>{100})
            return QStringLiteral("reports: %1").arg(platform.box.shown.size());
        if (!platform.box.shown.first().prompt.contains(QStringLiteral("o.cjs cannot be used")))
            return platform.box.shown.first().prompt;
        if (frame->palette().color(QPalette::Window) != buttonFace
            || form.palette().color(QPalette::Window) != buttonFace)
            return QStringLiteral("the window kept its background");
        return QString();
    });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

QTEST_MAIN(TestProgramFileFaults)
#include "test_programfilefaults.moc"
