#pragma once

#include <cstddef>

// Counts heap allocations made by the calling thread while a ScopedAllocationCounter is alive.
// The global operator new / malloc hooks live in AllocationCounter.cpp, linked into each test binary.
namespace testing_support {

class ScopedAllocationCounter {
public:
    ScopedAllocationCounter();
    ~ScopedAllocationCounter();
    ScopedAllocationCounter(const ScopedAllocationCounter&) = delete;
    ScopedAllocationCounter& operator=(const ScopedAllocationCounter&) = delete;

    std::size_t allocations() const;

private:
    std::size_t startCount;
};

// While alive, makes the nth C++ allocation (operator new, throwing forms) of the calling thread from now on
// throw std::bad_alloc: memory running out part-way through a preparation. One failure at most.
class ScopedAllocationFailure {
public:
    explicit ScopedAllocationFailure(int nth);
    ~ScopedAllocationFailure();
    ScopedAllocationFailure(const ScopedAllocationFailure&) = delete;
    ScopedAllocationFailure& operator=(const ScopedAllocationFailure&) = delete;

    bool triggered() const; // the failure happened
};

} // namespace testing_support
