#include "shell/singleinstance.h"

#include "shell/sessionkey.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QProcessEnvironment>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// The copies of a session meet at a Unix socket in the abstract namespace: the
// kernel frees the name the moment its holder ends, killed or not, so nothing
// stale is ever left, and there is no file that anyone could plant or replace.
// Anyone may bind any abstract name, so both sides check who is at the other
// end (SO_PEERCRED) and deal only with their own user.

namespace shell {

namespace {

const QByteArray kAsk = QByteArrayLiteral("come forward\n");
const QByteArray kAnswer = QByteArrayLiteral("ok\n");
// Launches that connected but have not yet asked; beyond it the oldest is dropped.
constexpr std::size_t kMaxWaiting = 8;
// How long one of them may take to ask.
constexpr int kAskMs = 2000;
// Refusals in a row, 10 ms apart, from whatever holds the name.
constexpr int kMaxRefused = 5;
const char kNobodyAnswers[] = "lumivex: this session's name is taken but nothing answers on it; "
                              "running on\n";

quint64 fnv1a(const QByteArray &bytes)
{
    quint64 hash = 14695981039346656037ULL;
    for (const char byte : bytes) {
        hash ^= quint8(byte);
        hash *= 1099511628211ULL;
    }
    return hash;
}

// The X display without its screen number: ":0.1" and ":0" are one server,
// and so are "unix:0" and ":0", both the local socket.
QString serverOf(QString display)
{
    const qsizetype colon = display.lastIndexOf(u':');
    const qsizetype dot = display.indexOf(u'.', colon + 1);
    if (colon >= 0 && dot > colon)
        display.truncate(dot);
    if (display.startsWith(u"unix/"))
        display.remove(0, 5);
    if (display.startsWith(u"unix:"))
        display.remove(0, 4);
    return display;
}

socklen_t addressFor(const QByteArray &key, sockaddr_un &address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    // A leading zero byte puts the name in the abstract namespace.
    const std::size_t length = std::min(std::size_t(key.size()), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, key.constData(), length);
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
}

int newSocket()
{
    return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

bool ownUser(int fd)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
}

// The program file that a process runs, as /proc names it.
QByteArray programFile(const QByteArray &exe)
{
    QByteArray target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(exe.constData(), target.data(), std::size_t(target.size()));
    if (n <= 0)
        return {};
    target.truncate(n);
    const QByteArray deleted(" (deleted)");
    if (target.endsWith(deleted))
        target.chop(deleted.size());
    return target;
}

// Whether the holder at the other end runs this very program: any program of
// the user may bind the name, and one that answers for Lumivex must not make
// a launch end with nothing on the screen. A copy started before the program
// file was replaced (an upgrade) runs the old file under the same name.
bool sameProgram(int fd)
{
    struct stat mine = {};
    if (::stat("/proc/self/exe", &mine) != 0)
        return true; // Without /proc nothing can be told.
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return false;
    const QByteArray theirs = "/proc/" + QByteArray::number(peer.pid) + "/exe";
    struct stat info = {};
    if (::stat(theirs.constData(), &info) == 0 && info.st_dev == mine.st_dev
        && info.st_ino == mine.st_ino)
        return true;
    const QByteArray file = programFile(theirs);
    return !file.isEmpty() && file == programFile("/proc/self/exe");
}

// The listening socket under key, or -1 with errno set.
int claim(const QByteArray &key)
{
    const int fd = newSocket();
    if (fd < 0)
        return -1;
    sockaddr_un address;
    const socklen_t length = addressFor(key, address);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0 && ::listen(fd, 16) == 0)
        return fd;
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

enum class Reply { Answered, Gone, Refused, Silent, Foreign, Stranger };

Reply waitForAnswer(int fd, const QDeadlineTimer &deadline)
{
    QByteArray got;
    while (!got.endsWith('\n')) {
        pollfd watched{fd, POLLIN, 0};
        const int ready = ::poll(&watched, 1, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return Reply::Silent;
        char buffer[16];
        const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (count <= 0)
            return Reply::Gone;
        got.append(buffer, count);
        if (got.size() > kAnswer.size())
            return Reply::Silent;
    }
    return got == kAnswer ? Reply::Answered : Reply::Silent;
}

// Asks the copy that holds key to come forward.
Reply askHolder(const QByteArray &key, const QDeadlineTimer &deadline)
{
    const int fd = newSocket();
    if (fd < 0)
        return Reply::Silent;
    sockaddr_un address;
    const socklen_t length = addressFor(key, address);
    Reply reply = Reply::Gone;
    // A full queue of launches (EAGAIN) or a holder just ending: try again.
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), length) != 0) {
        if (errno == ECONNREFUSED)
            reply = Reply::Refused;
    } else {
        if (!ownUser(fd))
            reply = Reply::Foreign;
        else if (!sameProgram(fd))
            reply = Reply::Stranger;
        else if (::send(fd, kAsk.constData(), std::size_t(kAsk.size()), MSG_NOSIGNAL)
                 == kAsk.size())
            reply = waitForAnswer(fd, deadline);
    }
    ::close(fd);
    return reply;
}

