// Build-time tool: writes the LV2 bundle's Turtle data (manifest.ttl, dsp.ttl, ui.ttl) beside the plug-in's library.
// Everything it says comes from one home:
//   - the parameters: the parameter table (plugin/Parameters.h), with the language names of the generated text tables
//     as the choices of "language";
//   - the audio ports and port groups: the bus table (plugin/Buses.h);
//   - the plug-in's URI, name, maker, web page and version: compile definitions set by Plugin.cmake.
// The framework's LV2 wrapper (juce_LV2_Client.cpp) does not read these files, but it answers the host as if it had
// written them, so the data follows what the wrapper does at run time:
//   - port numbers: the audio inputs channel by channel in bus order, then the audio outputs, then five ports in a
//     fixed order (atom input, atom output, latency, free-wheeling, enabled);
//   - a parameter's URI is the plug-in URI, ':' and the parameter's identifier, in the table's order, and its
//     values are plain values (the choice index; 0 or 1 for a switch), which the wrapper converts itself;
//   - the features the instance and the editor refuse to start without, and the interfaces they hand out.
// Any inconsistency in the tables stops the build with what is wrong.
//
// Usage: tolmar_make_lv2_turtle <plug-in library>
#include "editor/i18n/LanguageTables.h"
#include "plugin/Buses.h"
#include "plugin/Parameters.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* pluginUri = TOLMAR_LV2_URI;
constexpr const char* productName = TOLMAR_PRODUCT_NAME;
constexpr const char* companyName = TOLMAR_COMPANY_NAME;
constexpr const char* website = TOLMAR_WEBSITE;
constexpr const char* version = TOLMAR_VERSION;
constexpr int minorVersion = TOLMAR_VERSION_MINOR;
constexpr int microVersion = TOLMAR_VERSION_MICRO;

// The URIs the wrapper derives from the plug-in URI: its editor's, and the prefix of its parameters'.
const std::string uiUri = std::string(pluginUri) + ":UI";
const std::string parameterPrefix = std::string(pluginUri) + ":";

// The labels the framework's switch parameter gives its two values.
constexpr const char* switchLabels[] = {"Off", "On"};

// The wrapper's atom output must hold a message for every parameter at once: it sizes that as 72 bytes per parameter
// and 8192 more for the sequence's header and anything else, and asks the host for as much on both atom ports.
constexpr int atomPortSize = static_cast<int>(tolmar::parameterTable.size()) * 72 + 8192;

struct Failure {
    std::string message;
};

[[noreturn]] void fail(const std::string& what)
{
    throw Failure{what};
}

// A Turtle string: quotes, backslashes and control characters escaped, UTF-8 kept as it is.
std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof(escaped), "\\u%04X", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

// A file name as a relative IRI: everything but unreserved characters percent-encoded ("Tolmar Vez.so" gives
// "Tolmar%20Vez.so").
std::string relativeIri(const std::string& fileName)
{
    std::string out;
    for (const char c : fileName) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                                (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof(escaped), "%%%02X", static_cast<unsigned>(byte));
            out += escaped;
        }
    }
    return out;
}

// The wrapper writes a parameter's identifier into its URI as it is when it needs no escaping, and the data names
// the parameter with the "plug:" prefix; so an identifier must be letters and digits (and '_'), starting with a
// letter.
void checkIdentifier(const char* id)
{
    const std::string text = id;
    bool clean = !text.empty() && ((text[0] >= 'a' && text[0] <= 'z') || (text[0] >= 'A' && text[0] <= 'Z'));
    for (const char c : text)
        clean = clean && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_');
    if (!clean)
        fail("parameter identifier \"" + text + "\" is not letters and digits: the LV2 wrapper would escape it");
}

// The host-facing values of one parameter, as the processor builds it from its table row.
struct Choices {
    std::vector<std::string> labels;
    bool isSwitch = false;
};

Choices choicesOf(const tolmar::ParameterInfo& info)
{
    Choices choices;
    if (info.isSwitch()) {
        choices.isSwitch = true;
        choices.labels.assign(std::begin(switchLabels), std::end(switchLabels));
    } else if (info.choices == nullptr) {
        // The processor gives "language" the language list as its choices.
        if (info.choiceCount != tolmar::languageCount)
            fail(std::string("parameter \"") + info.id + "\" has " + std::to_string(info.choiceCount) +
                 " choices but there are " + std::to_string(tolmar::languageCount) + " languages");
        choices.labels.assign(std::begin(tolmar::languageNames), std::end(tolmar::languageNames));
    } else {
        choices.labels.assign(info.choices, info.choices + info.choiceCount);
    }
    if (choices.labels.size() < 2)
        fail(std::string("parameter \"") + info.id + "\" has fewer than two choices");
    if (info.defaultIndex < 0 || info.defaultIndex >= static_cast<int>(choices.labels.size()))
        fail(std::string("parameter \"") + info.id + "\" has its default outside its choices");
    return choices;
}

