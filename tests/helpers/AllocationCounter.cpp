#include "AllocationCounter.h"

#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(_WIN32)
// Sanitizers keep their own interceptors; Windows' C runtime has no __libc_* entry points to forward to.
#define TOLMAR_HOOK_MALLOC 0
#else
#define TOLMAR_HOOK_MALLOC 1
extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);
extern "C" void* __libc_realloc(void*, std::size_t);
extern "C" void* __libc_memalign(std::size_t, std::size_t);
#endif

namespace {
thread_local std::size_t threadAllocations = 0;
thread_local int activeCounters = 0;
thread_local int allocationsUntilFailure = 0; // 0: no failure armed
thread_local bool failureTriggered = false;

bool injectedFailure()
{
    if (allocationsUntilFailure <= 0 || --allocationsUntilFailure > 0)
        return false;
    failureTriggered = true;
    return true;
}

void noteAllocation()
{
    if (activeCounters > 0)
        ++threadAllocations;
}

// Allocations below go straight to the C library so that each one is counted once.
void* countedAllocate(std::size_t size, std::size_t alignment)
{
    noteAllocation();
    if (size == 0)
        size = 1;
#if TOLMAR_HOOK_MALLOC
    if (alignment <= alignof(std::max_align_t))
        return __libc_malloc(size);
    return __libc_memalign(alignment, size);
#else
    void* memory = nullptr;
    if (alignment <= alignof(std::max_align_t))
        memory = std::malloc(size);
#ifdef _WIN32
    else
        memory = _aligned_malloc(size, alignment);
#else
    else if (posix_memalign(&memory, alignment, size) != 0)
        memory = nullptr;
#endif
    return memory;
#endif
}
} // namespace

namespace testing_support {

ScopedAllocationCounter::ScopedAllocationCounter() : startCount(threadAllocations) { ++activeCounters; }
ScopedAllocationCounter::~ScopedAllocationCounter() { --activeCounters; }
std::size_t ScopedAllocationCounter::allocations() const { return threadAllocations - startCount; }

ScopedAllocationFailure::ScopedAllocationFailure(int nth)
{
    allocationsUntilFailure = nth > 0 ? nth : 0;
    failureTriggered = false;
}
ScopedAllocationFailure::~ScopedAllocationFailure() { allocationsUntilFailure = 0; }
bool ScopedAllocationFailure::triggered() const { return failureTriggered; }

} // namespace testing_support

// Replacing the global allocation functions routes every C++ allocation of the test binary
// (including those made inside the framework and the standard library) through the counter.
void* operator new(std::size_t size)
{
    if (!injectedFailure())
        if (void* memory = countedAllocate(size, alignof(std::max_align_t)))
            return memory;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, std::align_val_t alignment)
{
    if (!injectedFailure())
        if (void* memory = countedAllocate(size, static_cast<std::size_t>(alignment)))
            return memory;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) { return operator new(size, alignment); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return countedAllocate(size, alignof(std::max_align_t));
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return countedAllocate(size, alignof(std::max_align_t));
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

// Over-aligned blocks come from _aligned_malloc on Windows and must go back to _aligned_free.
namespace {
void freeAligned(void* memory) noexcept
{
#ifdef _WIN32
    _aligned_free(memory);
#else
    std::free(memory);
#endif
}
} // namespace
void operator delete(void* memory, std::align_val_t) noexcept { freeAligned(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { freeAligned(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { freeAligned(memory); }
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { freeAligned(memory); }

#if TOLMAR_HOOK_MALLOC
// The C allocation functions are counted too (FFT libraries and C code allocate through them).
// Sanitizer builds keep their own interceptors and count C++ allocations only.
extern "C" {
void* malloc(std::size_t size)
{
    noteAllocation();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size)
{
    noteAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* memory, std::size_t size)
{
    noteAllocation();
    return __libc_realloc(memory, size);
}
int posix_memalign(void** memory, std::size_t alignment, std::size_t size)
{
    noteAllocation();
    *memory = __libc_memalign(alignment, size);
    return *memory != nullptr ? 0 : 12; // ENOMEM
}
void* aligned_alloc(std::size_t alignment, std::size_t size)
{
    noteAllocation();
    return __libc_memalign(alignment, size);
}
void* memalign(std::size_t alignment, std::size_t size)
{
    noteAllocation();
    return __libc_memalign(alignment, size);
}
}
#endif
