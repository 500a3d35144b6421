// The built LV2 bundle's Turtle data, read back through Debian's Turtle parser (sordi, as N-Triples) and checked
// against tables written down here and in the test helpers: the parameters as a host sees them, the port numbers
// the framework's LV2 wrapper reads and writes at run time, and the features it refuses to start without.
#include "HostParameters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const std::string pluginUri = TOLMAR_LV2_URI;
const std::string bundle = TOLMAR_LV2_BUNDLE;

const std::string rdf = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
const std::string rdfs = "http://www.w3.org/2000/01/rdf-schema#";
const std::string lv2 = "http://lv2plug.in/ns/lv2core#";
const std::string atom = "http://lv2plug.in/ns/ext/atom#";
const std::string patch = "http://lv2plug.in/ns/ext/patch#";
const std::string pg = "http://lv2plug.in/ns/ext/port-groups#";
const std::string ui = "http://lv2plug.in/ns/extensions/ui#";
const std::string urid = "http://lv2plug.in/ns/ext/urid#";
const std::string opts = "http://lv2plug.in/ns/ext/options#";
const std::string bufs = "http://lv2plug.in/ns/ext/buf-size#";
const std::string state = "http://lv2plug.in/ns/ext/state#";
const std::string pset = "http://lv2plug.in/ns/ext/presets#";
const std::string rsz = "http://lv2plug.in/ns/ext/resize-port#";

// An object: an IRI, a blank node ("_:name") or a literal's text with its escapes undone.
struct Object {
    std::string text;
    bool isLiteral = false;
};

struct Triple {
    std::string subject, predicate;
    Object object;
};

void appendUtf8(std::string& out, unsigned long code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xc0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xe0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    }
}

// One N-Triples line as sordi writes it: "<s> <p> <o> .", with blank nodes as "_:name" and literals as
// "text"^^<type> or "text"@lang. Returns false for anything else.
bool parseLine(const std::string& line, Triple& triple)
{
    std::size_t at = 0;
    const auto term = [&](std::string& out) {
        if (line.compare(at, 1, "<") == 0) {
            const auto end = line.find('>', at);
            if (end == std::string::npos)
                return false;
            out = line.substr(at + 1, end - at - 1);
            at = end + 1;
        } else if (line.compare(at, 2, "_:") == 0) {
            const auto end = line.find(' ', at);
            if (end == std::string::npos)
                return false;
            out = line.substr(at, end - at);
            at = end;
        } else {
            return false;
        }
        if (line.compare(at, 1, " ") != 0)
            return false;
        ++at;
        return true;
    };
    if (!term(triple.subject) || !term(triple.predicate))
        return false;
    if (line.compare(at, 1, "\"") != 0) {
        triple.object.isLiteral = false;
        return term(triple.object.text) && line.compare(at, std::string::npos, ".") == 0;
    }
    triple.object.isLiteral = true;
    std::string& text = triple.object.text;
    text.clear();
    for (++at; at < line.size() && line[at] != '"'; ++at) {
        if (line[at] != '\\') {
            text += line[at];
            continue;
        }
        const char escape = ++at < line.size() ? line[at] : '\0';
        if (escape == 'u' || escape == 'U') {
            const std::size_t digits = escape == 'u' ? 4 : 8;
            appendUtf8(text, std::strtoul(line.substr(at + 1, digits).c_str(), nullptr, 16));
            at += digits;
        } else {
            const std::map<char, char> simple{{'t', '\t'}, {'n', '\n'}, {'r', '\r'}, {'"', '"'}, {'\\', '\\'}};
            const auto it = simple.find(escape);
            if (it == simple.end())
                return false;
            text += it->second;
        }
    }
    if (at >= line.size())
        return false;
    const auto end = line.rfind(" .");
    return end != std::string::npos && end + 2 == line.size() && end > at;
}

