#include "ProcessorFixture.h"

#include <gtest/gtest.h>

#include <random>

namespace {

juce::MemoryBlock saved(TolmarProcessor& processor)
{
    juce::MemoryBlock block;
    processor.getStateInformation(block);
    return block;
}

void load(TolmarProcessor& processor, const juce::MemoryBlock& block)
{
    processor.setStateInformation(block.getData(), static_cast<int>(block.getSize()));
}

juce::MemoryBlock blockFromXml(const juce::String& xmlText)
{
    juce::MemoryBlock block;
    const auto xml = juce::parseXML(xmlText);
    if (xml != nullptr)
        juce::AudioProcessor::copyXmlToBinary(*xml, block);
    return block;
}

const char* const parameterIds[] = {"effect", "root",   "bypass",     "language",
                                    "tuningSource", "wobble", "vocalStyle", "mastering", "live"};

} // namespace

TEST(State, HasTheFrameworkLayoutWithTheBeatKeyOnTheRoot)
{
    PreparedProcessor host;
    const auto block = saved(*host.processor);
    ASSERT_GE(block.getSize(), 9u);
    const auto* bytes = static_cast<const unsigned char*>(block.getData());
    EXPECT_EQ(bytes[0], 'V');
    EXPECT_EQ(bytes[1], 'C');
    EXPECT_EQ(bytes[2], '2');
    EXPECT_EQ(bytes[3], '!');
    const auto xml = juce::AudioProcessor::getXmlFromBinary(block.getData(), static_cast<int>(block.getSize()));
    ASSERT_NE(xml, nullptr);
    EXPECT_EQ(xml->getTagName(), "TolmarVoz");
    EXPECT_EQ(xml->getIntAttribute("beatKey", 99), -1);
    EXPECT_EQ(xml->getNumChildElements(), 9);
}

TEST(State, RoundTripsAllParametersAndTheFoundKey)
{
    PreparedProcessor source;
    const float values[] = {2, 9, 1, 27, 0, 1, 3, 1, 1};
    for (int i = 0; i < 9; ++i)
        source.set(parameterIds[i], values[i]);
    load(*source.processor, blockFromXml("<TolmarVoz beatKey=\"21\"/>"));
    // That partial state also reset the five newer parameters to 0; set them again.
    for (int i = 4; i < 9; ++i)
        source.set(parameterIds[i], values[i]);
    const auto block = saved(*source.processor);

    PreparedProcessor target;
    load(*target.processor, block);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(target.raw(parameterIds[i]), values[i]) << parameterIds[i];
    EXPECT_EQ(target.processor->beatKey.load(), 21);

    juce::AudioBuffer<float> buffer(target.totalChannels(), 128);
    buffer.clear();
    target.run(buffer);
    EXPECT_EQ(target.processor->beatKey.load(), 21);
    EXPECT_EQ(target.processor->beatStage.load(), 3);
    EXPECT_EQ(target.processor->beatProgress.load(), 0.0f);
}

TEST(State, ValidatesTheSavedKey)
{
    struct Case {
        const char* attribute; // nullptr: absent
        int expected;
    };
    const Case cases[] = {{"-1", -1},  {nullptr, -1},       {"24", -1},          {"-5", -1},
                          {"0", 0},    {"23", 23},          {"abc", 0},          {"7x", 7},
                          {" 12", 12}, {"99999999999", -1}, {"-2147483648", -1}, {"4294967299", -1}};
    for (const auto& c : cases) {
        PreparedProcessor host;
        host.processor->beatKey.store(5);
        juce::String xml = "<TolmarVoz";
        if (c.attribute != nullptr)
            xml << " beatKey=\"" << c.attribute << "\"";
        xml << "><PARAM id=\"effect\" value=\"2\"/></TolmarVoz>";
        load(*host.processor, blockFromXml(xml));
        EXPECT_EQ(host.processor->beatKey.load(), c.expected) << (c.attribute ? c.attribute : "absent");
        // Saving before any block stores the pending request.
        const auto again = juce::AudioProcessor::getXmlFromBinary(saved(*host.processor).getData(),
                                                                  static_cast<int>(saved(*host.processor).getSize()));
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again->getIntAttribute("beatKey"), c.expected);
    }
}

TEST(State, OlderStatesLoadTheNewerParametersAtZeroAndKeepWhatIsMissing)
{
    PreparedProcessor host;
    host.set("language", 12.0f);
    host.set("tuningSource", 1.0f);
    host.set("wobble", 1.0f);
    host.set("live", 1.0f);
    load(*host.processor, blockFromXml("<TolmarVoz beatKey=\"3\"><PARAM id=\"effect\" value=\"1\"/>"
                                       "<PARAM id=\"root\" value=\"4\"/><UNKNOWN x=\"1\"/></TolmarVoz>"));
    EXPECT_EQ(host.raw("effect"), 1.0f);
    EXPECT_EQ(host.raw("root"), 4.0f);
    EXPECT_EQ(host.raw("tuningSource"), 0.0f); // not the default 1
    EXPECT_EQ(host.raw("wobble"), 0.0f);
    EXPECT_EQ(host.raw("vocalStyle"), 0.0f);
    EXPECT_EQ(host.raw("mastering"), 0.0f);
    EXPECT_EQ(host.raw("live"), 0.0f);
    EXPECT_EQ(host.raw("language"), 12.0f); // absent: keeps its value
}

