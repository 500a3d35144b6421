#pragma once

#include <array>
#include <vector>

namespace tolmar {

// Finds the onsets (hits, consonants) that enter a phase vocoder's window and follows each until it has left,
// for all channels at once: a sharp rise of the channels' mean energy of the first difference, which weights
// the clicks and noise bursts of an attack above a voice's strong low harmonics. Every channel is then cut at
// the same sample.
//
// Frame indices count from the oldest sample of the window (0) to the newest (blockLength - 1). The window's
// samples are read from circular buffers of blockLength samples whose oldest sample sits at `position`.
// configure() allocates; everything else is real-time safe.
class OnsetTracker {
public:
    // Windows of blockLength samples, a new frame every interval samples. Allocates.
    void configure(int blockLength, int interval);
    // Forgets every onset and the detector's history.
    void reset() noexcept;

    // Examines the newest interval of the frame and starts following a new onset, or places the followed one
    // more precisely once the rest of its attack has arrived. Returns true when a new onset was found while
    // another was still followed: the earlier onset's phase track then becomes the running one.
    bool update(const float* const* rings, int channels, int position) noexcept;
    // Examines the newest interval only, so that the history stays current while nothing is shifted, and
    // follows no onset.
    void listen(const float* const* rings, int channels, int position) noexcept;
    // Frame index where the part from the onset starts; -1 while no onset is in the window.
    int split() const noexcept { return onsetAt; }
    // Where the onset starts in channel `channel` alone (a second microphone hears it later): the sample whose
    // phase that channel's part from the split keeps. -1 while no onset is in the window.
    int channelOnset(int channel) const noexcept { return channelOnsetAt[static_cast<std::size_t>(channel)]; }
    // Whether a new onset was found in this frame: its part starts a phase track of its own.
    bool started() const noexcept { return startedNow; }
    // Moves on to the next frame's indices. Returns true when the onset has left the window: the part after
    // it then carries on as the running one.
    bool advance() noexcept;

    int subBlockLength() const noexcept { return subBlock; }

private:
    int detect(const float* const* rings, int channels, int position) noexcept;
    void place(const float* const* rings, int channels, int position) noexcept;
    int locate(const float* const* rings, int channels, int position, int block) const noexcept;

    int blockLength = 16;
    int interval = 1;
    int subBlock = 1;                  // detector resolution, samples
    int newSubBlocks = 1;              // sub-blocks examined per frame, ending at the frame's end
    std::vector<float> subBlockEnergy; // history, circular
    int energyPos = 0;
    int onsetAt = -1;    // frame index where the attack part starts; -1 while no onset is in the window
    int onsetBlock = -1; // frame index of the sub-block the onset was found in
    std::array<int, 2> channelOnsetAt{{-1, -1}};
    bool startedNow = false;
};

} // namespace tolmar
