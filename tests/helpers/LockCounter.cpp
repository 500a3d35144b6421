#include "LockCounter.h"

#if defined(__SANITIZE_THREAD__) || defined(_WIN32)
// ThreadSanitizer's interceptors must stay in place; on Windows the framework locks through Win32
// critical sections, which cannot be wrapped from inside the program.
#define TOLMAR_WRAP_LOCKS 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TOLMAR_WRAP_LOCKS 0
#endif
#endif
#ifndef TOLMAR_WRAP_LOCKS
#define TOLMAR_WRAP_LOCKS 1
#endif

#if TOLMAR_WRAP_LOCKS
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <pthread.h>
#include <semaphore.h>
#endif

namespace {
thread_local std::size_t threadLocks = 0;
thread_local int activeCounters = 0;
} // namespace

namespace testing_support {

ScopedLockCounter::ScopedLockCounter() : startCount(threadLocks) { ++activeCounters; }
ScopedLockCounter::~ScopedLockCounter() { --activeCounters; }
std::size_t ScopedLockCounter::locks() const { return threadLocks - startCount; }
bool ScopedLockCounter::isCounting() { return TOLMAR_WRAP_LOCKS != 0; }

} // namespace testing_support

#if TOLMAR_WRAP_LOCKS
namespace {

void noteLock()
{
    if (activeCounters > 0)
        ++threadLocks;
}

// The C library's function of the same name, found once with dlsym(RTLD_NEXT) (the loader's own locking
// does not come back through these wrappers). A sanitizer runtime that intercepts the function sits next
// in line and is found instead, so its bookkeeping stays intact.
template <typename Function>
Function next(std::atomic<Function>& cache, const char* name)
{
    Function function = cache.load(std::memory_order_acquire);
    if (function == nullptr) {
        function = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
        if (function == nullptr) {
            std::fprintf(stderr, "LockCounter: %s not found\n", name);
            std::abort();
        }
        cache.store(function, std::memory_order_release);
    }
    return function;
}

} // namespace

// Each wrapper counts the call, then forwards it unchanged.
#define TOLMAR_WRAP1(name, Object)                                                                              \
    extern "C" int name(Object* object)                                                                         \
    {                                                                                                           \
        using Function = int (*)(Object*);                                                                      \
        static std::atomic<Function> real{nullptr};                                                             \
        noteLock();                                                                                             \
        return next(real, #name)(object);                                                                       \
    }
#define TOLMAR_WRAP_TIMED(name, Object)                                                                         \
    extern "C" int name(Object* object, const struct timespec* deadline)                                       \
    {                                                                                                           \
        using Function = int (*)(Object*, const struct timespec*);                                              \
        static std::atomic<Function> real{nullptr};                                                             \
        noteLock();                                                                                             \
        return next(real, #name)(object, deadline);                                                             \
    }

TOLMAR_WRAP1(pthread_mutex_lock, pthread_mutex_t)
TOLMAR_WRAP1(pthread_mutex_trylock, pthread_mutex_t)
TOLMAR_WRAP_TIMED(pthread_mutex_timedlock, pthread_mutex_t)
TOLMAR_WRAP1(pthread_rwlock_rdlock, pthread_rwlock_t)
TOLMAR_WRAP1(pthread_rwlock_wrlock, pthread_rwlock_t)
TOLMAR_WRAP1(pthread_rwlock_tryrdlock, pthread_rwlock_t)
TOLMAR_WRAP1(pthread_rwlock_trywrlock, pthread_rwlock_t)
TOLMAR_WRAP_TIMED(pthread_rwlock_timedrdlock, pthread_rwlock_t)
TOLMAR_WRAP_TIMED(pthread_rwlock_timedwrlock, pthread_rwlock_t)
TOLMAR_WRAP1(pthread_spin_lock, pthread_spinlock_t)
TOLMAR_WRAP1(pthread_spin_trylock, pthread_spinlock_t)
TOLMAR_WRAP1(sem_wait, sem_t)
TOLMAR_WRAP1(sem_trywait, sem_t)
TOLMAR_WRAP_TIMED(sem_timedwait, sem_t)
#endif
