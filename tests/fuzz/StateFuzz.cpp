// decodeSavedState, the processor's reader of saved states, with arbitrary bytes: what it accepts is a tree
// of this plug-in with every parameter finite and in range and a valid key, and saving that tree and reading
// it again gives the same settings.
#include "FuzzCheck.h"

#include "plugin/SavedState.h"

#include <cmath>
#include <vector>

namespace {

const juce::Identifier rootType{"TolmarVoz"};

// The processor's parameters: raw ranges, and current values the state may leave in place.
const std::vector<SavedParameter> parameters{
    {"effect", 0.0f, 2.0f, 1.0f, false},      {"root", 0.0f, 11.0f, 5.0f, false},
    {"bypass", 0.0f, 1.0f, 1.0f, false},      {"language", 0.0f, 199.0f, 42.0f, false},
    {"tuningSource", 0.0f, 1.0f, 1.0f, true}, {"wobble", 0.0f, 1.0f, 1.0f, true},
    {"vocalStyle", 0.0f, 3.0f, 2.0f, true},   {"mastering", 0.0f, 1.0f, 1.0f, true},
    {"live", 0.0f, 1.0f, 1.0f, true},
};

// The value the parameter state would take: that of the first child with the parameter's id.
std::vector<double> valuesOf(const DecodedState& decoded)
{
    std::vector<double> values;
    for (const auto& parameter : parameters) {
        bool found = false;
        for (const auto& child : decoded.tree) {
            if (child.getProperty("id").toString() != parameter.id)
                continue;
            const auto value = static_cast<double>(child.getProperty("value"));
            TOLMAR_FUZZ_REQUIRE(std::isfinite(value) && value >= parameter.minimum && value <= parameter.maximum);
            if (!found)
                values.push_back(value);
            found = true;
        }
        TOLMAR_FUZZ_REQUIRE(found);
    }
    return values;
}

// The framework's binary XML, as the processor saves it.
juce::MemoryBlock save(const DecodedState& decoded)
{
    auto tree = decoded.tree.createCopy();
    tree.setProperty("beatKey", decoded.beatKey, nullptr);
    const auto xml = tree.createXml();
    TOLMAR_FUZZ_REQUIRE(xml != nullptr);
    juce::MemoryBlock block;
    {
        juce::MemoryOutputStream out(block, false);
        out.writeInt(0x21324356);
        out.writeInt(0);
        xml->writeTo(out, juce::XmlElement::TextFormat().singleLine());
        out.writeByte(0);
    }
    const auto length = static_cast<std::uint32_t>(block.getSize() - 9);
    std::memcpy(static_cast<char*>(block.getData()) + 4, &length, 4);
    return block;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    // Exactly the input on the heap, so that reading past it is an AddressSanitizer report.
    std::vector<unsigned char> bytes(data, data + size);
    const auto decoded = decodeSavedState(bytes.empty() ? nullptr : bytes.data(), static_cast<int>(bytes.size()),
                                          rootType, parameters);
    if (!decoded.tree.isValid())
        return 0;
    TOLMAR_FUZZ_REQUIRE(decoded.tree.getType().toString().equalsIgnoreCase(rootType.toString()));
    TOLMAR_FUZZ_REQUIRE(decoded.beatKey >= -1 && decoded.beatKey <= 23);
    const auto values = valuesOf(decoded);

    const auto saved = save(decoded);
    const auto reloaded = decodeSavedState(saved.getData(), static_cast<int>(saved.getSize()), rootType, parameters);
    TOLMAR_FUZZ_REQUIRE(reloaded.tree.isValid());
    TOLMAR_FUZZ_REQUIRE(reloaded.beatKey == decoded.beatKey);
    TOLMAR_FUZZ_REQUIRE(valuesOf(reloaded) == values);
    return 0;
}
