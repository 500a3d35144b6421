#pragma once

#include <cstddef>

namespace tolmar {

// One complex bin of a real transform; the layout matches the backend's, so spectra are used in place.
struct Complex {
    float re;
    float im;
};

// Real-to-complex transform of a fixed even size n, and optionally its inverse, with the plans and buffers
// it needs. This is the one place in the core that talks to the FFT backend (FFTW in single precision):
// another backend plugs in here and nowhere else.
//
// Plans are made and destroyed under one process-wide lock, because FFTW's planner is not thread-safe and
// hosts prepare plug-in instances on several threads at once; executing needs no lock. Where the library is
// shared with the rest of the host (Linux), its own planner lock is switched on before our first plan, so that
// other plug-ins planning at the same moment cannot race with us (it is switched on as the module loads).
//
// forward(): time() (n samples, left unchanged) -> spectrum() (n / 2 + 1 bins).
// inverse(): inverseInput() (n / 2 + 1 bins, overwritten) -> time(); unnormalised, so forward then
// inverse gives n times the input.
class RealFft {
public:
    RealFft() = default;
    ~RealFft();
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    // Sizes the buffers (zeroed) and makes the plans for size n (even, >= 2). Throws std::bad_alloc and
    // holds no transform on failure. Any thread that is not using this object; allocates and locks.
    void prepare(int n, bool withInverse);

    int size() const noexcept { return length; }
    int bins() const noexcept { return length / 2 + 1; }

    float* time() noexcept { return timeBuffer; }
    const Complex* spectrum() const noexcept { return spectrumBuffer; }
    Complex* inverseInput() noexcept { return inverseBuffer; }

    // Audio thread safe: no allocation, no lock. Only after a successful prepare (with withInverse for inverse).
    void forward() noexcept;
    void inverse() noexcept;

private:
    void release() noexcept;

    int length = 0;
    void* forwardPlan = nullptr;
    void* inversePlan = nullptr;
    float* timeBuffer = nullptr;
    Complex* spectrumBuffer = nullptr;
    Complex* inverseBuffer = nullptr;
};

} // namespace tolmar