// A later launch that connected, until it has asked or is dropped.
struct Launch
{
    Launch(int socket, quint64 number)
        : fd(socket)
        , id(number)
    {}
    ~Launch()
    {
        // Its notifier may be the one being handled right now.
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
        ::close(fd);
    }
    Q_DISABLE_COPY_MOVE(Launch)

    int fd;
    quint64 id;
    QPointer<QSocketNotifier> notifier;
    QByteArray got;
};

} // namespace

QByteArray sessionKey(const QStringList &arguments, const QProcessEnvironment &environment)
{
    for (const QString &name : requestedPlatforms(arguments, environment)) {
        // Qt finds its platforms whatever their case.
        if (name.compare(u"xcb", Qt::CaseInsensitive) != 0
            && !name.startsWith(u"wayland", Qt::CaseInsensitive))
            return {};
    }
    QString x11 = qtOptionValue(arguments, QStringLiteral("display"));
    if (x11.isEmpty())
        x11 = environment.value(QStringLiteral("DISPLAY"));
    QString wayland = environment.value(QStringLiteral("WAYLAND_DISPLAY"));
    if (!wayland.isEmpty() && !wayland.startsWith(u'/'))
        wayland = environment.value(QStringLiteral("XDG_RUNTIME_DIR")) + u'/' + wayland;
    if (x11.isEmpty() && wayland.isEmpty())
        return {};
    const QByteArray displays = (serverOf(x11) + u'\n' + wayland).toUtf8();
    return QByteArrayLiteral("com.quarnel.Lumivex.") + QByteArray::number(::getuid()) + '.'
           + QByteArray::number(fnv1a(displays), 16);
}

struct SingleInstance::Holder
{
    explicit Holder(int fd)
        : listener(fd)
    {}
    ~Holder() { release(); }
    Q_DISABLE_COPY_MOVE(Holder)

    void start(std::function<void()> callback);
    void release();
    void acceptLaunches();
    void take(int fd);
    enum class Asking { Partly, Asked, Done };
    // Reads what the launch sent; Done when it is to be closed unanswered.
    Asking read(Launch &launch);
    // Brings this copy forward and tells the launch so.
    void answer(quint64 id);
    void drop(quint64 id);

    int listener;
    QObject context;
    QPointer<QSocketNotifier> notifier;
    std::vector<std::unique_ptr<Launch>> waiting;
    quint64 launches = 0;
    std::function<void()> comeForward;
};

void SingleInstance::Holder::start(std::function<void()> callback)
{
    comeForward = std::move(callback);
    notifier = new QSocketNotifier(listener, QSocketNotifier::Read, &context);
    QObject::connect(notifier, &QSocketNotifier::activated, &context,
                     [this] { acceptLaunches(); });
    // A launch that came while this copy ends would wait for nothing.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &context, [this] { release(); });
}

void SingleInstance::Holder::release()
{
    waiting.clear();
    delete notifier.data();
    if (listener >= 0)
        ::close(listener);
    listener = -1;
}

