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

} // namespace testing_support
