#include "dsp/FftPlanLock.h"

namespace tolmar {

std::mutex& fftPlanLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace tolmar
