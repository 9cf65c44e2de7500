#include "SafeXml.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string_view>

namespace halvex::SafeXml
{
namespace
{
    // JUCE's parser decodes the character under its cursor but steps past a multi-byte
    // sequence by its first byte alone. On malformed or overlong UTF-8 the two disagree and
    // the parser meets '<' and '/' that a scan of the bytes never sees, so only text in the
    // one canonical encoding goes on.
    bool isCanonicalUtf8 (const juce::String& text)
    {
        for (auto p = text.getCharPointer(); ! p.isEmpty();)
        {
            const auto* start = p.getAddress();

            if ((signed char) *start >= 0)
            {
                ++p;
                continue;
            }

            const auto c = p.getAndAdvance();
            const auto length = (size_t) (p.getAddress() - start);

            char canonical[8] = {};
            juce::CharPointer_UTF8 (canonical).write (c);

            if (c == 0 || juce::CharPointer_UTF8::getBytesRequiredFor (c) != length
                || std::memcmp (canonical, start, length) != 0)
                return false;
        }

        return true;
    }

    // Without a DTD only the predefined entities and character references mean anything.
    // The parser reads any other "&...;" up to the next ';' whatever it holds, and parses it
    // as elements when it starts with '<': it would skip, or add, what this scan counts.
    bool isKnownReference (const char* text, size_t length, size_t at)
    {
        const auto* p = text + at + 1;
        const auto rest = length - at - 1;

        for (const auto* name : { "amp;", "lt;", "gt;", "quot;", "apos;" })
            if (const auto n = std::strlen (name); rest >= n && std::memcmp (p, name, n) == 0)
                return true;

        if (rest < 3 || p[0] != '#')
            return false;

        const bool hex = p[1] == 'x';
        size_t digits = 0;

        for (size_t k = hex ? 2 : 1; k < rest; ++k, ++digits)
        {
            if (p[k] == ';')
                return digits > 0;

            if (! (hex ? juce::CharacterFunctions::getHexDigitValue ((juce::juce_wchar) p[k]) >= 0
                       : (p[k] >= '0' && p[k] <= '9')))
                return false;
        }

        return false;
    }

    // Inside an element JUCE's parser skips a processing instruction like white space, then,
    // finding text, rolls back to before it and stops at its '<' again: text after one loops
    // for ever. Only markup may follow one there, past white space, comments and others.
    bool isFollowedByMarkup (const char* text, size_t length, size_t i)
    {
        while (i < length)
        {
            const char c = text[i];

            if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            {
                ++i;
                continue;
            }

            if (c != '<')
                return false;

            // Searched for from where the parser starts looking.
            const bool comment = length - i >= 4 && std::memcmp (text + i, "<!--", 4) == 0;
            if (! comment && ! (length - i >= 2 && text[i + 1] == '?'))
                return true;

            const std::string_view terminator = comment ? "-->" : "?>";
            const auto* end = std::search (text + i + (comment ? 4 : 2), text + length, terminator.begin(), terminator.end());
            if (end == text + length)
                return true; // unterminated: the parser stops there

            i = (size_t) (end - text) + terminator.size();
        }

        return true;
    }

