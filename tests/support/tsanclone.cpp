// Linked into the test programs of a ThreadSanitizer build (LUMIVEX_TSAN).
//
// QProcess starts a program with clone(CLONE_VM | CLONE_VFORK): the child
// borrows the parent's memory until it runs exec. ThreadSanitizer's clone
// interceptor (GCC 12 and clang 14) treats every clone as a fork and, in the
// child, marks "forked while other threads ran" and switches the thread's
// checks off; in borrowed memory that marks the parent. From then on the
// parent dies at its next new thread, or, with die_after_fork=0, checks
// nothing more on that thread. Here such a clone becomes a plain fork-style
// one: the child gets a copy of the memory, as QProcess had before it used
// vfork, and ThreadSanitizer's bookkeeping lands in the copy.
#include <dlfcn.h>
#include <sched.h>
#include <sys/types.h>

#include <cstdarg>

extern "C" int clone(int (*fn)(void *), void *stack, int flags, void *arg, ...)
{
    va_list more;
    va_start(more, arg);
    pid_t *parentTid = va_arg(more, pid_t *);
    void *tls = va_arg(more, void *);
    pid_t *childTid = va_arg(more, pid_t *);
    va_end(more);
    constexpr int kVfork = CLONE_VM | CLONE_VFORK;
    if ((flags & kVfork) == kVfork && !(flags & CLONE_THREAD))
        flags &= ~kVfork;
    using Clone = int (*)(int (*)(void *), void *, int, void *, ...);
    static const auto next = reinterpret_cast<Clone>(dlsym(RTLD_NEXT, "clone"));
    return next(fn, stack, flags, arg, parentTid, tls, childTid);
}