class Graph {
public:
    // Parses one of the bundle's files; every line sordi prints must be a triple (its complaints are not).
    void read(const std::string& name)
    {
        const std::string path = bundle + "/" + name;
        const std::string command = "'" TOLMAR_SORDI "' '" + path + "' 'file:///bundle/" + name + "' 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr) << command;
        std::string line;
        int count = 0;
        for (int c = std::fgetc(pipe); c != EOF; c = std::fgetc(pipe)) {
            if (c != '\n') {
                line += static_cast<char>(c);
                continue;
            }
            Triple triple;
            EXPECT_TRUE(parseLine(line, triple)) << name << ": " << line;
            // Blank nodes are named per file.
            const auto isBlank = [](const std::string& text) { return text.compare(0, 2, "_:") == 0; };
            if (isBlank(triple.subject))
                triple.subject = "_:" + name + ":" + triple.subject.substr(2);
            if (!triple.object.isLiteral && isBlank(triple.object.text))
                triple.object.text = "_:" + name + ":" + triple.object.text.substr(2);
            triples.push_back(triple);
            ++count;
            line.clear();
        }
        EXPECT_EQ(pclose(pipe), 0) << command;
        EXPECT_GT(count, 0) << name;
    }

    std::vector<std::string> objects(const std::string& subject, const std::string& predicate) const
    {
        std::vector<std::string> found;
        for (const auto& t : triples)
            if (t.subject == subject && t.predicate == predicate)
                found.push_back(t.object.text);
        return found;
    }

    std::set<std::string> objectSet(const std::string& subject, const std::string& predicate) const
    {
        const auto found = objects(subject, predicate);
        return {found.begin(), found.end()};
    }

    // The one object; an empty string, and a test failure, when there is none or more than one.
    std::string one(const std::string& subject, const std::string& predicate) const
    {
        const auto found = objects(subject, predicate);
        EXPECT_EQ(found.size(), 1u) << subject << " " << predicate;
        return found.size() == 1 ? found[0] : std::string();
    }

    double number(const std::string& subject, const std::string& predicate) const
    {
        const std::string text = one(subject, predicate);
        return text.empty() ? -1e9 : std::strtod(text.c_str(), nullptr);
    }

    std::vector<std::string> subjectsOfType(const std::string& type) const
    {
        std::vector<std::string> found;
        for (const auto& t : triples)
            if (t.predicate == rdf + "type" && t.object.text == type)
                found.push_back(t.subject);
        return found;
    }

    std::vector<Triple> triples;
};

class Lv2Data : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        graph = new Graph;
        for (const char* name : {"manifest.ttl", "dsp.ttl", "ui.ttl"})
            graph->read(name);
    }

    static void TearDownTestSuite()
    {
        delete graph;
        graph = nullptr;
    }

    static Graph* graph;
};

Graph* Lv2Data::graph = nullptr;

} // namespace

