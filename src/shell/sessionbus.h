#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace shell {

// Qt's D-Bus waits for the session bus with no deadline (its accessibility
// bridge, while the first window is built): a bus that takes connections and
// never answers would hold start-up for ever. This asks that bus for its
// greeting on a connection of its own, on a thread of its own, while Qt
// starts, so that a normal start does not wait for it. The same for an
// accessibility bus named by AT_SPI_BUS_ADDRESS. Unix only; elsewhere it does
// nothing.
class SessionBusCheck final
{
public:
    explicit SessionBusCheck(std::chrono::milliseconds deadline = std::chrono::seconds(1));
    SessionBusCheck(const SessionBusCheck &) = delete;
    SessionBusCheck &operator=(const SessionBusCheck &) = delete;

    // Waits for the answers until the deadline, counted from the check's
    // start. A bus that has not answered by then is used by nothing in the
    // process: its address is replaced by one that names no bus, and standard
    // error says so once. Returns whether every bus is used.
    bool settle();

    struct State;

private:
    std::vector<std::shared_ptr<State>> m_buses;
    std::chrono::steady_clock::time_point m_deadline;
};

// The session bus's address as libdbus finds it: DBUS_SESSION_BUS_ADDRESS,
// else the user's own socket XDG_RUNTIME_DIR/bus; empty when there is
// neither (libdbus would then start a bus of its own, which answers).
std::string sessionBusAddress();

// The address the process is given when its bus does not answer: no
// transport libdbus knows, so every connection fails at once.
constexpr const char *kNoSessionBus = "lumivex-unanswered:";

} // namespace shell
