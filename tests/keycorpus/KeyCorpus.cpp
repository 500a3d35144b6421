// Runs the key analyser over a corpus of loops in known keys (made by scripts/key-corpus) and counts, per
// style, rate and mode, the loops whose key it names right, those it declines ("no clear key") and those it
// names wrong.
//
//   tolmar_key_corpus CORPUS_DIR/corpus.tsv [--require-right]
//
// The manifest lists "file<TAB>key<TAB>style<TAB>rate" per line, file relative to the manifest. With
// --require-right the exit status is 1 unless every loop is named right.
#include "dsp/KeyAnalyzer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Loop {
    std::string file;
    int key = -1;
    std::string style;
};

struct Audio {
    double rate = 0.0;
    std::vector<std::vector<float>> channels;
};

std::uint32_t littleEndian(const unsigned char* bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

// Reads a RIFF WAVE file of 16-bit integer or 32-bit float samples; false with a reason otherwise.
bool readWav(const std::string& path, Audio& audio, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::string(bytes.begin(), bytes.begin() + 4) != "RIFF" ||
        std::string(bytes.begin() + 8, bytes.begin() + 12) != "WAVE") {
        error = "not a WAV file";
        return false;
    }
    int format = 0, channels = 0, bits = 0;
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const std::string id(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                             bytes.begin() + static_cast<std::ptrdiff_t>(at + 4));
        const std::size_t size = littleEndian(&bytes[at + 4], 4);
        const std::size_t body = at + 8;
        if (body + size > bytes.size() && id != "data") {
            error = "truncated chunk " + id;
            return false;
        }
        if (id == "fmt " && size >= 16) {
            format = static_cast<int>(littleEndian(&bytes[body], 2));
            channels = static_cast<int>(littleEndian(&bytes[body + 2], 2));
            audio.rate = littleEndian(&bytes[body + 4], 4);
            bits = static_cast<int>(littleEndian(&bytes[body + 14], 2));
            if (format == 0xFFFE && size >= 26) // extensible: the sub-format's first two bytes
                format = static_cast<int>(littleEndian(&bytes[body + 24], 2));
        } else if (id == "data") {
            const bool int16 = format == 1 && bits == 16;
            const bool float32 = format == 3 && bits == 32;
            if (channels < 1 || !(int16 || float32)) {
                error = "only 16-bit integer or 32-bit float samples are read";
                return false;
            }
            const std::size_t width = int16 ? 2 : 4;
            const std::size_t frames =
                std::min(size, bytes.size() - body) / (width * static_cast<std::size_t>(channels));
            audio.channels.assign(static_cast<std::size_t>(channels), std::vector<float>(frames));
            for (std::size_t i = 0; i < frames; ++i)
                for (std::size_t c = 0; c < audio.channels.size(); ++c) {
                    const unsigned char* sample = &bytes[body + (i * audio.channels.size() + c) * width];
                    float value = 0.0f;
                    if (int16) {
                        value = static_cast<float>(static_cast<std::int16_t>(littleEndian(sample, 2))) / 32768.0f;
                    } else {
                        const std::uint32_t word = littleEndian(sample, 4);
                        std::memcpy(&value, &word, sizeof value);
                    }
                    audio.channels[c][i] = value;
                }
            return true;
        }
        at = body + size + (size & 1);
    }
    error = "no audio data";
    return false;
}

std::string keyName(int key)
{
    static const char* const names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    if (key < 0 || key > 23)
        return "no clear key";
    return std::string(names[key % 12]) + (key > 11 ? " major" : " minor");
}

enum Outcome { right, declined, wrong };

// The analyser as the plug-in runs it: from a fresh start, blocks of 512, until it decides.
tolmar::KeyEstimate analyse(const Audio& audio, bool& decided)
{
    tolmar::KeyAnalyzer analyzer;
    analyzer.prepare(audio.rate);
    const int channels = std::min<int>(2, static_cast<int>(audio.channels.size()));
    const std::size_t frames = audio.channels.front().size();
    const float* pointers[2] = {};
    for (std::size_t at = 0; at < frames && analyzer.stage() < 2; at += 512) {
        for (int c = 0; c < channels; ++c)
            pointers[c] = audio.channels[static_cast<std::size_t>(c)].data() + at;
        analyzer.process(pointers, channels, static_cast<int>(std::min<std::size_t>(512, frames - at)));
    }
    decided = analyzer.stage() >= 2;
    return analyzer.result();
}

struct Tally {
    int counts[3] = {};
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3 || (argc == 3 && std::string(argv[2]) != "--require-right")) {
        std::cerr << "usage: tolmar_key_corpus CORPUS_DIR/corpus.tsv [--require-right]\n";
        return 2;
    }
    const std::string manifestPath = argv[1];
    const bool requireRight = argc == 3;
    const auto slash = manifestPath.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : manifestPath.substr(0, slash);

    std::ifstream manifest(manifestPath);
    if (!manifest) {
        std::cerr << "cannot read " << manifestPath << "\n";
        return 2;
    }
    // (style, rate, major) -> tally; std::map keeps the summary in a stable order.
    std::map<std::tuple<std::string, int, bool>, Tally> tallies;
    int loops = 0, notRight = 0;
    std::string line;
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        Loop loop;
        int rate = 0;
        if (!(fields >> loop.file >> loop.key >> loop.style >> rate))
            continue;
        Audio audio;
        std::string error;
        if (!readWav(directory + "/" + loop.file, audio, error) || audio.channels.front().empty()) {
            std::cerr << loop.file << ": " << (error.empty() ? "empty" : error) << "\n";
            return 2;
        }
        bool decided = false;
        const auto estimate = analyse(audio, decided);
        const Outcome outcome = estimate.key == loop.key ? right : estimate.key < 0 ? declined : wrong;
        ++tallies[{loop.style, rate, loop.key > 11}].counts[outcome];
        ++loops;
        notRight += outcome != right;
        std::printf("%-34s %-9s %-13s %-13s %.3f%s\n", loop.file.c_str(),
                    outcome == right      ? "right"
                    : outcome == declined ? "declined"
                                          : "WRONG",
                    keyName(loop.key).c_str(), keyName(estimate.key).c_str(), static_cast<double>(estimate.score),
                    decided ? "" : "  (too short to decide)");
    }

    std::printf("\n%-8s %6s %-5s %6s %9s %6s\n", "style", "rate", "mode", "right", "declined", "wrong");
    int totals[2][3] = {};
    for (const auto& [group, tally] : tallies) {
        const auto& [style, rate, major] = group;
        std::printf("%-8s %6d %-5s %6d %9d %6d\n", style.c_str(), rate, major ? "major" : "minor", tally.counts[right],
                    tally.counts[declined], tally.counts[wrong]);
        for (int o = 0; o < 3; ++o)
            totals[major][o] += tally.counts[o];
    }
    for (const int major : {0, 1})
        std::printf("%-8s %6s %-5s %6d %9d %6d\n", "all", "", major ? "major" : "minor", totals[major][right],
                    totals[major][declined], totals[major][wrong]);
    std::printf("%d loops\n", loops);
    if (loops == 0) {
        std::cerr << "no loops listed in " << manifestPath << "\n";
        return 2;
    }
    return requireRight && notRight > 0 ? 1 : 0;
}
