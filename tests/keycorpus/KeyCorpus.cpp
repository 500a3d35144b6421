// Runs the key analyser over a corpus of loops in known keys (made by scripts/key-corpus) beside the Queen Mary
// key detector of qm-dsp (where the build found it), and counts per family (the manifest's style) the loops each
// names right, names in the same scale (the relative key: the same notes, so a voice tuned to it stays in tune),
// declines ("no clear key"; only ours does) and names wrong. Families named heldout-..., fresh-..., third-...,
// fourth-... or fifth-... (the held-out sets) get a section of their own. Where the manifest gives a loop's notes
// (the seconds each pitch class sounds while the analyser listens), the key classifier also runs on them: what the
// analyser would answer if it heard every note exactly, so that a decline or a wrong key can be told apart as the
// hearing's or the classifier's.
//
//   tolmar_key_corpus CORPUS_DIR/corpus.tsv [--require-right] [--no-peer]
//
// The manifest lists "file<TAB>key<TAB>style<TAB>rate[<TAB>notes]" per line, file relative to the manifest, notes
// as twelve comma-separated numbers from C. With --require-right the exit status is 1 unless our analyser names
// every loop right; --no-peer skips the peer.
#include "dsp/KeyAnalyzer.h"
#include "dsp/KeyClassifier.h"

#ifdef TOLMAR_KEY_PEER
#include <dsp/keydetection/GetKeyMode.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
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
    std::array<float, 12> notes{};
    bool hasNotes = false;
};

// Twelve comma-separated numbers, or false.
bool parseNotes(const std::string& text, std::array<float, 12>& notes)
{
    std::istringstream in(text);
    std::string number;
    std::size_t count = 0;
    while (std::getline(in, number, ',')) {
        if (count == notes.size())
            return false;
        try {
            notes[count++] = std::stof(number);
        } catch (const std::exception&) {
            return false;
        }
    }
    return count == notes.size();
}

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

enum Outcome { right, sameScale, declined, wrong };

const char* outcomeName(Outcome outcome)
{
    static const char* const names[] = {"right", "same-scale", "declined", "WRONG"};
    return names[outcome];
}

// The relative key has the same notes: a minor tonic three semitones below the major one.
int relativeKey(int key)
{
    return key > 11 ? (key - 12 + 9) % 12 : 12 + (key + 3) % 12;
}

Outcome judge(int expected, int heard)
{
    if (heard == expected)
        return right;
    if (heard < 0)
        return declined;
    return heard == relativeKey(expected) ? sameScale : wrong;
}

// The peer always names a key, so its numbers out of range count as wrong.
Outcome judgePeer(int expected, int heard)
{
    const Outcome outcome = judge(expected, heard);
    return outcome == declined ? wrong : outcome;
}

struct Tally {
    int counts[4] = {};

    int loops() const { return counts[right] + counts[sameScale] + counts[declined] + counts[wrong]; }
    Tally& operator+=(const Tally& other)
    {
        for (int o = 0; o < 4; ++o)
            counts[o] += other.counts[o];
        return *this;
    }
};

struct Comparison {
    Tally ours, peer, notes;

    Comparison& operator+=(const Comparison& other)
    {
        ours += other.ours;
        peer += other.peer;
        notes += other.notes;
        return *this;
    }
};

struct Answer {
    int key = -1;
    float score = 0.0f;
    bool decided = true;
};

// The analyser as the plug-in runs it: from a fresh start, blocks of 512, until it decides.
Answer ourAnswer(const Audio& audio)
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
    const auto estimate = analyzer.result();
    return {estimate.key, estimate.score, analyzer.stage() >= 2};
}

#ifdef TOLMAR_KEY_PEER
constexpr bool peerBuilt = true;

// qm-dsp numbers keys 1..12 major and 13..24 minor, tonic C..B; its rare 25 (a peak at the top of the minor
// profiles) names no key here.
int fromQueenMary(int key)
{
    if (key >= 1 && key <= 12)
        return 12 + key - 1;
    if (key >= 13 && key <= 24)
        return key - 13;
    return -1;
}

