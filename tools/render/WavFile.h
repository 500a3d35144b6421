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

// Writes `data` as a WAV file to `path`. A new or regular file is written beside and renamed over `path`
// only once complete, so a failure never leaves a half-written file under the final name; through a
// symbolic link, the file it names is replaced and the link kept. A device or pipe (/dev/null, /dev/stdout)
// is written straight into. A directory is refused. Returns false with a one-line reason in `error`.
bool writeWav(const std::string& path, const AudioData& data, SampleFormat format, std::string& error);

// The same for raw bytes (saved states).
bool writeOutputFile(const std::string& path, const void* bytes, std::size_t size, std::string& error);

// Checks before any long work that `path` can be written as above; nothing is left behind.
bool canCreate(const std::string& path, std::string& error);

} // namespace tolmar::render
