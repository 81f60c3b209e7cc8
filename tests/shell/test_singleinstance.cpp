// One running copy per session: the key a session's copies share, the hand-over
// between two copies (here two threads of one process), launches that
// misbehave, and what the first copy brings forward.
#include "fakeplatform.h"
#include "shell/comeforward.h"
#include "shell/mainwindow.h"
#include "shell/singleinstance.h"
#include "strobe/strobe.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTest>

#include <QEventLoop>
#include <QSocketNotifier>

#include <future>
#include <optional>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

QByteArray uniqueKey()
{
    static int count = 0;
    return "lumivex-test." + QByteArray::number(QCoreApplication::applicationPid()) + '.'
           + QByteArray::number(++count);
}

QProcessEnvironment environmentOf(const QStringList &assignments)
{
    QProcessEnvironment environment;
    for (const QString &assignment : assignments)
        environment.insert(assignment.section(u'=', 0, 0), assignment.section(u'=', 1));
    return environment;
}

// A later launch, on a thread of its own so that this one answers it.
std::future<bool> launch(const QByteArray &key)
{
    return std::async(std::launch::async,
                      [key] { return shell::SingleInstance(key).handedOver(); });
}

template<typename T> bool ready(const std::future<T> &launched)
{
    return launched.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

#ifdef Q_OS_UNIX
// A raw connection to the holder of key, as anyone on the machine can make.
int connectTo(const QByteArray &key)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, key.constData(), std::size_t(key.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + std::size_t(key.size()));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A socket bound to key's name, not yet listening.
int bindName(const QByteArray &key)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, key.constData(), std::size_t(key.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + std::size_t(key.size()));
    return ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0 ? fd : -1;
}

