#include "dsp/RealFft.h"

#include <fftw3.h>

#include <algorithm>
#include <mutex>
#include <new>

static_assert(sizeof(tolmar::Complex) == sizeof(fftwf_complex), "Complex must share fftwf_complex's layout");

namespace tolmar {

namespace {

// Guards every plan creation and destruction of ours: the one process-wide object of the core.
std::mutex& planLock()
{
    static std::mutex lock;
    return lock;
}

// Other plug-ins in the host plan through the same shared library without knowing our lock; the library's own
// planner lock keeps their planning and ours apart. It is switched on as our module loads, before any plan of
// ours: a plan another thread is making at that very moment is the one case it cannot cover.
#if TOLMAR_SHARED_FFT_PLANNER
const bool plannerLockOn = [] {
    fftwf_make_planner_thread_safe();
    return true;
}();
#endif

fftwf_plan asPlan(void* plan) noexcept
{
    return static_cast<fftwf_plan>(plan);
}

fftwf_complex* asBackend(Complex* bins) noexcept
{
    return reinterpret_cast<fftwf_complex*>(bins);
}

} // namespace

RealFft::~RealFft()
{
    release();
}

void RealFft::release() noexcept
{
    {
        const std::lock_guard<std::mutex> guard(planLock());
        if (forwardPlan != nullptr)
            fftwf_destroy_plan(asPlan(forwardPlan));
        if (inversePlan != nullptr)
            fftwf_destroy_plan(asPlan(inversePlan));
    }
    forwardPlan = nullptr;
    inversePlan = nullptr;
    fftwf_free(timeBuffer);
    fftwf_free(spectrumBuffer);
    fftwf_free(inverseBuffer);
    timeBuffer = nullptr;
    spectrumBuffer = nullptr;
    inverseBuffer = nullptr;
    length = 0;
}

void RealFft::prepare(int n, bool withInverse)
{
    release();
    const int evenSize = std::max(2, n + (n & 1));
    const auto samples = static_cast<std::size_t>(evenSize);
    const auto binCount = samples / 2 + 1;
    timeBuffer = static_cast<float*>(fftwf_malloc(sizeof(float) * samples));
    spectrumBuffer = static_cast<Complex*>(fftwf_malloc(sizeof(Complex) * binCount));
    if (withInverse)
        inverseBuffer = static_cast<Complex*>(fftwf_malloc(sizeof(Complex) * binCount));
    if (timeBuffer == nullptr || spectrumBuffer == nullptr || (withInverse && inverseBuffer == nullptr)) {
        release();
        throw std::bad_alloc();
    }
    std::fill(timeBuffer, timeBuffer + samples, 0.0f);
    std::fill(spectrumBuffer, spectrumBuffer + binCount, Complex{0.0f, 0.0f});
    if (withInverse)
        std::fill(inverseBuffer, inverseBuffer + binCount, Complex{0.0f, 0.0f});
    {
        const std::lock_guard<std::mutex> guard(planLock());
        // FFTW_ESTIMATE: fast, repeatable planning that leaves the buffers alone.
        forwardPlan = fftwf_plan_dft_r2c_1d(evenSize, timeBuffer, asBackend(spectrumBuffer), FFTW_ESTIMATE);
        if (withInverse)
            inversePlan = fftwf_plan_dft_c2r_1d(evenSize, asBackend(inverseBuffer), timeBuffer, FFTW_ESTIMATE);
    }
    if (forwardPlan == nullptr || (withInverse && inversePlan == nullptr)) {
        release();
        throw std::bad_alloc();
    }
    length = evenSize;
}

void RealFft::forward() noexcept
{
    fftwf_execute(asPlan(forwardPlan));
}

void RealFft::inverse() noexcept
{
    fftwf_execute(asPlan(inversePlan));
}

} // namespace tolmar