void SingleInstance::Holder::acceptLaunches()
{
    // A bounded number at a time, so that a flood never holds the event loop.
    for (int i = 0; i < 32 && listener >= 0; ++i) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (ownUser(fd))
            take(fd);
        else
            ::close(fd);
    }
}

void SingleInstance::Holder::take(int fd)
{
    auto launch = std::make_unique<Launch>(fd, ++launches);
    const Asking state = read(*launch);
    if (state == Asking::Done)
        return;
    if (waiting.size() >= kMaxWaiting)
        waiting.erase(waiting.begin());
    Launch *raw = launch.get();
    const quint64 id = raw->id;
    raw->notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &context);
    raw->notifier->setEnabled(state == Asking::Partly);
    QObject::connect(raw->notifier, &QSocketNotifier::activated, &context, [this, raw, id] {
        switch (read(*raw)) {
        case Asking::Done:
            drop(id);
            break;
        case Asking::Asked:
            raw->notifier->setEnabled(false);
            break;
        case Asking::Partly:
            break;
        }
    });
    QTimer::singleShot(kAskMs, raw->notifier, [this, id] { drop(id); });
    waiting.push_back(std::move(launch));
}

SingleInstance::Holder::Asking SingleInstance::Holder::read(Launch &launch)
{
    char buffer[32];
    ssize_t count = 0;
    while ((count = ::recv(launch.fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
        launch.got.append(buffer, count);
        if (!kAsk.startsWith(launch.got))
            return Asking::Done;
    }
    if (launch.got == kAsk) {
        // Answered from the loop, once this copy is known to go on: a copy
        // told to end as the launch asked must not take the launch with it.
        QTimer::singleShot(0, &context, [this, id = launch.id] { answer(id); });
        return Asking::Asked;
    }
    return count < 0 && (errno == EAGAIN || errno == EINTR) ? Asking::Partly : Asking::Done;
}

void SingleInstance::Holder::answer(quint64 id)
{
    const auto it
        = std::find_if(waiting.begin(), waiting.end(),
                       [id](const std::unique_ptr<Launch> &launch) { return launch->id == id; });
    if (listener < 0 || it == waiting.end())
        return;
    comeForward();
    ::send((*it)->fd, kAnswer.constData(), std::size_t(kAnswer.size()),
           MSG_NOSIGNAL | MSG_DONTWAIT);
    drop(id);
}

void SingleInstance::Holder::drop(quint64 id)
{
    const auto it
        = std::find_if(waiting.begin(), waiting.end(),
                       [id](const std::unique_ptr<Launch> &launch) { return launch->id == id; });
    if (it != waiting.end())
        waiting.erase(it);
}

SingleInstance::SingleInstance(const QByteArray &key)
{
    if (key.isEmpty())
        return;
    const QDeadlineTimer deadline(kAnswerMs);
    int refused = 0;
    while (!deadline.hasExpired()) {
        const int fd = claim(key);
        if (fd >= 0) {
            m_holder = std::make_unique<Holder>(fd);
            return;
        }
        if (errno != EADDRINUSE)
            return;
        switch (askHolder(key, deadline)) {
        case Reply::Answered:
            m_handedOver = true;
            return;
        case Reply::Foreign:
            std::fputs("lumivex: another user holds this session's name; running on\n", stderr);
            return;
        case Reply::Stranger:
            std::fputs("lumivex: another program holds this session's name; running on\n", stderr);
            return;
        case Reply::Silent:
            std::fputs("lumivex: the copy already running does not answer; running on\n", stderr);
            return;
        case Reply::Refused:
            // A copy listens the moment it has the name: one bound without
            // listening for this long is not a copy.
            if (++refused >= kMaxRefused) {
                std::fputs(kNobodyAnswers, stderr);
                return;
            }
            QThread::msleep(10);
            break;
        case Reply::Gone:
            refused = 0;
            QThread::msleep(10);
            break;
        }
    }
    std::fputs(kNobodyAnswers, stderr);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::holdsKey() const
{
    return m_holder && m_holder->listener >= 0;
}

void SingleInstance::listen(std::function<void()> comeForward)
{
    if (holdsKey())
        m_holder->start(std::move(comeForward));
}

} // namespace shell
