#include "render/WavFile.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <limits>
#include <memory>

namespace tolmar::render {

namespace {

juce::File fileFor(const std::string& path)
{
    return juce::File::getCurrentWorkingDirectory().getChildFile(juce::String::fromUTF8(path.c_str()));
}

std::string whyNotWritable(const juce::File& target)
{
    if (target.isDirectory())
        return "is a directory";
    if (!target.getParentDirectory().isDirectory())
        return "no such directory";
    return "cannot create a file there";
}

// Opens a temporary sibling of `target`; the TemporaryFile deletes it unless it was moved into place.
std::unique_ptr<juce::FileOutputStream> openTemporary(const juce::TemporaryFile& temp)
{
    if (temp.getTargetFile().isDirectory())
        return nullptr;
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
    const auto target = fileFor(path);
    const juce::TemporaryFile temp(target);
    auto stream = openTemporary(temp);
    if (stream == nullptr) {
        error = "cannot write '" + path + "': " + whyNotWritable(target);
        return false;
    }
    const int bits = format == SampleFormat::int16 ? 16 : format == SampleFormat::int24 ? 24 : 32;
    juce::WavAudioFormat wav;
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
    const bool written =
        writer->writeFromFloatArrays(pointers.data(), data.numChannels(), static_cast<int>(data.numFrames()))
        && writer->flush();
    writer.reset(); // finishes the header and closes the file
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

bool writeFileAtomically(const std::string& path, const void* bytes, std::size_t size, std::string& error)
{
    const auto target = fileFor(path);
    const juce::TemporaryFile temp(target);
    auto stream = openTemporary(temp);
    if (stream == nullptr) {
        error = "cannot write '" + path + "': " + whyNotWritable(target);
        return false;
    }
    const bool written = stream->write(bytes, size) && (stream->flush(), stream->getStatus().wasOk());
    stream.reset();
    if (!written || !temp.overwriteTargetFileWithTemporary()) {
        error = "cannot write '" + path + "': write failed";
        return false;
    }
    return true;
}

bool canCreate(const std::string& path, std::string& error)
{
    const auto target = fileFor(path);
    const juce::TemporaryFile temp(target);
    if (openTemporary(temp) == nullptr) {
        error = "cannot write '" + path + "': " + whyNotWritable(target);
        return false;
    }
    return true;
}

} // namespace tolmar::render
