#include "dsp/SampleSafety.h"

#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

namespace tolmar {

#if defined(__SSE__) || defined(_M_X64)
ScopedFlushDenormals::ScopedFlushDenormals() noexcept
    : savedMode(_mm_getcsr())
{
    // Flush-to-zero (bit 15) and denormals-are-zero (bit 6).
    _mm_setcsr(static_cast<unsigned int>(savedMode) | 0x8040u);
}
ScopedFlushDenormals::~ScopedFlushDenormals()
{
    _mm_setcsr(static_cast<unsigned int>(savedMode));
}
#elif defined(__aarch64__)
ScopedFlushDenormals::ScopedFlushDenormals() noexcept
    : savedMode(0)
{
    unsigned long long mode = 0;
    asm volatile("mrs %0, fpcr" : "=r"(mode));
    savedMode = mode;
    mode |= 1ull << 24; // FZ
    asm volatile("msr fpcr, %0" : : "r"(mode));
}
ScopedFlushDenormals::~ScopedFlushDenormals()
{
    asm volatile("msr fpcr, %0" : : "r"(savedMode));
}
#else
ScopedFlushDenormals::ScopedFlushDenormals() noexcept
    : savedMode(0)
{
}
ScopedFlushDenormals::~ScopedFlushDenormals() = default;
#endif

} // namespace tolmar
