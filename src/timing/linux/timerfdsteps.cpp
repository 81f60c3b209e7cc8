#include "timing/linux/timerfdsteps.h"

#include <QSocketNotifier>

#include <unistd.h>

#include <cstdint>

namespace timing {

TimerFdSteps::TimerFdSteps(int fd, std::function<void(bool)> threadReads, QObject *parent)
    : TimerSteps(parent)
    , m_fd(fd)
    , m_threadReads(std::move(threadReads))
{}

TimerFdSteps::~TimerFdSteps()
{
    // The thread reads the descriptor until it is joined.
    endThread();
}

bool TimerFdSteps::run(std::unique_ptr<Stepper> stepper, std::unique_ptr<Pacer> pacer)
{
    endThread();
    const bool wanted = stepper != nullptr;
    if (wanted) {
        // Only one thread reads the descriptor at a time.
        m_threadReads(true);
        m_thread = StepThread::start(m_fd, std::move(stepper), std::move(pacer));
    }
    if (!m_thread) {
        m_threadReads(false);
        return !wanted;
    }
    m_wakeNotifier = new QSocketNotifier(m_thread->wakeFd(), QSocketNotifier::Read, this);
    connect(m_wakeNotifier, &QSocketNotifier::activated, this, &TimerFdSteps::readWake);
    return true;
}

quint64 TimerFdSteps::made() const
{
    return m_madeBefore + (m_thread ? m_thread->steps() : 0);
}

void TimerFdSteps::wakeAt(quint64 count)
{
    if (m_thread)
        m_thread->wakeAt(count > m_madeBefore ? count - m_madeBefore : 0);
}

void TimerFdSteps::readWake()
{
    std::uint64_t wakes = 0;
    if (::read(m_thread->wakeFd(), &wakes, sizeof wakes) != sizeof wakes)
        return;
    m_log.tell(m_thread->refreshRate(), m_thread->lateSteps());
    Q_EMIT woken();
}

void TimerFdSteps::endThread()
{
    delete m_wakeNotifier;
    m_wakeNotifier = nullptr;
    if (!m_thread)
        return;
    m_log.endRun(m_thread->refreshRate(), m_thread->lateSteps());
    m_madeBefore += m_thread->steps();
    m_thread.reset();
}

} // namespace timing