void writeManifest(const std::string& binary, std::ostream& out)
{
    out << "@prefix lv2:  <http://lv2plug.in/ns/lv2core#> .\n"
           "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
           "@prefix ui:   <http://lv2plug.in/ns/extensions/ui#> .\n"
           "\n"
           "<"
        << pluginUri
        << ">\n"
           "\ta lv2:Plugin , lv2:PitchPlugin ;\n"
           "\tlv2:binary <"
        << binary
        << "> ;\n"
           "\trdfs:seeAlso <dsp.ttl> .\n"
           "\n"
           "<"
        << uiUri
        << ">\n"
           "\ta ui:X11UI ;\n"
           "\tlv2:binary <"
        << binary
        << "> ;\n"
           "\trdfs:seeAlso <ui.ttl> .\n";
}

// One audio port per channel of every bus: the inputs first (numbered from 0), then the outputs.
struct AudioPort {
    int index;
    bool isInput;
    int number; // 1-based within inputs or outputs
    int group;  // 1-based bus number within inputs or outputs
    int channel;
};

std::vector<AudioPort> audioPorts()
{
    std::vector<AudioPort> ports;
    int index = 0;
    for (const bool isInput : {true, false}) {
        int number = 0;
        int group = 0;
        for (const auto& bus : tolmar::busTable) {
            if (bus.isInput != isInput)
                continue;
            ++group;
            for (int channel = 0; channel < tolmar::busChannels; ++channel)
                ports.push_back({index++, isInput, ++number, group, channel});
        }
    }
    return ports;
}

std::string groupName(bool isInput, int group)
{
    return std::string(isInput ? "input_group_" : "output_group_") + std::to_string(group);
}

void writeAudioPort(const AudioPort& port, std::ostream& out)
{
    // Every bus is stereo: its channels are the port groups' left and right. No port is connectionOptional, the
    // side-chain's neither: the wrapper copies every input port it declares on every block.
    static_assert(tolmar::busChannels == 2, "the designations below name the channels of a stereo bus");
    const char* designation = port.channel == 0 ? "pg:left" : "pg:right";
    out << "\t\ta " << (port.isInput ? "lv2:InputPort" : "lv2:OutputPort")
        << " , lv2:AudioPort ;\n"
           "\t\tlv2:index "
        << port.index << " ;\n\t\tlv2:symbol \"" << (port.isInput ? "audio_in_" : "audio_out_") << port.number
        << "\" ;\n\t\tlv2:name \"" << (port.isInput ? "Audio In " : "Audio Out ") << port.number
        << "\" ;\n\t\tpg:group plug:" << groupName(port.isInput, port.group) << " ;\n\t\tlv2:designation "
        << designation << " ;\n";
}

// The wrapper's ports after the audio ones, in its order: events in (parameter changes from the host, the
// transport), events out (parameter changes to the host), the latency it writes on every block, and the host's
// free-wheeling and enabled switches.
void writeControlPorts(int firstIndex, std::ostream& out)
{
    int index = firstIndex;
    out << "\t\ta lv2:InputPort , atom:AtomPort ;\n"
           "\t\tlv2:index "
        << index++ << " ;\n\t\tlv2:symbol \"in\" ;\n\t\tlv2:name \"In\" ;\n\t\tlv2:designation lv2:control ;\n"
        << "\t\tatom:bufferType atom:Sequence ;\n\t\tatom:supports patch:Message , time:Position ;\n"
        << "\t\trsz:minimumSize " << atomPortSize << " ;\n\t] , [\n";
    out << "\t\ta lv2:OutputPort , atom:AtomPort ;\n"
           "\t\tlv2:index "
        << index++ << " ;\n\t\tlv2:symbol \"out\" ;\n\t\tlv2:name \"Out\" ;\n\t\tlv2:designation lv2:control ;\n"
        << "\t\tatom:bufferType atom:Sequence ;\n\t\tatom:supports patch:Message ;\n"
        << "\t\trsz:minimumSize " << atomPortSize << " ;\n\t] , [\n";
    out << "\t\ta lv2:OutputPort , lv2:ControlPort ;\n"
           "\t\tlv2:index "
        << index++
        << " ;\n\t\tlv2:symbol \"latency\" ;\n\t\tlv2:name \"Latency\" ;\n\t\tlv2:designation lv2:latency ;\n"
        << "\t\tlv2:portProperty lv2:reportsLatency , lv2:integer , lv2:connectionOptional , pprop:notOnGUI ;\n"
        << "\t\tunits:unit units:frame ;\n\t] , [\n";
    out << "\t\ta lv2:InputPort , lv2:ControlPort ;\n"
           "\t\tlv2:index "
        << index++
        << " ;\n\t\tlv2:symbol \"freeWheeling\" ;\n\t\tlv2:name \"Free Wheeling\" ;\n"
           "\t\tlv2:designation lv2:freeWheeling ;\n"
        << "\t\tlv2:default 0.0 ;\n\t\tlv2:minimum 0.0 ;\n\t\tlv2:maximum 1.0 ;\n"
        << "\t\tlv2:portProperty lv2:toggled , lv2:connectionOptional , pprop:notOnGUI ;\n\t] , [\n";
    out << "\t\ta lv2:InputPort , lv2:ControlPort ;\n"
           "\t\tlv2:index "
        << index++
        << " ;\n\t\tlv2:symbol \"enabled\" ;\n\t\tlv2:name \"Enabled\" ;\n\t\tlv2:designation lv2:enabled ;\n"
        << "\t\tlv2:default 1.0 ;\n\t\tlv2:minimum 0.0 ;\n\t\tlv2:maximum 1.0 ;\n"
        << "\t\tlv2:portProperty lv2:toggled , lv2:connectionOptional , pprop:notOnGUI ;\n";
}

