// Linked into the test programs of a ThreadSanitizer build (LUMIVEX_TSAN).
//
// QMutex tells ThreadSanitizer when it is taken and given back, from inline
// code in Qt's headers, which the program is built with. QWaitCondition::wait
// gives the mutex back and takes it again inside Qt's library, which is not
// built with ThreadSanitizer: the sanitizer then believes the waiting thread
// still holds the mutex, reports the next thread that takes it as a double
// lock, and loses the order of everything the mutex guards. These stand in
// for Qt's two waits on a QMutex and, for the program's own calls, say what a
// ThreadSanitizer build of Qt says around them, then call Qt's own. Qt's
// libraries reach them too (the program's definitions come first), but lock
// their mutexes without a word to the sanitizer: their calls pass straight on.
#include <QDeadlineTimer>
#include <QMutex>
#include <QWaitCondition>

#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

namespace {

// Qt's own definition of a symbol these replace.
template<typename Function> Function qtOwn(const char *mangledName)
{
    void *found = dlvsym(RTLD_NEXT, mangledName, "Qt_6");
    if (!found)
        found = dlsym(RTLD_NEXT, mangledName);
    return reinterpret_cast<Function>(found);
}

// Whether the call comes from the program itself rather than from a library.
bool fromProgram(const void *caller)
{
    static const void *const program = [] {
        Dl_info self = {};
        dladdr(reinterpret_cast<const void *>(&fromProgram), &self);
        return self.dli_fbase;
    }();
    Dl_info from = {};
    return dladdr(caller, &from) && from.dli_fbase == program;
}

struct MutexGivenBack
{
    explicit MutexGivenBack(QMutex *mutex)
        : m_mutex(mutex)
    {
        __tsan_mutex_pre_unlock(m_mutex, 0);
        __tsan_mutex_post_unlock(m_mutex, 0);
    }
    ~MutexGivenBack()
    {
        __tsan_mutex_pre_lock(m_mutex, 0);
        __tsan_mutex_post_lock(m_mutex, 0, 0);
    }
    MutexGivenBack(const MutexGivenBack &) = delete;
    MutexGivenBack &operator=(const MutexGivenBack &) = delete;

    QMutex *m_mutex;
};

} // namespace

bool QWaitCondition::wait(QMutex *lockedMutex, QDeadlineTimer deadline)
{
    using Wait = bool (*)(QWaitCondition *, QMutex *, QDeadlineTimer);
    static const auto wait = qtOwn<Wait>("_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    if (!lockedMutex || !fromProgram(__builtin_return_address(0)))
        return wait(this, lockedMutex, deadline);
    const MutexGivenBack givenBack(lockedMutex);
    return wait(this, lockedMutex, deadline);
}

bool QWaitCondition::wait(QMutex *lockedMutex, unsigned long time)
{
    using Wait = bool (*)(QWaitCondition *, QMutex *, unsigned long);
    static const auto wait = qtOwn<Wait>("_ZN14QWaitCondition4waitEP6QMutexm");
    if (!lockedMutex || !fromProgram(__builtin_return_address(0)))
        return wait(this, lockedMutex, time);
    const MutexGivenBack givenBack(lockedMutex);
    return wait(this, lockedMutex, time);
}