// What a Vamp host gives a mono plug-in: the average of the channels.
std::vector<double> monoMix(const Audio& audio)
{
    std::vector<double> mono(audio.channels.front().size());
    for (const auto& channel : audio.channels)
        for (std::size_t i = 0; i < mono.size(); ++i)
            mono[i] += static_cast<double>(channel[i]);
    for (double& sample : mono)
        sample /= static_cast<double>(audio.channels.size());
    return mono;
}

// The Queen Mary key detector as its Vamp plug-in runs it with its defaults: tuning 440 Hz, chroma averaging
// and median filter lengths of 10, blocks of its block size every hop size, the last block padded with silence.
// Its answer is the key of the most frames; between keys with as many, the one that got there first.
Answer peerAnswer(const Audio& audio)
{
    GetKeyMode detector(static_cast<int>(audio.rate + 0.1), 440.0f, 10.0, 10.0);
    const std::size_t block = detector.getBlockSize(), hop = detector.getHopSize();
    const std::vector<double> mono = monoMix(audio);
    std::vector<double> frame(block);
    std::map<int, int> framesPerKey;
    Answer answer;
    int answerFrames = 0;
    for (std::size_t at = 0; at < mono.size(); at += hop) {
        const std::size_t available = std::min(block, mono.size() - at);
        std::fill(frame.begin(), frame.end(), 0.0);
        std::copy_n(mono.begin() + static_cast<std::ptrdiff_t>(at), available, frame.begin());
        const int key = fromQueenMary(detector.process(frame.data()));
        if (++framesPerKey[key] > answerFrames) {
            answer.key = key;
            answerFrames = framesPerKey[key];
        }
    }
    return answer;
}
#else
constexpr bool peerBuilt = false;

Answer peerAnswer(const Audio&)
{
    return {};
}
#endif

// Per family, with the held-out families apart, and per rate and mode over the families that are not held out.
struct Report {
    std::map<std::string, Comparison> families, heldOutFamilies, ratesAndModes;
    int loops = 0, oursNotRight = 0;
    bool withNotes = false;

    // `notes` is the classifier's outcome on the loop's notes, or null where the manifest has none.
    void add(const std::string& family, int rate, bool major, Outcome ours, Outcome peer, const Outcome* notes)
    {
        Comparison loop;
        ++loop.ours.counts[ours];
        ++loop.peer.counts[peer];
        if (notes) {
            ++loop.notes.counts[*notes];
            withNotes = true;
        }
        // The held-out sets of scripts/key-corpus: heldout-... (--held-out), fresh-... (--held-out 2), third-...
        // (--held-out 3), fourth-... (--held-out 4) and fifth-... (--held-out 5).
        const bool heldOut = family.rfind("heldout-", 0) == 0 || family.rfind("fresh-", 0) == 0 ||
                             family.rfind("third-", 0) == 0 || family.rfind("fourth-", 0) == 0 ||
                             family.rfind("fifth-", 0) == 0;
        (heldOut ? heldOutFamilies : families)[family] += loop;
        if (!heldOut)
            ratesAndModes[std::to_string(rate) + (major ? " major" : " minor")] += loop;
        ++loops;
        oursNotRight += ours != right;
    }
};

struct Columns {
    bool peer = false, notes = false;
};

void printRow(const std::string& name, const Comparison& row, Columns columns)
{
    const int* ours = row.ours.counts;
    std::printf("%-24s %5d   ours: %5d %10d %8d %5d", name.c_str(), row.ours.loops(), ours[right], ours[sameScale],
                ours[declined], ours[wrong]);
    const int* peer = row.peer.counts;
    if (columns.peer)
        std::printf("   peer: %5d %10d %5d", peer[right], peer[sameScale], peer[wrong]);
    const int* notes = row.notes.counts;
    if (columns.notes)
        std::printf("   notes: %5d %10d %8d %5d", notes[right], notes[sameScale], notes[declined], notes[wrong]);
    std::printf("\n");
}