TEST_F(Lv2Data, DescribesEveryParameterAsAHostSeesIt)
{
    const Graph& g = *graph;
    std::set<std::string> expectedUris;
    for (const auto& p : testing_support::hostParameters) {
        SCOPED_TRACE(p.id);
        // The URI the wrapper maps for the parameter.
        const std::string uri = pluginUri + ":" + p.id;
        expectedUris.insert(uri);
        EXPECT_EQ(g.objectSet(uri, rdf + "type"), std::set<std::string>{lv2 + "Parameter"});
        EXPECT_EQ(g.one(uri, rdfs + "label"), p.name);
        EXPECT_EQ(g.one(uri, rdfs + "range"), atom + "Float");
        // Plain values: the wrapper converts them to the parameter's own range.
        EXPECT_EQ(g.number(uri, lv2 + "minimum"), 0.0);
        EXPECT_EQ(g.number(uri, lv2 + "maximum"), p.valueCount - 1);
        EXPECT_EQ(g.number(uri, lv2 + "default"), p.defaultValue);
        std::set<std::string> properties{lv2 + "enumeration"};
        if (p.isSwitch)
            properties.insert(lv2 + "toggled");
        EXPECT_EQ(g.objectSet(uri, lv2 + "portProperty"), properties);

        // One scale point per value, its text at its plain value.
        std::map<int, std::string> textAt;
        for (const auto& point : g.objects(uri, lv2 + "scalePoint")) {
            const double value = g.number(point, rdf + "value");
            EXPECT_EQ(value, static_cast<int>(value)) << "a scale point between two values";
            EXPECT_TRUE(textAt.emplace(static_cast<int>(value), g.one(point, rdfs + "label")).second)
                << "two scale points at " << value;
        }
        ASSERT_EQ(textAt.size(), static_cast<std::size_t>(p.valueCount));
        EXPECT_EQ(textAt.begin()->first, 0);
        EXPECT_EQ(textAt.rbegin()->first, p.valueCount - 1);
        if (p.texts != nullptr) {
            for (int k = 0; k < p.valueCount; ++k)
                EXPECT_EQ(textAt[k], p.texts[k]) << "value " << k;
        } else {
            for (const auto& sample : testing_support::languageSamples)
                EXPECT_EQ(textAt[sample.index], sample.name) << "value " << sample.index;
            std::set<std::string> distinct;
            for (const auto& entry : textAt)
                distinct.insert(entry.second);
            EXPECT_EQ(distinct.size(), textAt.size()) << "two choices with the same text";
        }
    }

    // These nine and no others, each one both set by the host and reported back.
    EXPECT_EQ(g.objectSet(pluginUri, patch + "writable"), expectedUris);
    EXPECT_EQ(g.objectSet(pluginUri, patch + "readable"), expectedUris);
    const auto declared = g.subjectsOfType(lv2 + "Parameter");
    EXPECT_EQ(std::set<std::string>(declared.begin(), declared.end()), expectedUris);
}

TEST_F(Lv2Data, NumbersThePortsAsTheFrameworksWrapperReadsThem)
{
    // The wrapper's layout: each input channel in bus order, each output channel, then its five own ports.
    struct Port {
        int index;
        const char* symbol;
        const char* direction;
        const char* kind;
        std::string designation;
        const char* group; // nullptr: in no group
    };
    const Port expected[] = {
        {0, "audio_in_1", "InputPort", "AudioPort", pg + "left", "input_group_1"},
        {1, "audio_in_2", "InputPort", "AudioPort", pg + "right", "input_group_1"},
        {2, "audio_in_3", "InputPort", "AudioPort", pg + "left", "input_group_2"},
        {3, "audio_in_4", "InputPort", "AudioPort", pg + "right", "input_group_2"},
        {4, "audio_out_1", "OutputPort", "AudioPort", pg + "left", "output_group_1"},
        {5, "audio_out_2", "OutputPort", "AudioPort", pg + "right", "output_group_1"},
        {6, "in", "InputPort", "AtomPort", lv2 + "control", nullptr},
        {7, "out", "OutputPort", "AtomPort", lv2 + "control", nullptr},
        {8, "latency", "OutputPort", "ControlPort", lv2 + "latency", nullptr},
        {9, "freeWheeling", "InputPort", "ControlPort", lv2 + "freeWheeling", nullptr},
        {10, "enabled", "InputPort", "ControlPort", lv2 + "enabled", nullptr},
    };
    const Graph& g = *graph;
    std::map<int, std::string> portAt;
    for (const auto& port : g.objects(pluginUri, lv2 + "port"))
        EXPECT_TRUE(portAt.emplace(static_cast<int>(g.number(port, lv2 + "index")), port).second);
    ASSERT_EQ(portAt.size(), std::size(expected));

    for (const auto& e : expected) {
        SCOPED_TRACE(e.symbol);
        ASSERT_EQ(portAt.count(e.index), 1u);
        const std::string& port = portAt[e.index];
        EXPECT_EQ(g.one(port, lv2 + "symbol"), e.symbol);
        EXPECT_EQ(
            g.objectSet(port, rdf + "type"),
            (std::set<std::string>{lv2 + e.direction, (e.kind == std::string("AtomPort") ? atom : lv2) + e.kind}));
        EXPECT_EQ(g.one(port, lv2 + "designation"), e.designation);
        EXPECT_EQ(g.objects(port, pg + "group"),
                  e.group ? std::vector<std::string>{pluginUri + ":" + e.group} : std::vector<std::string>{});
        const auto properties = g.objectSet(port, lv2 + "portProperty");
        if (e.kind == std::string("AudioPort")) {
            EXPECT_EQ(properties.count(lv2 + "connectionOptional"), 0u) << "the wrapper copies every audio input";
        }
        if (e.kind == std::string("AtomPort")) {
            // Room for a change message from every parameter in one block, as the wrapper sizes its output.
            EXPECT_GE(g.number(port, rsz + "minimumSize"),
                      static_cast<double>(std::size(testing_support::hostParameters) * 72 + 8192));
        }
    }
    EXPECT_EQ(g.objectSet(portAt[8], lv2 + "portProperty").count(lv2 + "reportsLatency"), 1u);

    // The buses as port groups: the voice first, then the beat, and the output.
    struct Group {
        const char* symbol;
        const char* type;
        const char* name;
    };
    for (const Group& group :
         {Group{"input_group_1", "InputGroup", "Input"}, Group{"input_group_2", "InputGroup", "Beat"},
          Group{"output_group_1", "OutputGroup", "Output"}}) {
        const std::string uri = pluginUri + ":" + group.symbol;
        EXPECT_EQ(g.objectSet(uri, rdf + "type"), std::set<std::string>{pg + group.type}) << group.symbol;
        EXPECT_EQ(g.one(uri, lv2 + "name"), group.name) << group.symbol;
        EXPECT_EQ(g.one(uri, lv2 + "symbol"), group.symbol);
    }
    EXPECT_EQ(g.one(pluginUri, pg + "mainInput"), pluginUri + ":input_group_1");
    EXPECT_EQ(g.one(pluginUri, pg + "mainOutput"), pluginUri + ":output_group_1");
}

