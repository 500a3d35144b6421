#include "plugin/SavedState.h"

#include "dsp/Key.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr std::uint32_t xmlMagic = 0x21324356; // "VC2!"

// Checks that a saved state's text has the shape the framework writes: an optional XML declaration, then one
// element of nested elements with quoted attributes, and nothing else (no text, comments, declarations or
// processing instructions). The framework's parser never returns from some malformed elements (an
// unexpected character among the attributes, for one), so only text of this shape reaches it.
class StateShape {
public:
    explicit StateShape(std::string_view textToCheck) : text(textToCheck) {}

    bool check()
    {
        skipSpace();
        if (text.substr(at, 5) == "<?xml") {
            const auto end = text.find("?>", at);
            if (end == std::string_view::npos || text.substr(at, end - at).find('<', 1) != std::string_view::npos)
                return false;
            at = end + 2;
            skipSpace();
        }
        if (!element(0))
            return false;
        skipSpace();
        return at == text.size();
    }

private:
    static constexpr int maximumDepth = 16;

    static bool isNameChar(char c)
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'
               || c == ':' || c == '.';
    }
    char peek(std::size_t offset = 0) const { return at + offset < text.size() ? text[at + offset] : '\0'; }
    void skipSpace()
    {
        while (peek() == ' ' || peek() == '\t' || peek() == '\r' || peek() == '\n')
            ++at;
    }
    std::string_view name()
    {
        const auto start = at;
        while (isNameChar(peek()))
            ++at;
        return text.substr(start, at - start);
    }
    bool entity()
    {
        for (const std::string_view known : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"})
            if (text.substr(at, known.size()) == known) {
                at += known.size();
                return true;
            }
        if (peek(1) != '#')
            return false;
        at += 2;
        const bool hex = peek() == 'x';
        at += hex ? 1 : 0;
        const auto start = at;
        while (std::isxdigit(static_cast<unsigned char>(peek())) && (hex || std::isdigit(static_cast<unsigned char>(peek()))))
            ++at;
        if (at == start || at - start > 8 || peek() != ';')
            return false;
        ++at;
        return true;
    }
    bool attribute()
    {
        if (name().empty())
            return false;
        skipSpace();
        if (peek() != '=')
            return false;
        ++at;
        skipSpace();
        const char quote = peek();
        if (quote != '"' && quote != '\'')
            return false;
        ++at;
        while (peek() != quote) {
            if (peek() == '\0' || peek() == '<')
                return false;
            if (peek() == '&') {
                if (!entity())
                    return false;
            } else {
                ++at;
            }
        }
        ++at;
        return peek() == ' ' || peek() == '\t' || peek() == '\r' || peek() == '\n' || peek() == '/' || peek() == '>';
    }
    bool element(int depth)
    {
        if (depth > maximumDepth || peek() != '<')
            return false;
        ++at;
        const auto tag = name();
        if (tag.empty())
            return false;
        for (;;) {
            skipSpace();
            if (peek() == '/' && peek(1) == '>') {
                at += 2;
                return true;
            }
            if (peek() == '>')
                break;
            if (!attribute())
                return false;
        }
        ++at;
        for (;;) {
            skipSpace();
            if (peek() == '<' && peek(1) == '/') {
                at += 2;
                if (name() != tag)
                    return false;
                skipSpace();
                if (peek() != '>')
                    return false;
                ++at;
                return true;
            }
            if (!element(depth + 1))
                return false;
        }
    }

    std::string_view text;
    std::size_t at = 0;
};

std::unique_ptr<juce::XmlElement> parseBinaryXml(const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 8 || juce::ByteOrder::littleEndianInt(data) != xmlMagic)
        return nullptr;
    const auto declared = static_cast<int>(juce::ByteOrder::littleEndianInt(static_cast<const char*>(data) + 4));
    if (declared <= 0)
        return nullptr;
    const int length = std::min(sizeInBytes - 8, declared);

    // The framework's UTF-8 code trusts a lead byte's count of continuation bytes: malformed text makes the
    // string conversion read past the host's buffer and the XML parser past the end of the string. A saved
    // state is always well-formed, so malformed text is refused; the check runs on a zero-padded copy because
    // it too reads a character to its end.
    juce::MemoryBlock text(static_cast<std::size_t>(length) + 4, true);
    std::memcpy(text.getData(), static_cast<const char*>(data) + 8, static_cast<std::size_t>(length));
    const auto* characters = static_cast<const char*>(text.getData());
    if (!juce::CharPointer_UTF8::isValidString(characters, length))
        return nullptr;
    // The text ends at the first zero byte, as the framework reads it.
    if (!StateShape(std::string_view(characters, std::strlen(characters))).check())
        return nullptr;
    return juce::parseXML(juce::String::fromUTF8(characters, length));
}

// As ValueTree::fromXml, except that an attribute repeated in the root or a parameter element keeps its last
// value, the one a save writes: otherwise the loaded value (the first) and the saved one would differ.
juce::ValueTree treeFrom(const juce::XmlElement& xml, bool childrenToo)
{
    juce::ValueTree tree(xml.getTagName());
    for (int i = 0; i < xml.getNumAttributes(); ++i)
        tree.setProperty(xml.getAttributeName(i), xml.getAttributeValue(i), nullptr);
    for (const auto* child : xml.getChildIterator())
        if (!child->isTextElement())
            tree.appendChild(childrenToo ? treeFrom(*child, false) : juce::ValueTree::fromXml(*child), nullptr);
    return tree;
}

