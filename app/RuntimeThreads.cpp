// GNU runtime only. The runtime's exception support and its guard of function-local statics
// lock, wait and keep per-thread data through a handful of POSIX thread functions. Their library brings a complete thread implementation
// along (about 30 KB, a sixth of the program); these versions do the same with Windows' own
// one-time initialisation, slim locks and thread-local slots, which is all the runtime asks of
// them. Linking fails loudly ("multiple definition of pthread_once") if anything ever needs
// more of that library: std::thread, the standard library's clocks and sleeps among them; the
// program uses Windows' own.
#include <windows.h>

#include <pthread.h>

namespace {

// A lock or condition that was never initialised by a call holds the library's static
// initialiser, a small negative number, instead of the empty value of Windows' own; it is made
// empty on first use.
template <typename Windows, typename Posix>
Windows* InPlace(Posix* object) {
    static_assert(sizeof(Posix) == sizeof(Windows));
    const intptr_t value = reinterpret_cast<intptr_t>(*reinterpret_cast<void**>(object));
    if (value < 0 && value >= -4)
        ::InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(object), nullptr,
                                            reinterpret_cast<void*>(value));
    return reinterpret_cast<Windows*>(object);
}

SRWLOCK* SlimLock(pthread_mutex_t* mutex) { return InPlace<SRWLOCK>(mutex); }

BOOL CALLBACK RunOnce(INIT_ONCE*, void* function, void**) {
    reinterpret_cast<void (*)()>(function)();
    return TRUE;
}

} // namespace

extern "C" {

int pthread_once(pthread_once_t* once, void (*function)()) {
    static_assert(sizeof(pthread_once_t) == sizeof(INIT_ONCE));
    ::InitOnceExecuteOnce(reinterpret_cast<INIT_ONCE*>(once), &RunOnce, reinterpret_cast<void*>(function), nullptr);
    return 0;
}

int pthread_mutex_init(pthread_mutex_t* mutex, const pthread_mutexattr_t*) {
    ::InitializeSRWLock(reinterpret_cast<SRWLOCK*>(mutex));
    return 0;
}

int pthread_mutex_destroy(pthread_mutex_t*) { return 0; }

int pthread_mutex_lock(pthread_mutex_t* mutex) {
    ::AcquireSRWLockExclusive(SlimLock(mutex));
    return 0;
}

int pthread_mutex_unlock(pthread_mutex_t* mutex) {
    ::ReleaseSRWLockExclusive(SlimLock(mutex));
    return 0;
}

int pthread_cond_wait(pthread_cond_t* condition, pthread_mutex_t* mutex) {
    ::SleepConditionVariableSRW(InPlace<CONDITION_VARIABLE>(condition), SlimLock(mutex), INFINITE, 0);
    return 0;
}

int pthread_cond_broadcast(pthread_cond_t* condition) {
    ::WakeAllConditionVariable(InPlace<CONDITION_VARIABLE>(condition));
    return 0;
}

// The runtime keeps one such slot for its per-thread exception data. Its destructor would free
// a thread's few bytes when the thread ends; the program's threads are few and short-lived, so
// those bytes stay until the process ends.
int pthread_key_create(pthread_key_t* key, void (*)(void*)) {
    const DWORD slot = ::TlsAlloc();
    if (slot == TLS_OUT_OF_INDEXES) return EAGAIN;
    *key = slot;
    return 0;
}

void* pthread_getspecific(pthread_key_t key) { return ::TlsGetValue(key); }

int pthread_setspecific(pthread_key_t key, const void* value) {
    return ::TlsSetValue(key, const_cast<void*>(value)) ? 0 : ENOMEM;
}

} // extern "C"