// Runs body in a child process as the user nobody; returns its exit status,
// or -1 when this process may not change user.
template<typename Body> int asAnotherUser(Body body, int *childPid = nullptr)
{
    if (::geteuid() != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(99);
        ::_exit(body());
    }
    if (childPid) {
        *childPid = child;
        return 0;
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

// A launch that finds the name held by someone it must not hand over to:
// it neither hands over nor holds the name, and does not wait for an answer.
bool runsOnItsOwnAtOnce(const QByteArray &key)
{
    QElapsedTimer timer;
    timer.start();
    const shell::SingleInstance mine(key);
    return !mine.handedOver() && !mine.holdsKey() && timer.elapsed() < 1000;
}
#endif

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sessionKeyNamesTheDisplay_data();
    void sessionKeyNamesTheDisplay();
    void laterLaunchHandsOver();
    void launchDuringStartIsAnsweredOnceListening();
    void keyIsFreeOnceTheHolderIsGone();
    void copyEndingAsTheLaunchAsksDoesNotAnswer();
    void emptyKeyAlwaysRuns();
    void misbehavingLaunchesNeitherBlockNorRaise_data();
    void misbehavingLaunchesNeitherBlockNorRaise();
    void anotherUsersHolderIsNotAskedAndNotWaitedFor();
    void anotherUsersLaunchIsIgnored();
    void anotherProgramAnsweringIsNotBelieved();
    void nameBoundWithoutListeningIsNotWaitedFor();
    void comeForwardShowsWhatTheUserNeeds();
};

void TestSingleInstance::sessionKeyNamesTheDisplay_data()
{
    QTest::addColumn<QStringList>("argumentsA");
    QTest::addColumn<QStringList>("environmentA");
    QTest::addColumn<QStringList>("argumentsB");
    QTest::addColumn<QStringList>("environmentB");
    // "same", "different", or "none" when A has no key.
    QTest::addColumn<QString>("relation");
#ifdef Q_OS_UNIX
    const QStringList x0{u"DISPLAY=:0"_s};
    QTest::newRow("same X server") << QStringList() << x0 << QStringList() << x0 << "same";
    QTest::newRow("X screen number")
        << QStringList() << x0 << QStringList() << QStringList{u"DISPLAY=:0.1"_s} << "same";
    QTest::newRow("X local socket named unix")
        << QStringList() << x0 << QStringList() << QStringList{u"DISPLAY=unix:0.0"_s} << "same";
    QTest::newRow("X local socket named unix/")
        << QStringList() << x0 << QStringList() << QStringList{u"DISPLAY=unix/:0"_s} << "same";
    QTest::newRow("platform name in capitals")
        << QStringList() << QStringList{u"DISPLAY=:0"_s, u"QT_QPA_PLATFORM=XCB"_s} << QStringList()
        << x0 << "same";
    QTest::newRow("other X server")
        << QStringList() << x0 << QStringList() << QStringList{u"DISPLAY=:1"_s} << "different";
    QTest::newRow("-display wins") << QStringList{u"-display"_s, u":1"_s} << x0 << QStringList()
                                   << QStringList{u"DISPLAY=:1"_s} << "same";
    QTest::newRow("Wayland name in the runtime folder")
        << QStringList()
        << QStringList{u"WAYLAND_DISPLAY=wayland-0"_s, u"XDG_RUNTIME_DIR=/run/u"_s}
        << QStringList() << QStringList{u"WAYLAND_DISPLAY=/run/u/wayland-0"_s} << "same";
    QTest::newRow("other Wayland compositor")
        << QStringList() << QStringList{u"WAYLAND_DISPLAY=/run/u/wayland-0"_s} << QStringList()
        << QStringList{u"WAYLAND_DISPLAY=/run/u/wayland-1"_s} << "different";
    QTest::newRow("xcb or wayland chosen in one session")
        << QStringList{u"-platform"_s, u"xcb"_s}
        << QStringList{u"DISPLAY=:0"_s, u"WAYLAND_DISPLAY=/w"_s}
        << QStringList{u"--platform"_s, u"wayland;xcb"_s}
        << QStringList{u"DISPLAY=:0"_s, u"WAYLAND_DISPLAY=/w"_s} << "same";
    QTest::newRow("no display") << QStringList() << QStringList() << QStringList() << x0 << "none";
    QTest::newRow("offscreen") << QStringList()
                               << QStringList{u"DISPLAY=:0"_s, u"QT_QPA_PLATFORM=offscreen"_s}
                               << QStringList() << x0 << "none";
    QTest::newRow("-platform over the environment")
        << QStringList{u"-platform"_s, u"minimal"_s}
        << QStringList{u"DISPLAY=:0"_s, u"QT_QPA_PLATFORM=xcb"_s} << QStringList() << x0 << "none";
    QTest::newRow("xcb with options")
        << QStringList() << QStringList{u"DISPLAY=:0"_s, u"QT_QPA_PLATFORM=xcb:nograb"_s}
        << QStringList() << x0 << "same";
#else
    QTest::newRow("every launch") << QStringList() << QStringList() << QStringList()
                                  << QStringList{u"QT_QPA_PLATFORM=windows"_s} << "same";
    QTest::newRow("offscreen") << QStringList{u"-platform"_s, u"offscreen"_s} << QStringList()
                               << QStringList() << QStringList() << "none";
#endif
}

void TestSingleInstance::sessionKeyNamesTheDisplay()
{
    QFETCH(QStringList, argumentsA);
    QFETCH(QStringList, environmentA);
    QFETCH(QStringList, argumentsB);
    QFETCH(QStringList, environmentB);
    QFETCH(QString, relation);
    const QByteArray a = shell::sessionKey(argumentsA, environmentOf(environmentA));
    const QByteArray b = shell::sessionKey(argumentsB, environmentOf(environmentB));
    QCOMPARE(a.isEmpty(), relation == u"none");
    QVERIFY(!b.isEmpty());
    QVERIFY(b.size() < 100);
    if (relation != u"none")
        QCOMPARE(a == b, relation == u"same");
}

void TestSingleInstance::laterLaunchHandsOver()
{
    const QByteArray key = uniqueKey();
    shell::SingleInstance first(key);
    QVERIFY(first.holdsKey());
    QVERIFY(!first.handedOver());
    int asked = 0;
    first.listen([&asked] { ++asked; });
    for (int round = 1; round <= 3; ++round) {
        auto later = launch(key);
        QTRY_VERIFY(ready(later));
        QVERIFY(later.get());
        QTRY_COMPARE(asked, round);
    }
    QVERIFY(first.holdsKey());
}

void TestSingleInstance::launchDuringStartIsAnsweredOnceListening()
{
    const QByteArray key = uniqueKey();
    shell::SingleInstance first(key);
    auto later = launch(key);
    // The launch asks while this copy is still starting.
    QTest::qWait(100);
    int asked = 0;
    first.listen([&asked] { ++asked; });
    QTRY_VERIFY(ready(later));
    QVERIFY(later.get());
    QTRY_COMPARE(asked, 1);
}

void TestSingleInstance::keyIsFreeOnceTheHolderIsGone()
{
    const QByteArray key = uniqueKey();
    {
        shell::SingleInstance first(key);
        first.listen([] {});
        QVERIFY(first.holdsKey());
    }
    QElapsedTimer timer;
    timer.start();
    shell::SingleInstance next(key);
    QVERIFY(next.holdsKey());
    QVERIFY(!next.handedOver());
    QVERIFY(timer.elapsed() < 1000);
}

void TestSingleInstance::copyEndingAsTheLaunchAsksDoesNotAnswer()
{
#ifdef Q_OS_UNIX
    // A launch asks just as the copy is told to end (a logout, a kill, its
    // window closed): both come in one turn of the loop, which then ends.
    const QByteArray key = uniqueKey();
    std::optional<shell::SingleInstance> first(std::in_place, key);
    int asked = 0;
    first->listen([&asked] { ++asked; });
    const int fd = connectTo(key);
    QVERIFY(fd >= 0);
    QCOMPARE(::send(fd, "come forward\n", 13, MSG_NOSIGNAL), ssize_t(13));
    int ending[2];
    QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM, 0, ending) == 0);
    QEventLoop loop;
    QSocketNotifier told(ending[0], QSocketNotifier::Read);
    connect(&told, &QSocketNotifier::activated, &loop, [&loop] { loop.exit(); });
    QCOMPARE(::write(ending[1], "x", 1), ssize_t(1));
    loop.exec();
    first.reset();
    // Unanswered, the launch runs on its own instead of ending with nothing shown.
    pollfd watched{fd, POLLIN, 0};
    QCOMPARE(::poll(&watched, 1, 3000), 1);
    char answer[8];
    QVERIFY2(::recv(fd, answer, sizeof answer, 0) <= 0, "the ending copy answered");
    QCOMPARE(asked, 0);
    for (const int end : {fd, ending[0], ending[1]})
        ::close(end);
