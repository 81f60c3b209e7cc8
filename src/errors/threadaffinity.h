#pragma once

#include <QtGlobal>

#include <atomic>
#include <thread>

namespace errors {

// Debug builds: checks that entry points meant for one thread are only ever
// called on one. The first call binds the thread; release() frees it for the
// next (a worker thread that ends and is started anew). Release builds keep
// nothing and check nothing.
class ThreadAffinity final
{
public:
#ifdef QT_NO_DEBUG
    void check() const noexcept {}
    void release() noexcept {}
#else
    void check() const noexcept
    {
        const std::thread::id caller = std::this_thread::get_id();
        std::thread::id owner;
        if (!m_owner.compare_exchange_strong(owner, caller))
            Q_ASSERT_X(owner == caller, "ThreadAffinity", "called on a second thread");
    }
    void release() noexcept
    {
        m_owner.store(std::thread::id());
    }

private:
    mutable std::atomic<std::thread::id> m_owner{};
#endif
};

} // namespace errors
