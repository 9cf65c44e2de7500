#pragma once

#include <juce_core/juce_core.h>

namespace halvex
{

/** XML from files, the clipboard or the host is untrusted. JUCE's parser expands DOCTYPE
    entities and, reading from a file, follows SYSTEM entities; it also recurses once per
    nesting level. Everything untrusted goes through here: documents with a DOCTYPE, deeper
    than any preset or bigger than any state are refused before the parser sees them. */
namespace SafeXml
{
    constexpr size_t maxBytes = 4 * 1024 * 1024;
    constexpr int maxDepth = 64;

    /** Null when the text is refused or does not parse. Any thread. */
    std::unique_ptr<juce::XmlElement> parse (const juce::String& text);

    /** Reads at most maxBytes; null for unreadable, oversized or refused files. */
    std::unique_ptr<juce::XmlElement> parseFile (const juce::File& file);

    /** The inverse of juce::AudioProcessor::copyXmlToBinary, with the limits above. */
    std::unique_ptr<juce::XmlElement> parseBinary (const void* data, size_t sizeInBytes);

    /** True when the text passes the structural checks: size, no DOCTYPE, nesting, one
        canonical UTF-8 encoding, only the predefined entities and character references,
        and no '<' inside a tag; JUCE's parser reads those differently from this scan. */
    bool isAcceptable (const juce::String& text);

    /** The number a text starts with, read as JUCE's getDoubleValue reads it (leading
        blanks, then the longest number; 0 when there is none; "nan" and "inf" too), but
        without its overflow on long exponents: "1e99999999999" is infinity, not whatever
        a wrapped int makes of it. Use it for numbers in untrusted documents. */
    double readNumber (juce::StringRef text) noexcept;

    /** The attribute read with readNumber, or the fallback when the element lacks it. */
    double getDoubleAttribute (const juce::XmlElement&, juce::StringRef name, double fallback = 0.0);
}

} // namespace halvex
