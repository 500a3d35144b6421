#include "render/WavFile.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <limits>
#include <memory>

#if !defined(_WIN32)
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tolmar::render {

namespace {

juce::File fileFor(const std::string& path)
{
    return juce::File::getCurrentWorkingDirectory().getChildFile(juce::String::fromUTF8(path.c_str()));
}

enum class NodeKind { missing, regularFile, directory, special };

// What is at `file` now, following symbolic links: devices, pipes and sockets are "special".
NodeKind kindOf(const juce::File& file)
{
#if defined(_WIN32)
    return file.isDirectory() ? NodeKind::directory : file.exists() ? NodeKind::regularFile : NodeKind::missing;
#else
    struct stat info {};
    if (::stat(file.getFullPathName().toRawUTF8(), &info) != 0)
        return NodeKind::missing;
    if (S_ISDIR(info.st_mode))
        return NodeKind::directory;
    return S_ISREG(info.st_mode) ? NodeKind::regularFile : NodeKind::special;
#endif
}

// The node a chain of symbolic links ends at (it may not exist yet): renaming over the link itself would
// replace the link with a plain file.
juce::File followLinks(juce::File file)
{
    for (int hop = 0; hop < 40 && file.isSymbolicLink(); ++hop)
        file = file.getLinkedTarget();
    return file;
}

// Where an output goes and how: a new or regular file is replaced by writing a temporary sibling and renaming
// it over the file once complete, so a failure never leaves a half-written file under the final name; a device
// or pipe (/dev/null, /dev/stdout, a FIFO) is written straight into, since a rename would replace the node.
struct Destination {
    juce::File file;
    bool straightInto = false;
};

bool destinationFor(const std::string& path, Destination& destination, std::string& error)
{
    destination.file = followLinks(fileFor(path));
    switch (kindOf(destination.file)) {
    case NodeKind::directory:
        error = "cannot write '" + path + "': is a directory";
        return false;
    case NodeKind::special:
        destination.straightInto = true;
        return true;
    case NodeKind::missing:
        if (!destination.file.getParentDirectory().isDirectory()) {
            error = "cannot write '" + path + "': no such directory";
            return false;
        }
        return true;
    case NodeKind::regularFile:
        return true;
    }
    return true;
}

bool writeStraightInto(const juce::File& file, const char* bytes, std::size_t size)
{
#if defined(_WIN32)
    juce::FileOutputStream stream(file);
    return stream.openedOk() && stream.write(bytes, size) && (stream.flush(), stream.getStatus().wasOk());
#else
    const int descriptor = ::open(file.getFullPathName().toRawUTF8(), O_WRONLY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    while (size > 0) {
        const auto written = ::write(descriptor, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            ::close(descriptor);
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return ::close(descriptor) == 0;
#endif
}

// Opens a temporary sibling of `target`; the TemporaryFile deletes it unless it was moved into place.
std::unique_ptr<juce::FileOutputStream> openTemporary(const juce::TemporaryFile& temp)
{
    auto stream = std::make_unique<juce::FileOutputStream>(temp.getFile());
    if (stream->failedToOpen())
        return nullptr;
    return stream;
}

} // namespace

bool readWav(const std::string& path, AudioData& data, std::string& error)
{
    const auto file = fileFor(path);
    if (!file.existsAsFile()) {
        error = "cannot read '" + path + "': no such file";
        return false;
    }
    auto stream = std::make_unique<juce::FileInputStream>(file);
    if (stream->failedToOpen()) {
        error = "cannot read '" + path + "': " + stream->getStatus().getErrorMessage().toStdString();
        return false;
    }
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatReader> reader(wav.createReaderFor(stream.get(), false));
    if (reader == nullptr) {
        error = "cannot read '" + path + "': not a WAV file this program reads";
        return false;
    }
    stream.release(); // owned by the reader now

    const int bits = static_cast<int>(reader->bitsPerSample);
    const bool supported = reader->usesFloatingPointData ? bits == 32 : (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    if (!supported) {
        error = "cannot read '" + path + "': unsupported sample format (" + std::to_string(bits) + "-bit"
                + (reader->usesFloatingPointData ? " float)" : ")");
        return false;
    }
    if (reader->lengthInSamples < 0 || reader->lengthInSamples > std::numeric_limits<int>::max() / 2) {
        error = "cannot read '" + path + "': file too long";
        return false;
    }

    const int frames = static_cast<int>(reader->lengthInSamples);
    const int channels = static_cast<int>(reader->numChannels);
    juce::AudioBuffer<float> buffer(channels, frames);
    if (frames > 0 && !reader->read(&buffer, 0, frames, 0, true, true)) {
        error = "cannot read '" + path + "': truncated or damaged file";
        return false;
    }
    data.sampleRate = reader->sampleRate;
    data.channels.assign(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(frames)));
    for (int ch = 0; ch < channels; ++ch)
        std::copy(buffer.getReadPointer(ch), buffer.getReadPointer(ch) + frames,
                  data.channels[static_cast<std::size_t>(ch)].begin());
    return true;
}

bool writeWav(const std::string& path, const AudioData& data, SampleFormat format, std::string& error)
{
    // Encoded in memory first: the header's sizes are written last, which needs a seekable stream, and a
    // device or pipe is not one.
    juce::MemoryBlock encoded;
    const int bits = format == SampleFormat::int16 ? 16 : format == SampleFormat::int24 ? 24 : 32;
    juce::WavAudioFormat wav;
    auto stream = std::make_unique<juce::MemoryOutputStream>(encoded, false);
    std::unique_ptr<juce::AudioFormatWriter> writer(wav.createWriterFor(
        stream.get(), data.sampleRate, static_cast<unsigned int>(data.numChannels()), bits, {}, 0));
    if (writer == nullptr) {
        error = "cannot write '" + path + "': unsupported channel count or format";
        return false;
    }
    stream.release(); // owned by the writer now
    std::vector<const float*> pointers;
    for (const auto& channel : data.channels)
        pointers.push_back(channel.data());
    const bool encodedAll =
        writer->writeFromFloatArrays(pointers.data(), data.numChannels(), static_cast<int>(data.numFrames()));
    writer.reset(); // finishes the header
    if (!encodedAll) {
        error = "cannot write '" + path + "': out of memory";
        return false;
    }
    return writeOutputFile(path, encoded.getData(), encoded.getSize(), error);
}

bool writeOutputFile(const std::string& path, const void* bytes, std::size_t size, std::string& error)
{
    Destination destination;
    if (!destinationFor(path, destination, error))
        return false;
    const auto* data = static_cast<const char*>(bytes);
    if (destination.straightInto) {
        if (!writeStraightInto(destination.file, data, size)) {
            error = "cannot write '" + path + "': write failed";
            return false;
        }
        return true;
    }
    const juce::TemporaryFile temp(destination.file);
    auto stream = openTemporary(temp);
    if (stream == nullptr) {
        error = "cannot write '" + path + "': cannot create a file there";
        return false;
    }
    const bool written = stream->write(data, size) && (stream->flush(), stream->getStatus().wasOk());
    stream.reset();
    if (!written) {
        error = "cannot write '" + path + "': write failed (disk full?)";
        return false;
    }
    if (!temp.overwriteTargetFileWithTemporary()) {
        error = "cannot write '" + path + "': cannot replace the file";
        return false;
    }
    return true;
}

bool canCreate(const std::string& path, std::string& error)
{
    Destination destination;
    if (!destinationFor(path, destination, error))
        return false;
    if (destination.straightInto)
        return true; // opening a pipe now would wait for its reader
    const juce::TemporaryFile temp(destination.file);
    if (openTemporary(temp) == nullptr) {
        error = "cannot write '" + path + "': cannot create a file there";
        return false;
    }
    return true;
}

} // namespace tolmar::render
