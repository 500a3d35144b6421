#include "render/CommandLine.h"

#include "dsp/Key.h"

#include <array>
#include <cctype>
#include <cstdlib>

namespace tolmar::render {

namespace {

// File-name forms of the modes, indexed by Mode.
constexpr std::array<const char*, 8> modeSlugs{"mosquito", "satanic",   "trap-default", "dizzy-mosquito",
                                               "cumbia",   "reggaeton", "ultra-edited", "master-tolmar"};

// Lower-case ASCII, '-' and '_' as blanks, the UTF-8 "ó"/"Ó" as 'o', so "Reggaetón" matches "reggaeton".
std::string folded(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0xC3 && i + 1 < text.size()
            && (static_cast<unsigned char>(text[i + 1]) == 0xB3 || static_cast<unsigned char>(text[i + 1]) == 0x93)) {
            out += 'o';
            ++i;
        } else if (c == '-' || c == '_') {
            out += ' ';
        } else {
            out += static_cast<char>(std::tolower(c));
        }
    }
    return out;
}

bool parseInt(const std::string& text, long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return end != nullptr && *end == '\0';
}

} // namespace

std::optional<Mode> modeFromName(const std::string& name)
{
    const std::string key = folded(name);
    for (std::size_t i = 0; i < modeSlugs.size(); ++i) {
        const auto mode = static_cast<Mode>(i);
        if (key == folded(modeName(mode)) || key == folded(modeSlugs[i]))
            return mode;
    }
    return std::nullopt;
}

std::optional<int> noteFromName(const std::string& name)
{
    const std::string key = folded(name);
    for (std::size_t i = 0; i < noteNames.size(); ++i)
        if (key == folded(noteNames[i]))
            return static_cast<int>(i);
    return std::nullopt;
}

const char* modeSlug(Mode mode)
{
    const auto index = static_cast<std::size_t>(mode);
    return index < modeSlugs.size() ? modeSlugs[index] : "unknown";
}

const char* noteName(int pitchClass) { return noteNames[static_cast<std::size_t>(((pitchClass % 12) + 12) % 12)]; }

std::string keyName(int key)
{
    if (!isKey(key))
        return "none";
    return std::string(noteName(keyRoot(key))) + (keyIsMajor(key) ? " major" : " minor");
}

ParseResult parseCommandLine(const std::vector<std::string>& args)
{
    ParseResult result;
    Options& o = result.options;
    std::vector<std::string> positional;
    const auto fail = [&result](std::string message) {
        result.error = std::move(message);
        return result;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool takesValue = arg == "--beat" || arg == "--effect" || arg == "--root" || arg == "--source"
                                || arg == "--state" || arg == "--save-state" || arg == "--block" || arg == "--demo";
        std::string value;
        if (takesValue) {
            if (i + 1 >= args.size() || args[i + 1].empty())
                return fail("missing value after " + arg);
            value = args[++i];
        }

        if (arg == "-h" || arg == "--help") {
            o.help = true;
        } else if (arg == "--beat") {
            o.beatPath = value;
        } else if (arg == "--effect") {
            o.mode = modeFromName(value);
            if (!o.mode)
                return fail("unknown effect '" + value
                            + "' (Mosquito, Satanic, Dizzy mosquito, Trap default, Cumbia, Reggaeton, Ultra edited, "
                              "Master Tolmar)");
        } else if (arg == "--root") {
            o.root = noteFromName(value);
            if (!o.root)
                return fail("unknown note '" + value + "' (C, C#, D, D#, E, F, F#, G, G#, A, A#, B)");
        } else if (arg == "--source") {
            const std::string source = folded(value);
            if (source == "manual" || source == "manual minor")
                o.tuningSource = 0;
            else if (source == "beat" || source == "beat sidechain")
                o.tuningSource = 1;
            else
                return fail("unknown tuning source '" + value + "' (manual or beat)");
        } else if (arg == "--bypass") {
            o.bypass = true;
        } else if (arg == "--live") {
            o.live = true;
        } else if (arg == "--state") {
            o.statePath = value;
        } else if (arg == "--save-state") {
            o.saveStatePath = value;
        } else if (arg == "--block") {
            long block = 0;
            if (!parseInt(value, block) || block < 1 || block > 65536)
                return fail("bad block size '" + value + "' (1 to 65536 samples)");
            o.block = static_cast<int>(block);
        } else if (arg == "--keep-latency") {
            o.keepLatency = true;
        } else if (arg == "--float") {
            o.floatOutput = true;
        } else if (arg == "--demo") {
            o.demoDir = value;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }

    if (o.help)
        return result;
    if (!o.demoDir.empty()) {
        if (!positional.empty())
            return fail("--demo takes a directory and no other files");
        return result;
    }
    if (positional.size() != 2)
        return fail(positional.size() < 2 ? "expected VOICE.wav and OUT.wav" : "unexpected argument " + positional[2]);
    o.voicePath = positional[0];
    o.outPath = positional[1];
    return result;
}

const char* usageText()
{
    return "usage: tolmar-render VOICE.wav OUT.wav [options]\n"
           "       tolmar-render --demo DIR\n"
           "\n"
           "Renders VOICE.wav through the Tolmar Vez processor into OUT.wav (same rate and channels).\n"
           "OUT.wav is replaced only once complete (through a link, the file it names); a device or pipe\n"
           "such as /dev/null or /dev/stdout is written straight into.\n"
           "\n"
           "  --beat BEAT.wav     the beat on the side-chain (its key tunes the tuned modes)\n"
           "  --effect NAME       Mosquito, Satanic, \"Dizzy mosquito\", \"Trap default\", Cumbia, Reggaeton,\n"
           "                      \"Ultra edited\" or \"Master Tolmar\" (letter case ignored)\n"
           "  --root NOTE         root of the manual minor scale: C, C#, D, ... B\n"
           "  --source manual|beat  where the tuned modes take their scale from\n"
           "  --bypass            the processor's bypass switch on\n"
           "  --state FILE        load a saved processor state before rendering\n"
           "  --save-state FILE   save the processor state (with the beat's key) after rendering\n"
           "  --block N           host block size in samples (default 512)\n"
           "  --live              Live on: the four tuning styles with low latency (other effects ignore it)\n"
           "  --keep-latency      keep the processor's latency at the start of OUT (default: removed)\n"
           "  --float             write 32-bit float (default: 24-bit)\n"
           "  --demo DIR          synthesise the demo voice and beat and render every mode into DIR\n";
}

} // namespace tolmar::render