void printTable(const std::string& title, const std::string& rowLabel, const std::map<std::string, Comparison>& rows,
                Columns columns)
{
    if (rows.empty())
        return;
    std::printf("\n%s\n%-24s %5s   ours: %5s %10s %8s %5s", title.c_str(), rowLabel.c_str(), "loops", "right",
                "same-scale", "declined", "wrong");
    if (columns.peer)
        std::printf("   peer: %5s %10s %5s", "right", "same-scale", "wrong");
    if (columns.notes)
        std::printf("   notes: %5s %10s %8s %5s", "right", "same-scale", "declined", "wrong");
    std::printf("\n");
    Comparison all;
    for (const auto& [name, row] : rows) {
        printRow(name, row, columns);
        all += row;
    }
    printRow("all", all, columns);
}

void printLoop(const Loop& loop, const Answer& ours, const Answer* peer, const Answer* notes)
{
    std::printf("%-34s %-9s  ours: %-10s %-12s %.3f", loop.file.c_str(), keyName(loop.key).c_str(),
                outcomeName(judge(loop.key, ours.key)), keyName(ours.key).c_str(), static_cast<double>(ours.score));
    if (peer)
        std::printf("   peer: %-10s %-12s", outcomeName(judgePeer(loop.key, peer->key)), keyName(peer->key).c_str());
    if (notes)
        std::printf("   notes: %-10s %s", outcomeName(judge(loop.key, notes->key)), keyName(notes->key).c_str());
    std::printf("%s\n", ours.decided ? "" : "  (too short for ours to decide)");
}

struct Options {
    std::string manifestPath;
    bool requireRight = false;
    bool runPeer = peerBuilt;
};

bool parseOptions(int argc, char** argv, Options& options)
{
    if (argc < 2)
        return false;
    options.manifestPath = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--require-right")
            options.requireRight = true;
        else if (option == "--no-peer")
            options.runPeer = false;
        else
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::cerr << "usage: tolmar_key_corpus CORPUS_DIR/corpus.tsv [--require-right] [--no-peer]\n";
        return 2;
    }
    const auto slash = options.manifestPath.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : options.manifestPath.substr(0, slash);
    std::ifstream manifest(options.manifestPath);
    if (!manifest) {
        std::cerr << "cannot read " << options.manifestPath << "\n";
        return 2;
    }
    Report report;
    std::string line;
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        Loop loop;
        int rate = 0;
        if (!(fields >> loop.file >> loop.key >> loop.style >> rate))
            continue;
        std::string notesField;
        if (fields >> notesField && !(loop.hasNotes = parseNotes(notesField, loop.notes))) {
            std::cerr << loop.file << ": the notes are not twelve numbers\n";
            return 2;
        }
        Audio audio;
        std::string error;
        if (!readWav(directory + "/" + loop.file, audio, error) || audio.channels.front().empty()) {
            std::cerr << loop.file << ": " << (error.empty() ? "empty" : error) << "\n";
            return 2;
        }
        const Answer ours = ourAnswer(audio);
        const Answer peer = options.runPeer ? peerAnswer(audio) : Answer{};
        const auto onNotes = tolmar::classifyChroma(loop.notes);
        const Answer notes{onNotes.key, onNotes.score};
        const Outcome notesOutcome = judge(loop.key, notes.key);
        printLoop(loop, ours, options.runPeer ? &peer : nullptr, loop.hasNotes ? &notes : nullptr);
        report.add(loop.style, rate, loop.key > 11, judge(loop.key, ours.key), judgePeer(loop.key, peer.key),
                   loop.hasNotes ? &notesOutcome : nullptr);
    }
    if (report.loops == 0) {
        std::cerr << "no loops listed in " << options.manifestPath << "\n";
        return 2;
    }
    if (!options.runPeer)
        std::printf("\n(peer not run: %s)\n", peerBuilt ? "--no-peer" : "built without qm-dsp");
    if (report.withNotes)
        std::printf("(notes: the key classifier on the loop's own notes, as if every one were heard exactly)\n");
    const Columns columns{options.runPeer, report.withNotes};
    printTable("Families", "family", report.families, columns);
    printTable("Held-out families", "family", report.heldOutFamilies, columns);
    printTable("Rates and modes of the families not held out", "rate mode", report.ratesAndModes, columns);
    std::printf("%d loops\n", report.loops);
    return options.requireRight && report.oursNotRight > 0 ? 1 : 0;
}