// Numbers in a state are read here, never by the framework: its string-to-number code overflows a signed
// exponent on long digit runs, and a project file is untrusted input. The framework writes at most a couple
// of dozen characters per number; longer numbers are not from a save.
constexpr std::size_t longestNumber = 64;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string_view withoutLeadingSpace(std::string_view text)
{
    while (!text.empty() &&
           (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' || text.front() == '\n'))
        text.remove_prefix(1);
    return text;
}

std::size_t digitsAt(std::string_view text, std::size_t at)
{
    std::size_t count = 0;
    while (at + count < text.size() && isDigit(text[at + count]))
        ++count;
    return count;
}

// The decimal number at the front of `text` (spaces, sign, digits, fraction, exponent; what follows is
// ignored, as the framework reads it). Nothing when the text does not begin with one, when it is longer
// than a saved number can be, or when it lies outside the range of a double.
std::optional<double> leadingNumber(std::string_view text)
{
    text = withoutLeadingSpace(text);
    std::size_t end = text.empty() || (text.front() != '-' && text.front() != '+') ? 0 : 1;
    const std::size_t sign = end;
    std::size_t mantissaDigits = digitsAt(text, end);
    end += mantissaDigits;
    if (end < text.size() && text[end] == '.') {
        const auto fraction = digitsAt(text, end + 1);
        mantissaDigits += fraction;
        end += 1 + fraction;
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
        const std::size_t exponentSign =
            end + 1 < text.size() && (text[end + 1] == '-' || text[end + 1] == '+') ? 1 : 0;
        const auto exponentDigits = digitsAt(text, end + 1 + exponentSign);
        if (exponentDigits > 0)
            end += 1 + exponentSign + exponentDigits;
    }
    if (end > longestNumber)
        return std::nullopt;

    // from_chars takes no plus sign and ignores the locale.
    const std::size_t first = sign == 1 && text.front() == '+' ? 1 : 0;
    double value = 0.0;
    const auto [stop, error] = std::from_chars(text.data() + first, text.data() + end, value);
    if (error != std::errc() || stop != text.data() + end)
        return std::nullopt;
    return value;
}

// The whole number at the front of `text`, 0 when it does not begin with one (as the framework reads an
// integer attribute); nothing when it has more digits than an int holds.
std::optional<int> leadingInteger(std::string_view text)
{
    text = withoutLeadingSpace(text);
    const bool negative = !text.empty() && text.front() == '-';
    const auto digits = digitsAt(text, negative ? 1 : 0);
    if (digits == 0)
        return 0;
    if (digits > 9)
        return std::nullopt;
    int value = 0;
    std::from_chars(text.data() + (negative ? 1 : 0), text.data() + (negative ? 1 : 0) + digits, value);
    return negative ? -value : value;
}

std::string_view textOf(const juce::var& value, std::string& storage)
{
    storage = value.toString().toStdString();
    return storage;
}

void setValue(juce::ValueTree& tree, const juce::String& id, float value)
{
    juce::ValueTree child("PARAM");
    child.setProperty("id", id, nullptr);
    child.setProperty("value", value, nullptr);
    tree.appendChild(child, nullptr);
}

} // namespace

DecodedState decodeSavedState(const void* data, int sizeInBytes, const juce::Identifier& rootType,
                              const std::vector<SavedParameter>& parameters)
{
    const auto xml = parseBinaryXml(data, sizeInBytes);
    if (xml == nullptr || !xml->hasTagName(rootType.toString()))
        return {};
    DecodedState decoded;
    decoded.tree = treeFrom(*xml, true);
    if (!decoded.tree.isValid())
        return {};

    std::string text;
    for (const auto& parameter : parameters) {
        bool mentioned = false;
        for (auto child : decoded.tree) {
            if (child.getProperty("id").toString() != parameter.id)
                continue;
            mentioned = true;
            const auto value = child.hasProperty("value") ? leadingNumber(textOf(child.getProperty("value"), text))
                                                          : std::optional<double>(parameter.defaultValue);
            // A value that is not a finite number would reach the host as a NaN or infinite parameter.
            const double safe = value.has_value() && std::isfinite(*value)
                                    ? juce::jlimit(static_cast<double>(parameter.minimum),
                                                   static_cast<double>(parameter.maximum), *value)
                                    : static_cast<double>(parameter.current);
            // Stored as a number, so that the parameter state never parses the text itself, and as the float
            // a parameter holds, so that saving it and reading it back gives the same value.
            child.setProperty("value", static_cast<double>(static_cast<float>(safe)), nullptr);
        }
        if (!mentioned)
            setValue(decoded.tree, parameter.id, parameter.zeroWhenMissing ? 0.0f : parameter.current);
    }

    const auto key = decoded.tree.hasProperty("beatKey")
                         ? leadingInteger(textOf(decoded.tree.getProperty("beatKey"), text))
                         : std::optional<int>(tolmar::noKey);
    decoded.beatKey = key.has_value() && tolmar::isKey(*key) ? *key : tolmar::noKey;
    return decoded;
}
