#include "shell/singleinstance.h"

#include "shell/sessionkey.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <QProcessEnvironment>

#include <qt_windows.h>

#include <cstdio>
#include <string>
#include <utility>

// A named mutex in the session's Local namespace marks the copy that holds
// the key; it goes with its process, however that ends. The holder keeps a
// message-only window named after the key, to which a later launch sends its
// request after allowing the holder to take the foreground. The mutex of
// another user in the same session cannot be opened (ERROR_ACCESS_DENIED).

namespace shell {

namespace {

constexpr wchar_t kWindowClass[] = L"Quarnel.Lumivex.HandOver";
constexpr UINT kComeForward = WM_APP + 0x4c56;
constexpr LRESULT kAnswer = 0x4c56;

std::wstring wide(const QByteArray &key)
{
    return QString::fromLatin1(key).toStdWString();
}

} // namespace

QByteArray sessionKey(const QStringList &arguments, const QProcessEnvironment &environment)
{
    for (const QString &name : requestedPlatforms(arguments, environment)) {
        if (name != u"windows" && name != u"direct2d")
            return {};
    }
    return QByteArrayLiteral("Quarnel.Lumivex.Window");
}

struct SingleInstance::Holder
{
    Holder(HANDLE held, const std::wstring &name);
    ~Holder() { release(); }
    Q_DISABLE_COPY_MOVE(Holder)

    void release();
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l);

    HANDLE mutex;
    HWND window = nullptr;
    QObject context;
    std::function<void()> comeForward;
    // Requests that came before there was anyone to tell.
    bool asked = false;
};

SingleInstance::Holder::Holder(HANDLE held, const std::wstring &name)
    : mutex(held)
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &Holder::procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
    window = CreateWindowExW(0, kWindowClass, name.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             instance, nullptr);
    if (window)
        SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(this));
}

void SingleInstance::Holder::release()
{
    if (window)
        DestroyWindow(window);
    window = nullptr;
    if (mutex)
        CloseHandle(mutex);
    mutex = nullptr;
}

LRESULT CALLBACK SingleInstance::Holder::procedure(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message != kComeForward)
        return DefWindowProcW(window, message, w, l);
    auto *holder = reinterpret_cast<Holder *>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!holder)
        return 0;
    // Answered at once; the windows move once the sender is free again.
    if (holder->comeForward && qApp)
        QMetaObject::invokeMethod(qApp, holder->comeForward, Qt::QueuedConnection);
    else
        holder->asked = true;
    return kAnswer;
}

SingleInstance::SingleInstance(const QByteArray &key)
{
    if (key.isEmpty())
        return;
    const std::wstring name = wide(key);
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, (L"Local\\" + name).c_str());
    if (!mutex)
        return;
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
        m_holder = std::make_unique<Holder>(mutex, name);
        return;
    }
    CloseHandle(mutex);
    // The holder makes its window right after the mutex; it may be starting.
    const QDeadlineTimer deadline(kAnswerMs);
    HWND holder = nullptr;
    while (!(holder = FindWindowExW(HWND_MESSAGE, nullptr, kWindowClass, name.c_str()))
           && !deadline.hasExpired())
        Sleep(10);
    DWORD process = 0;
    if (holder && GetWindowThreadProcessId(holder, &process)) {
        AllowSetForegroundWindow(process);
        DWORD_PTR answer = 0;
        m_handedOver
            = SendMessageTimeoutW(holder, kComeForward, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                  UINT(qMax<qint64>(deadline.remainingTime(), 100)), &answer)
              && answer == DWORD_PTR(kAnswer);
    }
    if (!m_handedOver)
        std::fputs("lumivex: the copy already running does not answer; running on\n", stderr);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::holdsKey() const
{
    return m_holder && m_holder->window;
}

void SingleInstance::listen(std::function<void()> comeForward)
{
    if (!holdsKey())
        return;
    m_holder->comeForward = std::move(comeForward);
    if (std::exchange(m_holder->asked, false))
        QMetaObject::invokeMethod(qApp, m_holder->comeForward, Qt::QueuedConnection);
    Holder *holder = m_holder.get();
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &holder->context,
                     [holder] { holder->release(); });
}

} // namespace shell
