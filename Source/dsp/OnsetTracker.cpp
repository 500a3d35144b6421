#include "dsp/OnsetTracker.h"

#include "dsp/RingBuffer.h"

#include <algorithm>

namespace tolmar {

namespace {

// An onset: a sub-block whose energy of the first difference exceeds that of every sub-block in the
// detector's history by this factor (10 dB), and exceeds this floor per sample (-90 dB).
constexpr float onsetRise = 10.0f;
constexpr float onsetFloor = 1e-9f;
// The onset starts at the first sample whose squared difference reaches this fraction of the attack's
// largest (-20 dB).
constexpr float onsetStartFraction = 1e-2f;

} // namespace

void OnsetTracker::configure(int length, int hop)
{
    blockLength = length;
    interval = hop;
    // Sub-blocks of a quarter interval; the history spans three eighths of a block (longer than the
    // period of any voice, so glottal pulses do not count as onsets).
    subBlock = std::max(1, interval / 4);
    newSubBlocks = interval / subBlock;
    subBlockEnergy.assign(static_cast<std::size_t>(std::max(1, (3 * blockLength / 8) / subBlock)), 0.0f);
    reset();
}

void OnsetTracker::reset() noexcept
{
    std::fill(subBlockEnergy.begin(), subBlockEnergy.end(), 0.0f);
    energyPos = 0;
    onsetAt = -1;
    onsetBlock = -1;
    channelOnsetAt = {{-1, -1}};
    startedNow = false;
}

// The newest interval's sub-blocks, each compared with the loudest sub-block of the history before it.
// Returns the frame index of the earliest onset sub-block, or -1.
int OnsetTracker::detect(const float* const* rings, int channels, int position) noexcept
{
    const int n = blockLength;
    const auto history = static_cast<int>(subBlockEnergy.size());
    const float share = 1.0f / static_cast<float>(channels);
    int found = -1;
    for (int j = 0; j < newSubBlocks; ++j) {
        const int begin = n - (newSubBlocks - j) * subBlock;
        float energy = 0.0f;
        for (int c = 0; c < channels; ++c) {
            const float* ring = rings[c];
            int r = ringAfter(position, begin, n);
            float previous = ring[ringPrevious(r, n)];
            float channelEnergy = 0.0f;
            for (int i = 0; i < subBlock; ++i) {
                channelEnergy += (ring[r] - previous) * (ring[r] - previous);
                previous = ring[r];
                r = ringNext(r, n);
            }
            energy += channelEnergy;
        }
        energy *= share;
        const float loudest = *std::max_element(subBlockEnergy.begin(), subBlockEnergy.end());
        if (found < 0 && energy > onsetRise * loudest && energy > onsetFloor * static_cast<float>(subBlock))
            found = begin;
        subBlockEnergy[static_cast<std::size_t>(energyPos)] = energy;
        energyPos = ringNext(energyPos, history);
    }
    return found;
}

// Where an onset found in the sub-block starting at frame index `block` starts: the first sample, searched
// from one sub-block earlier, whose mean squared difference reaches onsetStartFraction of the largest in the
// two sub-blocks from `block` (as far as the frame reaches).
int OnsetTracker::locate(const float* const* rings, int channels, int position, int block) const noexcept
{
    const int n = blockLength;
    const float share = 1.0f / static_cast<float>(channels);
    auto difference = [&](int i) {
        const int r = ringAfter(position, i, n);
        float sum = 0.0f;
        for (int c = 0; c < channels; ++c) {
            const float d = rings[c][r] - rings[c][ringPrevious(r, n)];
            sum += d * d;
        }
        return sum * share;
    };
    float largest = 0.0f;
    for (int i = block; i < std::min(n, block + 2 * subBlock); ++i)
        largest = std::max(largest, difference(i));
    int at = std::max(1, block - subBlock);
    while (at < n - 1 && difference(at) < onsetStartFraction * largest)
        ++at;
    return at;
}

bool OnsetTracker::update(const float* const* rings, int channels, int position) noexcept
{
    const int onset = detect(rings, channels, position);
    bool earlierBecomesRunning = false;
    startedNow = false;
    // A rise within the first half block after an onset (the rest of an attack, a roll) stays with it.
    if (onset >= 0 && onsetAt < blockLength / 2) {
        earlierBecomesRunning = onsetAt >= 0;
        onsetBlock = onset;
        place(rings, channels, position);
        startedNow = true;
    } else if (onsetAt >= 0 && onsetBlock + 2 * subBlock > blockLength - interval) {
        // The onset's sub-block ended the previous frame: the attack after it is now in view.
        place(rings, channels, position);
    }
    if (onsetBlock >= 0)
        onsetBlock -= interval; // frame indices of the next frame
    return earlierBecomesRunning;
}

// Places the onset found in onsetBlock: where all channels cut, and where each starts on its own.
void OnsetTracker::place(const float* const* rings, int channels, int position) noexcept
{
    onsetAt = locate(rings, channels, position, onsetBlock);
    for (int c = 0; c < 2; ++c)
        channelOnsetAt[static_cast<std::size_t>(c)] =
            channels == 2 ? locate(rings + c, 1, position, onsetBlock) : onsetAt;
}

void OnsetTracker::listen(const float* const* rings, int channels, int position) noexcept
{
    detect(rings, channels, position);
    onsetAt = -1;
    onsetBlock = -1;
    channelOnsetAt = {{-1, -1}};
    startedNow = false;
}

bool OnsetTracker::advance() noexcept
{
    onsetAt -= interval;
    for (int& at : channelOnsetAt)
        at -= interval;
    if (onsetAt > 0)
        return false;
    onsetAt = -1;
    onsetBlock = -1;
    channelOnsetAt = {{-1, -1}};
    return true;
}

} // namespace tolmar
