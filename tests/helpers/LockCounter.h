#pragma once

#include <cstddef>

// Counts lock acquisitions and semaphore waits made by the calling thread while a ScopedLockCounter is alive:
// pthread mutexes (lock, trylock, timedlock), read-write locks, spin locks and semaphores, which is what
// std::mutex, std::shared_mutex and the framework's CriticalSection and WaitableEvent come down to.
// The wrappers live in LockCounter.cpp, linked into each test binary; they forward to the C library.
namespace testing_support {

class ScopedLockCounter {
public:
    ScopedLockCounter();
    ~ScopedLockCounter();
    ScopedLockCounter(const ScopedLockCounter&) = delete;
    ScopedLockCounter& operator=(const ScopedLockCounter&) = delete;

    std::size_t locks() const;

    // False in ThreadSanitizer builds, whose own interceptors of these functions must stay in place, and on
    // Windows, where the framework locks through Win32 critical sections; locks() then reads 0.
    static bool isCounting();

private:
    std::size_t startCount;
};

} // namespace testing_support
