#pragma once

#include "errors/threadaffinity.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QWaitCondition>

class QThread;

namespace settings {

class SettingsStore;

// Saves values into a store in the order they are asked for, on a thread of
// its own, so that the window never waits for the disk, a big file or another
// program's lock. A value asked for again before its save has begun takes the
// place of the one waiting. Failures come back through failed(), in the
// queue's own thread; once the queue stops, they go to standard error.
// Immediate saves at once, in the caller's thread. Only the thread that makes
// the queue uses it (debug builds check).
class SaveQueue final : public QObject
{
    Q_OBJECT

public:
    enum class Mode { Background, Immediate };

    SaveQueue(SettingsStore &store, Mode mode, int exitWaitMs = kExitWaitMs);
    // Saves what is waiting, then stops the thread. When that takes longer
    // than exitWaitMs, it ends the program instead (status 0, a line on
    // standard error), leaving the file as it was.
    ~SaveQueue() override;
    Q_DISABLE_COPY_MOVE(SaveQueue)

    void save(const QString &application, const QString &section, const QString &key,
              const QString &value);

    // Reads from the store, after a save under way. Throws as the store does.
    QString get(const QString &application, const QString &section, const QString &key,
                const QString &defaultValue);

    // Waits until every value asked for is saved, or failed, or timeoutMs
    // has passed; returns whether nothing is left.
    bool finish(int timeoutMs);

    // A save waits at most about four seconds for another program's lock.
    static constexpr int kExitWaitMs = 5000;

Q_SIGNALS:
    void failed(const QString &description);

private:
    struct Pending
    {
        QString application;
        QString section;
        QString key;
        QString value;
    };

    void saveNow(const Pending &pending);
    bool stopping();
    static void tellAtTheEnd(const QString &description);
    void run();
    [[noreturn]] void endWithoutSaving();

    SettingsStore &m_store;
    QMutex m_storeMutex; // the store serves one thread at a time
    QMutex m_mutex;      // guards the members below
    QWaitCondition m_wake;
    QWaitCondition m_idle;
    QList<Pending> m_pending;
    bool m_busy = false;
    bool m_stopping = false;
    QThread *m_thread = nullptr;
    int m_exitWaitMs;
    errors::ThreadAffinity m_owner; // asks for saves and reads: the window's thread
    errors::ThreadAffinity m_saver; // writes the store: the queue's thread, or the owner
};

} // namespace settings