TEST_F(Lv2Data, NamesThePluginItsEditorAndWhatTheyNeedFromTheHost)
{
    const Graph& g = *graph;
    const auto pluginTypes = g.objectSet(pluginUri, rdf + "type");
    EXPECT_EQ(pluginTypes.count(lv2 + "Plugin"), 1u);
    EXPECT_EQ(pluginTypes.count(lv2 + "PitchPlugin"), 1u);
    EXPECT_EQ(g.one(pluginUri, lv2 + "binary"), "file:///bundle/Tolmar%20Vez.so");
    // The instance refuses to start without these; it hands out its state.
    EXPECT_EQ(g.objectSet(pluginUri, lv2 + "requiredFeature"),
              (std::set<std::string>{urid + "map", opts + "options", bufs + "boundedBlockLength"}));
    EXPECT_EQ(g.objectSet(pluginUri, lv2 + "extensionData"), std::set<std::string>{state + "interface"});
    EXPECT_TRUE(g.subjectsOfType(pset + "Preset").empty()) << "a preset that selects nothing";

    const std::string editor = pluginUri + ":UI";
    EXPECT_EQ(g.one(pluginUri, ui + "ui"), editor);
    EXPECT_EQ(g.objectSet(editor, rdf + "type"), std::set<std::string>{ui + "X11UI"});
    EXPECT_EQ(g.one(editor, lv2 + "binary"), "file:///bundle/Tolmar%20Vez.so");
    // The editor refuses to open without the plug-in instance and a parent window; it needs idle calls for the
    // framework's message loop and maps URIs for its options. It resizes.
    EXPECT_EQ(g.objectSet(editor, lv2 + "requiredFeature"),
              (std::set<std::string>{ui + "idleInterface", urid + "map", ui + "parent",
                                     "http://lv2plug.in/ns/ext/instance-access"}));
    EXPECT_EQ(g.objectSet(editor, lv2 + "extensionData"),
              (std::set<std::string>{ui + "idleInterface", opts + "interface", ui + "resize"}));
    EXPECT_EQ(g.objectSet(editor, lv2 + "optionalFeature"), (std::set<std::string>{ui + "resize", opts + "options"}));
    EXPECT_EQ(g.objectSet(editor, opts + "supportedOption").count(ui + "scaleFactor"), 1u);
}