#else
    QSKIP("a Windows launch learns nothing from an answer");
#endif
}

void TestSingleInstance::emptyKeyAlwaysRuns()
{
    shell::SingleInstance first(QByteArray{});
    shell::SingleInstance second(QByteArray{});
    QVERIFY(!first.holdsKey() && !second.holdsKey());
    QVERIFY(!first.handedOver() && !second.handedOver());
}

void TestSingleInstance::misbehavingLaunchesNeitherBlockNorRaise_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("connections");
    QTest::newRow("connects and never writes") << QByteArray() << 1;
    QTest::newRow("a flood that never writes") << QByteArray() << 300;
    QTest::newRow("half a request") << QByteArray("come for") << 20;
    QTest::newRow("something else") << QByteArray("raise\n") << 5;
    QTest::newRow("request and more") << QByteArray("come forward\nand more\n") << 5;
    QTest::newRow("a lot") << QByteArray(100000, 'c') << 3;
}

void TestSingleInstance::misbehavingLaunchesNeitherBlockNorRaise()
{
#ifdef Q_OS_UNIX
    QFETCH(QByteArray, sent);
    QFETCH(int, connections);
    const QByteArray key = uniqueKey();
    shell::SingleInstance first(key);
    int asked = 0;
    first.listen([&asked] { ++asked; });
    QList<int> open;
    for (int i = 0; i < connections; ++i) {
        const int fd = connectTo(key);
        if (fd < 0) {
            // The queue is full: let the holder take some.
            QTest::qWait(1);
            continue;
        }
        open.append(fd);
        if (!sent.isEmpty()) [[maybe_unused]]
            const ssize_t n = ::send(fd, sent.constData(), std::size_t(sent.size()), MSG_NOSIGNAL);
    }
    // A real launch among them still gets through, well before its time runs out.
    QElapsedTimer timer;
    timer.start();
    auto later = launch(key);
    QTRY_VERIFY(ready(later));
    QVERIFY(later.get());
    QVERIFY(timer.elapsed() < shell::SingleInstance::kAnswerMs / 2);
    QTRY_COMPARE(asked, 1);
    QTest::qWait(200);
    QCOMPARE(asked, 1);
    for (const int fd : open)
        ::close(fd);
#else
    QSKIP("raw connections to the holder are a Unix matter");
#endif
}

void TestSingleInstance::anotherUsersHolderIsNotAskedAndNotWaitedFor()
{
#ifdef Q_OS_UNIX
    const QByteArray key = uniqueKey();
    int bound[2], done[2];
    QVERIFY(::pipe(bound) == 0 && ::pipe(done) == 0);
    int child = 0;
    // nobody binds the key first and holds it until this side is done.
    const int started = asAnotherUser(
        [&] {
            const int fd = bindName(key);
            if (fd < 0 || ::listen(fd, 4) != 0)
                return 1;
            char byte = 0;
            [[maybe_unused]] const ssize_t w = ::write(bound[1], "b", 1);
            [[maybe_unused]] const ssize_t r = ::read(done[0], &byte, 1);
            return 0;
        },
        &child);
    if (started < 0)
        QSKIP("needs root to run a part as another user");
    char byte = 0;
    QCOMPARE(::read(bound[0], &byte, 1), ssize_t(1));
    QVERIFY(runsOnItsOwnAtOnce(key));
    QCOMPARE(::write(done[1], "e", 1), ssize_t(1));
    int status = 0;
    ::waitpid(child, &status, 0);
    for (const int fd : {bound[0], bound[1], done[0], done[1]})
        ::close(fd);
    QCOMPARE(WEXITSTATUS(status), 0);
#else
    QSKIP("Windows keeps another user's mutex closed to this one");
#endif
}

