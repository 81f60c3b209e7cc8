#include "settings/savequeue.h"

#include "settings/settingsstore.h"

#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace settings {

SaveQueue::SaveQueue(SettingsStore &store, Mode mode, int exitWaitMs)
    : m_store(store)
    , m_exitWaitMs(exitWaitMs)
{
    m_owner.check();
    if (mode == Mode::Background) {
        m_thread = QThread::create([this] {
#ifdef Q_OS_LINUX
            // Linux gives threads of a program one priority unless told: the
            // window's thread comes first when both want the processor.
            [[maybe_unused]] const int niced = ::setpriority(PRIO_PROCESS, ::gettid(), 10);
#endif
            run();
        });
        m_thread->setObjectName(QStringLiteral("settings"));
        m_thread->start(QThread::LowPriority);
    }
}

SaveQueue::~SaveQueue()
{
    m_owner.check();
    if (!m_thread)
        return;
    // What is waiting is saved first: at most one value a key, and each save
    // waits a bounded time for the lock.
    {
        const QMutexLocker locker(&m_mutex);
        m_stopping = true;
        m_wake.wakeAll();
    }
    if (!m_thread->wait(QDeadlineTimer(m_exitWaitMs)))
        endWithoutSaving();
    delete m_thread;
}

// A save that does not end (a file system that stopped answering) cannot be
// cut short, and the store it uses goes with the program: the program ends
// here. A save replaces the file in one step, so the file stays as it was.
void SaveQueue::endWithoutSaving()
{
    std::fprintf(stderr,
                 "lumivex: a save of the settings was still under way after %.1f s; ending "
                 "without it (the settings file is left as it was)\n",
                 m_exitWaitMs / 1000.0);
    std::fflush(stderr);
    std::_Exit(EXIT_SUCCESS);
}

void SaveQueue::save(const QString &application, const QString &section, const QString &key,
                     const QString &value)
{
    m_owner.check();
    const Pending pending{application, section, key, value};
    if (!m_thread) {
        saveNow(pending);
        return;
    }
    const QMutexLocker locker(&m_mutex);
    const auto same = [&](const Pending &waiting) {
        return waiting.application == application && waiting.section == section
               && waiting.key == key;
    };
    const auto waiting = std::find_if(m_pending.begin(), m_pending.end(), same);
    if (waiting != m_pending.end())
        waiting->value = value;
    else
        m_pending.append(pending);
    m_wake.wakeAll();
}

QString SaveQueue::get(const QString &application, const QString &section, const QString &key,
                       const QString &defaultValue)
{
    m_owner.check();
    const QMutexLocker locker(&m_storeMutex);
    return m_store.setting(application, section, key, defaultValue);
}

bool SaveQueue::finish(int timeoutMs)
{
    m_owner.check();
    if (!m_thread)
        return true;
    const QDeadlineTimer deadline(timeoutMs);
    QMutexLocker locker(&m_mutex);
    while (m_busy || !m_pending.isEmpty()) {
        if (!m_idle.wait(&m_mutex, deadline))
            return false;
    }
    return true;
}

void SaveQueue::saveNow(const Pending &pending)
{
    m_saver.check();
    try {
        const QMutexLocker locker(&m_storeMutex);
        m_store.saveSetting(pending.application, pending.section, pending.key, pending.value);
    } catch (const errors::Failure &failure) {
        if (stopping())
            tellAtTheEnd(failure.description());
        else
            Q_EMIT failed(failure.description());
    }
}

bool SaveQueue::stopping()
{
    const QMutexLocker locker(&m_mutex);
    return m_stopping;
}

// The program is ending: no window is left to say it, and nobody hears failed().
void SaveQueue::tellAtTheEnd(const QString &description)
{
    std::fprintf(stderr,
                 "lumivex: a choice could not be saved as the program ended, and will not be "
                 "remembered next time: %s\n",
                 description.toLocal8Bit().constData());
    std::fflush(stderr);
}

void SaveQueue::run()
{
    QMutexLocker locker(&m_mutex);
    for (;;) {
        while (m_pending.isEmpty() && !m_stopping)
            m_wake.wait(&m_mutex);
        if (m_pending.isEmpty())
            return;
        const Pending next = m_pending.takeFirst();
        m_busy = true;
        locker.unlock();
        saveNow(next);
        locker.relock();
        m_busy = false;
        if (m_pending.isEmpty())
            m_idle.wakeAll();
    }
}

} // namespace settings
