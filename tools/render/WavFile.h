#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tolmar::render {

// Planar float audio as read from or written to a file.
struct AudioData {
    double sampleRate = 48000.0;
    std::vector<std::vector<float>> channels;

    int numChannels() const { return static_cast<int>(channels.size()); }
    std::size_t numFrames() const { return channels.empty() ? 0 : channels.front().size(); }
};

enum class SampleFormat { int16, int24, float32 };

// Reads a WAV file of 8, 16, 24 or 32-bit integer or 32-bit float samples, any channel count.
// Returns false with a one-line reason in `error`.
bool readWav(const std::string& path, AudioData& data, std::string& error);

// Writes `data` to a temporary file beside `path` and renames it over `path` only once everything is
// written, so a failure never leaves a half-written file under the final name. Returns false with a
// one-line reason in `error`.
bool writeWav(const std::string& path, const AudioData& data, SampleFormat format, std::string& error);

// Same write-then-rename for raw bytes (saved states).
bool writeFileAtomically(const std::string& path, const void* bytes, std::size_t size, std::string& error);

// Checks before any long work that a file can be created beside `path`; nothing is left behind.
bool canCreate(const std::string& path, std::string& error);

} // namespace tolmar::render