void TestSingleInstance::anotherUsersLaunchIsIgnored()
{
#ifdef Q_OS_UNIX
    const QByteArray key = uniqueKey();
    shell::SingleInstance first(key);
    int asked = 0;
    first.listen([&asked] { ++asked; });
    auto later = std::async(std::launch::async, [&key] {
        return asAnotherUser([&key] {
            const int fd = connectTo(key);
            if (fd < 0)
                return 1;
            [[maybe_unused]] const ssize_t n = ::send(fd, "come forward\n", 13, MSG_NOSIGNAL);
            // Closed without an answer (reset: the request was never read).
            pollfd watched{fd, POLLIN, 0};
            if (::poll(&watched, 1, 3000) != 1)
                return 2;
            char answer[8];
            const ssize_t got = ::recv(fd, answer, sizeof answer, 0);
            return got == 0 || (got < 0 && errno == ECONNRESET) ? 0 : 3;
        });
    });
    QTRY_VERIFY(ready(later));
    const int status = later.get();
    if (status < 0)
        QSKIP("needs root to run a part as another user");
    QCOMPARE(status, 0);
    QTest::qWait(100);
    QCOMPARE(asked, 0);
#else
    QSKIP("Windows keeps another user's mutex closed to this one");
#endif
}

void TestSingleInstance::anotherProgramAnsweringIsNotBelieved()
{
#ifdef Q_OS_UNIX
    // A program of this user, not Lumivex, holds the name and answers as a
    // copy would: believing it would end the launch with nothing shown.
    const QString python = QStandardPaths::findExecutable(u"python3"_s);
    if (python.isEmpty())
        QSKIP("needs python3 to hold the name as another program");
    const QByteArray key = uniqueKey();
    QProcess squatter;
    squatter.start(python, {u"-c"_s, uR"(import socket, sys
s = socket.socket(socket.AF_UNIX); s.bind(b'\0' + sys.argv[1].encode()); s.listen(4)
print('bound', flush=True)
while True: c = s.accept()[0]; c.recv(64); c.sendall(b'ok\n'); c.close()
)"_s,
                            QString::fromLatin1(key)});
    QVERIFY(squatter.waitForReadyRead(10000));
    QVERIFY(runsOnItsOwnAtOnce(key));
    squatter.kill();
    squatter.waitForFinished();
#else
    QSKIP("the named mutex of Windows answers nothing");
#endif
}

void TestSingleInstance::nameBoundWithoutListeningIsNotWaitedFor()
{
#ifdef Q_OS_UNIX
    const QByteArray key = uniqueKey();
    const int fd = bindName(key);
    QVERIFY(fd >= 0);
    QElapsedTimer timer;
    timer.start();
    const shell::SingleInstance mine(key);
    QVERIFY(!mine.handedOver());
    QVERIFY(!mine.holdsKey());
    QVERIFY(timer.elapsed() < shell::SingleInstance::kAnswerMs / 5);
    ::close(fd);
#else
    QSKIP("the named mutex of Windows is bound by nothing else");
#endif
}

void TestSingleInstance::comeForwardShowsWhatTheUserNeeds()
{
    FakePlatform platform;
    shell::MainWindow form(platform);
    form.setUp();
    form.showCentred();
    QVERIFY(QTest::qWaitForWindowActive(&form));

    QWidget other;
    other.show();
    other.activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), &other);
    shell::comeForward(form);
    QTRY_COMPARE(QApplication::activeWindow(), &form);

    form.showMinimized();
    other.activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), &other);
    shell::comeForward(form);
    QTRY_VERIFY(!form.isMinimized());
    QTRY_COMPARE(QApplication::activeWindow(), &form);

    // With the strobe open, the strobe comes forward, never the main window
    // over it.
    form.startStrobe();
    QVERIFY(form.strobe()->window());
    QWidget *strobeWindow = form.strobe()->window();
    QTRY_COMPARE(QApplication::activeWindow(), strobeWindow);
    form.activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), &form);
    shell::comeForward(form);
    QTRY_COMPARE(QApplication::activeWindow(), strobeWindow);
    form.strobe()->unload();
}

QTEST_MAIN(TestSingleInstance)
#include "test_singleinstance.moc"
