#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace tolmar {

// Positions in a circular buffer of `length` slots. Several buffers may share one position (the channels
// of a delay line), so these work on plain indices.
inline int ringNext(int position, int length) noexcept
{
    return position + 1 == length ? 0 : position + 1;
}

inline int ringPrevious(int position, int length) noexcept
{
    return position == 0 ? length - 1 : position - 1;
}

// The position `steps` slots on; steps is at most length.
inline int ringAfter(int position, int steps, int length) noexcept
{
    const int next = position + steps;
    return next >= length ? next - length : next;
}

// The position `steps` slots back; steps is at most length.
inline int ringBefore(int position, int steps, int length) noexcept
{
    return ringAfter(position, length - steps, length);
}

// How many of `count` slots from position come before the wrap. Within such a run a loop indexes a raw
// pointer as position + k, which the compiler vectorises.
inline int ringRun(int position, int count, int length) noexcept
{
    return std::min(count, length - position);
}

// Calls run(pointer, offset, count) over all `length` slots of data starting at position (for the slot of
// the next write: oldest first), in at most two contiguous runs; offset counts from the first slot visited.
template <typename T, typename Run> void forEachRunFrom(T* data, int position, int length, Run&& run)
{
    run(data + position, 0, length - position);
    if (position > 0)
        run(data, length - position, position);
}

// A circular buffer of floats with its own write position: push writes the newest sample over the oldest.
// resize allocates; the rest never does.
class RingBuffer {
public:
    void resize(int length)
    {
        samples.assign(static_cast<std::size_t>(std::max(1, length)), 0.0f);
        position = 0;
    }
    void clear() noexcept
    {
        std::fill(samples.begin(), samples.end(), 0.0f);
        position = 0;
    }

    int size() const noexcept { return static_cast<int>(samples.size()); }

    void push(float sample) noexcept
    {
        samples[static_cast<std::size_t>(position)] = sample;
        position = ringNext(position, size());
    }

    // Copies the whole buffer, oldest sample first, to destination (size() floats).
    void copyOldestFirst(float* destination) const noexcept
    {
        forEachRunFrom(samples.data(), position, size(), [destination](const float* run, int offset, int count) {
            std::copy(run, run + count, destination + offset);
        });
    }

private:
    std::vector<float> samples = std::vector<float>(1, 0.0f);
    int position = 0;
};

} // namespace tolmar
