#pragma once

#include <QByteArray>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <memory>

class QProcessEnvironment;

namespace shell {

// The name under which the copies of one user session find each other, from
// the Qt options on the command line (without the program name) and the
// environment. Empty where each copy has a display of its own (offscreen, no
// display at all): such a copy always runs.
QByteArray sessionKey(const QStringList &arguments, const QProcessEnvironment &environment);
QByteArray sessionKey(int argc, char *argv[]);

// One running copy per user session. The first copy to claim the key holds
// it until its event loop ends; a later one hands over to it instead of
// running. Cheap enough to build before the application object.
class SingleInstance final
{
public:
    // Claims key, or asks the copy that holds it to come forward. An empty
    // key, a holder that belongs to another user or that does not answer
    // leaves this copy to run on its own.
    explicit SingleInstance(const QByteArray &key);
    ~SingleInstance();
    Q_DISABLE_COPY_MOVE(SingleInstance)

    // Another copy came forward: this one should end.
    bool handedOver() const { return m_handedOver; }
    // Whether this copy holds the key.
    bool holdsKey() const;

    // Calls comeForward on this thread for each later launch, from the event
    // loop; launches made before are answered once it runs. Needs the
    // application object. The key is let go when the event loop ends.
    void listen(std::function<void()> comeForward);

    // How long a later launch waits for the holder's answer.
    static constexpr int kAnswerMs = 5000;

private:
    struct Holder;
    std::unique_ptr<Holder> m_holder;
    bool m_handedOver = false;
};

} // namespace shell