void writeParameterList(const char* property, std::ostream& out)
{
    out << "\t" << property;
    const char* separator = "\n";
    for (const auto& info : tolmar::parameterTable) {
        out << separator << "\t\tplug:" << info.id;
        separator = " ,\n";
    }
    out << " ;\n";
}

// A parameter as a patch property: its range is its plain values, one scale point per choice (the k-th choice at
// k), and the port properties by which hosts offer a menu or a switch (the schema puts lv2:portProperty on ports,
// but hosts, the framework's own among them, read it on parameters too).
void writeParameter(const tolmar::ParameterInfo& info, std::ostream& out)
{
    const Choices choices = choicesOf(info);
    const int lastIndex = static_cast<int>(choices.labels.size()) - 1;
    out << "plug:" << info.id
        << "\n"
           "\ta lv2:Parameter ;\n"
           "\trdfs:label "
        << quoted(info.name)
        << " ;\n"
           "\trdfs:range atom:Float ;\n"
           "\tlv2:default "
        << info.defaultIndex << " ;\n\tlv2:minimum 0 ;\n\tlv2:maximum " << lastIndex
        << " ;\n\tlv2:portProperty lv2:enumeration" << (choices.isSwitch ? " , lv2:toggled" : "")
        << " ;\n\tlv2:scalePoint";
    for (int k = 0; k <= lastIndex; ++k)
        out << (k == 0 ? " [\n" : " , [\n") << "\t\trdfs:label " << quoted(choices.labels[static_cast<size_t>(k)])
            << " ;\n\t\trdf:value " << k << " ;\n\t]";
    out << " .\n";
}

