#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Aborts with a message when a property of the code under test does not hold; libFuzzer then keeps the
// input that broke it.
#define TOLMAR_FUZZ_REQUIRE(condition)                                                                  \
    do {                                                                                                \
        if (!(condition)) {                                                                             \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition);       \
            std::abort();                                                                               \
        }                                                                                               \
    } while (false)

namespace fuzzing {

// Reads a trivially copyable value from the front of the input and advances past it; zero when the
// input is too short.
template <typename T>
T take(const unsigned char*& data, std::size_t& size)
{
    T value{};
    const std::size_t bytes = size < sizeof(T) ? size : sizeof(T);
    std::memcpy(&value, data, bytes);
    data += bytes;
    size -= bytes;
    return value;
}

} // namespace fuzzing
