#pragma once

#include <mutex>

namespace tolmar {

// FFTW's planner is not thread-safe, and hosts create and prepare plug-in instances on
// several threads at once. Every plan creation and destruction in the process holds this
// lock; executing a plan needs no lock. It is the one process-wide object of the core.
std::mutex& fftPlanLock();

} // namespace tolmar