    // Scans tags the way the parser will meet them: quoted attribute values may hold '>',
    // comments, CDATA and processing instructions do not nest. Anything the parser would read
    // differently ('<' inside a tag, unknown references) is refused rather than second-guessed.
    bool structureIsAcceptable (const char* text, size_t length)
    {
        int depth = 0;
        size_t i = 0;

        auto skipPast = [&] (const char* terminator)
        {
            const auto termLength = std::strlen (terminator);
            while (i + termLength <= length)
            {
                if (std::memcmp (text + i, terminator, termLength) == 0)
                {
                    i += termLength;
                    return true;
                }
                ++i;
            }
            i = length;
            return false;
        };

        while (i < length)
        {
            if (text[i] != '<')
            {
                if (text[i] == '&' && ! isKnownReference (text, length, i))
                    return false;

                ++i;
                continue;
            }

            const auto rest = length - i;

            if (rest >= 4 && std::memcmp (text + i, "<!--", 4) == 0)  { i += 4; skipPast ("-->"); continue; }
            if (rest >= 9 && std::memcmp (text + i, "<![CDATA[", 9) == 0) { i += 9; skipPast ("]]>"); continue; }
            if (rest >= 2 && text[i + 1] == '?')
            {
                i += 2;
                if (skipPast ("?>") && depth > 0 && ! isFollowedByMarkup (text, length, i))
                    return false;
                continue;
            }

            if (rest >= 2 && text[i + 1] == '!')
            {
                // DOCTYPE and any other declaration: the only way to entities and external files.
                return false;
            }

            if (rest >= 2 && text[i + 1] == '/')
            {
                --depth;
                i += 2;
                skipPast (">");
                continue;
            }

            // An opening tag: find its end outside quotes, note whether it closes itself.
            ++i;
            char quote = 0;
            bool selfClosing = false;

            while (i < length)
            {
                const char c = text[i++];

                // The parser skips comments inside a tag and ends a tag at a stray quote; no
                // document of ours has either, nor a '<' in an attribute value.
                if (c == '<' || (c == '&' && ! isKnownReference (text, length, i - 1)))
                    return false;

                if (quote != 0)
                {
                    if (c == quote)
                        quote = 0;
                }
                else if (c == '"' || c == '\'')
                {
                    quote = c;
                }
                else if (c == '>')
                {
                    selfClosing = i >= 2 && text[i - 2] == '/';
                    break;
                }
            }

            if (! selfClosing && ++depth > maxDepth)
                return false;
        }

        return true;
    }
} // namespace

bool isAcceptable (const juce::String& text)
{
    const auto utf8 = text.toRawUTF8();
    const auto length = text.getNumBytesAsUTF8();
    return length <= maxBytes && isCanonicalUtf8 (text) && structureIsAcceptable (utf8, length);
}

std::unique_ptr<juce::XmlElement> parse (const juce::String& text)
{
    if (text.isEmpty() || ! isAcceptable (text))
        return {};

    // JUCE's parser hands back an element for text cut off inside its opening tag; a
    // document that was cut short is refused, not half read.
    if (! text.trimEnd().endsWithChar ('>'))
        return {};

    juce::XmlDocument document (text);
    auto element = document.getDocumentElement();
    return document.getLastParseError().isEmpty() ? std::move (element) : nullptr;
}

std::unique_ptr<juce::XmlElement> parseFile (const juce::File& file)
{
    // Only regular files: opening a FIFO named like a preset would block the caller for good.
    std::error_code error;
    if (! std::filesystem::is_regular_file (file.getFullPathName().toStdString(), error))
        return {};

    // Reads through a bounded buffer rather than trusting the reported size: a device file
    // reports 0 and never ends.
    juce::FileInputStream in (file);

    if (! in.openedOk())
        return {};

    juce::MemoryBlock bytes;

    if (in.readIntoMemoryBlock (bytes, (juce::int64) maxBytes + 1) > maxBytes)
        return {};

    return parse (juce::String::createStringFromData (bytes.getData(), (int) bytes.getSize()));
}

std::unique_ptr<juce::XmlElement> parseBinary (const void* data, size_t sizeInBytes)
{
    constexpr juce::uint32 magicXmlNumber = 0x21324356;

    if (data == nullptr || sizeInBytes <= 8 || sizeInBytes > maxBytes + 9)
        return {};

    if (juce::ByteOrder::littleEndianInt (data) != magicXmlNumber)
        return {};

    const auto declared = (size_t) juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data, 4));
    const auto available = std::min (sizeInBytes - 8, declared);
    auto* text = static_cast<const char*> (data) + 8;

    // The writer appends a terminating zero; the text ends at the first one.
    const auto* end = static_cast<const char*> (std::memchr (text, 0, available));
    const auto length = end != nullptr ? (size_t) (end - text) : available;

    if (length == 0)
        return {};

    return parse (juce::String::fromUTF8 (text, (int) length));
}

double readNumber (juce::StringRef text) noexcept
{
    const char* p = text.text.getAddress();
    const char* const end = p + std::strlen (p);

    while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r')))
        ++p;
    if (p < end && *p == '+' && p + 1 < end && *(p + 1) != '-')
        ++p; // from_chars takes no plus sign

    double value = 0.0;
    const auto [stop, error] = std::from_chars (p, end, value);

    if (error == std::errc())
        return value;

    if (error == std::errc::result_out_of_range)
    {
        // Too big or too small for a double: the sign of the exponent tells which.
        const bool negative = *p == '-';
        const auto* e = std::find_if (p, stop, [] (char c) { return c == 'e' || c == 'E'; });
        const bool tiny = e + 1 < stop && *(e + 1) == '-';
        const auto magnitude = tiny ? 0.0 : HUGE_VAL;
        return negative ? -magnitude : magnitude;
    }

    return 0.0;
}

double getDoubleAttribute (const juce::XmlElement& element, juce::StringRef name, double fallback)
{
    return element.hasAttribute (name) ? readNumber (element.getStringAttribute (name)) : fallback;
}

} // namespace halvex::SafeXml