TEST(State, AParameterNamedWithoutAValueTakesItsDefault)
{
    PreparedProcessor host;
    host.set("tuningSource", 0.0f);
    host.set("root", 7.0f);
    host.set("effect", 1.0f); // neither the default nor what a NaN would turn into
    load(*host.processor, blockFromXml("<TolmarVoz><PARAM id=\"tuningSource\"/><PARAM id=\"root\"/>"
                                       "<PARAM id=\"effect\" value=\"nan\"/></TolmarVoz>"));
    EXPECT_EQ(host.raw("tuningSource"), 1.0f); // its default, "Beat sidechain"
    EXPECT_EQ(host.raw("root"), 0.0f);
    EXPECT_EQ(host.raw("effect"), 1.0f); // not a number: keeps its value
}

TEST(State, ReadsNumbersItselfAndKeepsTheValueForTextThatIsNoUsableNumber)
{
    struct Case {
        const char* text;
        float expected; // for "root", which is 7 before loading
    };
    const Case cases[] = {
        {"5.0", 5.0f},
        {"4e0", 4.0f},
        {"+3", 3.0f},
        {"  9", 9.0f},
        {"6abc", 6.0f},  // the number in front, as the framework reads it
        {"2E+0x", 2.0f}, // an exponent with what follows ignored
        {"1e1", 10.0f},
        {"-0", 0.0f},
        {"1e400", 7.0f}, // beyond a double
        {"abc", 7.0f},   // no number at all
        {".", 7.0f},
        {"066666666666E6666666666666?6666666.0", 7.0f}, // an exponent beyond any int
        {"00000000000000000000000000000000000000000000000000000000000000000000000005", 7.0f}, // longer than any save
    };
    for (const auto& c : cases) {
        PreparedProcessor host;
        host.set("root", 7.0f);
        load(*host.processor,
             blockFromXml(juce::String("<TolmarVoz><PARAM id=\"root\" value=\"") + c.text + "\"/></TolmarVoz>"));
        EXPECT_EQ(host.raw("root"), c.expected) << c.text;
    }
}

TEST(State, ClampsOutOfRangeValuesAndAcceptsTheRootTagInAnyCase)
{
    PreparedProcessor host;
    load(*host.processor, blockFromXml("<tolmarvoz beatKey=\"2\"><PARAM id=\"effect\" value=\"40\"/>"
                                       "<PARAM id=\"root\" value=\"-3\"/><PARAM id=\"language\" value=\"900\"/>"
                                       "</tolmarvoz>"));
    EXPECT_EQ(host.raw("effect"), 2.0f);
    EXPECT_EQ(host.raw("root"), 0.0f);
    EXPECT_EQ(host.raw("language"), 175.0f);
    EXPECT_EQ(host.processor->beatKey.load(), 2);
}

TEST(State, IgnoresBlocksThatAreNotOurs)
{
    PreparedProcessor host;
    host.set("effect", 1.0f);
    host.set("language", 5.0f);
    const auto before = saved(*host.processor);

    std::mt19937 random(42);
    std::vector<juce::MemoryBlock> blocks;
    blocks.emplace_back();                                            // empty
    blocks.push_back(blockFromXml("<OtherPlugin beatKey=\"4\"/>"));   // another plug-in's state
    juce::MemoryBlock noise(300);
    for (std::size_t i = 0; i < noise.getSize(); ++i)
        noise[i] = static_cast<char>(random());
    blocks.push_back(noise);
    juce::MemoryBlock truncated(before.getData(), before.getSize() / 2); // cut inside the XML
    blocks.push_back(truncated);
    juce::MemoryBlock headerOnly(before.getData(), 8);
    blocks.push_back(headerOnly);

    for (const auto& block : blocks) {
        host.processor->setStateInformation(block.getData(), static_cast<int>(block.getSize()));
        EXPECT_EQ(saved(*host.processor), before);
        EXPECT_EQ(host.processor->beatKey.load(), -1);
    }
    host.processor->setStateInformation(nullptr, 100);
    EXPECT_EQ(saved(*host.processor), before);
}

TEST(State, SavingWhileAReanalysisIsPendingStoresNoKey)
{
    PreparedProcessor host;
    load(*host.processor, blockFromXml("<TolmarVoz beatKey=\"9\"/>"));
    juce::AudioBuffer<float> buffer(host.totalChannels(), 64);
    buffer.clear();
    host.run(buffer);
    EXPECT_EQ(host.processor->beatKey.load(), 9);
    host.processor->reanalyzeBeat();
    const auto block = saved(*host.processor);
    const auto xml = juce::AudioProcessor::getXmlFromBinary(block.getData(), static_cast<int>(block.getSize()));
    ASSERT_NE(xml, nullptr);
    EXPECT_EQ(xml->getIntAttribute("beatKey"), -1);
}