void writeDsp(std::ostream& out)
{
    out << "@prefix atom:  <http://lv2plug.in/ns/ext/atom#> .\n"
           "@prefix bufs:  <http://lv2plug.in/ns/ext/buf-size#> .\n"
           "@prefix doap:  <http://usefulinc.com/ns/doap#> .\n"
           "@prefix foaf:  <http://xmlns.com/foaf/0.1/> .\n"
           "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
           "@prefix opts:  <http://lv2plug.in/ns/ext/options#> .\n"
           "@prefix patch: <http://lv2plug.in/ns/ext/patch#> .\n"
           "@prefix pg:    <http://lv2plug.in/ns/ext/port-groups#> .\n"
           "@prefix plug:  <"
        << parameterPrefix
        << "> .\n"
           "@prefix pprop: <http://lv2plug.in/ns/ext/port-props#> .\n"
           "@prefix rdf:   <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
           "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
           "@prefix rsz:   <http://lv2plug.in/ns/ext/resize-port#> .\n"
           "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
           "@prefix time:  <http://lv2plug.in/ns/ext/time#> .\n"
           "@prefix ui:    <http://lv2plug.in/ns/extensions/ui#> .\n"
           "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
           "@prefix urid:  <http://lv2plug.in/ns/ext/urid#> .\n"
           "\n";

    // The plug-in: a pitch plug-in, and a project, so that its maintainer and release are in their domain. The
    // instance refuses to start without a URID map, options (the largest block length among them) and bounded block
    // lengths; it hands out the state interface.
    out << "<" << pluginUri
        << ">\n"
           "\ta lv2:Plugin , lv2:PitchPlugin , doap:Project ;\n"
           "\tdoap:name "
        << quoted(productName) << " ;\n\tdoap:description " << quoted(productName)
        << " ;\n"
           "\tdoap:maintainer [\n"
           "\t\ta foaf:Person ;\n"
           "\t\tfoaf:name "
        << quoted(companyName) << " ;\n\t\tfoaf:homepage <" << website
        << "> ;\n"
           "\t] ;\n"
           "\tdoap:release [\n"
           "\t\ta doap:Version ;\n"
           "\t\tdoap:revision "
        << quoted(version) << " ;\n\t] ;\n\tlv2:minorVersion " << minorVersion << " ;\n\tlv2:microVersion "
        << microVersion << " ;\n\tui:ui <" << uiUri
        << "> ;\n"
           "\tlv2:requiredFeature urid:map , opts:options , bufs:boundedBlockLength ;\n"
           "\tlv2:optionalFeature lv2:hardRTCapable ;\n"
           "\tlv2:extensionData state:interface ;\n"
           "\topts:supportedOption bufs:maxBlockLength ;\n"
           "\tpg:mainInput plug:"
        << groupName(true, 1) << " ;\n\tpg:mainOutput plug:" << groupName(false, 1) << " ;\n";
    writeParameterList("patch:writable", out);
    writeParameterList("patch:readable", out);
    out << "\tlv2:port [\n";
    const auto ports = audioPorts();
    for (const auto& port : ports) {
        writeAudioPort(port, out);
        out << "\t] , [\n";
    }
    writeControlPorts(static_cast<int>(ports.size()), out);
    out << "\t] .\n";

    // The port groups, one per bus, numbered within inputs and within outputs.
    for (const bool isInput : {true, false}) {
        int group = 0;
        for (const auto& bus : tolmar::busTable) {
            if (bus.isInput != isInput)
                continue;
            const std::string name = groupName(isInput, ++group);
            out << "\nplug:" << name << "\n\ta " << (isInput ? "pg:InputGroup" : "pg:OutputGroup") << " ;\n\tlv2:name "
                << quoted(bus.name) << " ;\n\tlv2:symbol " << quoted(name) << " .\n";
        }
    }

    for (const auto& info : tolmar::parameterTable) {
        checkIdentifier(info.id);
        out << "\n";
        writeParameter(info, out);
    }
}

// The editor in an X11 window: it needs the host's idle calls (the framework's message loop runs in them), a URID
// map, the parent window and the plug-in instance; it resizes, and takes the host's scale factor as an option. The
// sample rate stays among its options as the framework has always listed it, though the editor leaves it unread.
void writeUi(std::ostream& out)
{
    out << "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
           "@prefix opts:  <http://lv2plug.in/ns/ext/options#> .\n"
           "@prefix param: <http://lv2plug.in/ns/ext/parameters#> .\n"
           "@prefix ui:    <http://lv2plug.in/ns/extensions/ui#> .\n"
           "@prefix urid:  <http://lv2plug.in/ns/ext/urid#> .\n"
           "\n"
           "<"
        << uiUri
        << ">\n"
           "\tlv2:requiredFeature ui:idleInterface , urid:map , ui:parent ,\n"
           "\t\t<http://lv2plug.in/ns/ext/instance-access> ;\n"
           "\tlv2:optionalFeature ui:resize , opts:options ;\n"
           "\tlv2:extensionData ui:idleInterface , opts:interface , ui:resize ;\n"
           "\topts:supportedOption ui:scaleFactor , param:sampleRate .\n";
}

// Writes beside the file and renames, so that an interrupted run never leaves half a file in the bundle.
void writeFile(const std::filesystem::path& path, const std::string& content)
{
    const std::filesystem::path temporary = path.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary);
        out << content;
        if (!out)
            fail(temporary.string() + ": cannot write");
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error)
        fail(path.string() + ": cannot replace (" + error.message() + ")");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: tolmar_make_lv2_turtle <plug-in library>\n";
        return 2;
    }
    const std::filesystem::path library = argv[1];
    try {
        if (!std::filesystem::is_regular_file(library))
            fail(library.string() + ": no plug-in library there");
        const std::filesystem::path bundle = library.parent_path();
        std::ostringstream manifest;
        std::ostringstream dsp;
        std::ostringstream ui;
        writeManifest(relativeIri(library.filename().string()), manifest);
        writeDsp(dsp);
        writeUi(ui);
        writeFile(bundle / "manifest.ttl", manifest.str());
        writeFile(bundle / "dsp.ttl", dsp.str());
        writeFile(bundle / "ui.ttl", ui.str());
    } catch (const Failure& failure) {
        std::cerr << "tolmar_make_lv2_turtle: error: " << failure.message << '\n';
        return 1;
    } catch (const std::exception& exception) {
        std::cerr << "tolmar_make_lv2_turtle: error: " << exception.what() << '\n';
        return 1;
    }
    return 0;
}
