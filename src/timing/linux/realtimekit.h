#pragma once

#include <QtGlobal>

#include <chrono>
#include <optional>
#include <string>

struct DBusConnection;

namespace timing {

// The system bus's address, as the environment gives it or by default.
std::string systemBusAddress();

// RealtimeKit, the system bus service that lends real-time priority or a
// raised nice level to threads of desktop programs. It talks to the bus on a
// private connection of its own, each call waiting at most the timeout; only
// the first connection's handshake may wait longer on a bus that never
// answers, so it is only ever used on a thread nothing waits for.
class RealtimeKit final
{
public:
    struct Limits
    {
        int maxRealtimePriority = 0;
        int minNiceLevel = 0;
        std::chrono::microseconds realtimeRunMax{0};
    };

    RealtimeKit(std::string busAddress, std::chrono::milliseconds timeout);
    ~RealtimeKit();
    Q_DISABLE_COPY_MOVE(RealtimeKit)

    // Connects on first use; nullopt without a connection or a RealtimeKit.
    std::optional<Limits> limits();
    bool makeThreadRealtime(quint64 thread, int priority);
    bool makeThreadHighPriority(quint64 thread, int niceLevel);

private:
    bool connect();
    std::optional<qint64> property(const char *name);
    // A method that takes a thread id and one more basic value.
    bool callForThread(const char *method, quint64 thread, int type, const void *value);

    std::string m_address;
    int m_timeoutMs;
    DBusConnection *m_connection = nullptr;
};

} // namespace timing
