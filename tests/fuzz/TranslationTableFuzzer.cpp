// Translation tables in JUCE's text format, read the way the localisation manager installs
// them: a case-sensitive table with a case-insensitive copy as its fallback, product entries
// merged on top, then looked up.
#include "FuzzSupport.h"

namespace
{
fuzz::Environment* environment = nullptr;

/** Where JUCE 7.0.5's reader would look for the next quote of an entry, as it does. */
int findCloseQuote (const juce::String& line, int start)
{
    juce::juce_wchar last = 0;
    for (int i = start; i < line.length(); ++i)
    {
        if (line[i] == '"' && last != '\\')
            return i;
        last = line[i];
    }
    return line.length();
}

/** JUCE's reader runs past the end of a line that opens a key but has no quoted translation
    after it (it resumes its search beyond the terminator), and past the end of malformed
    UTF-8, which it steps over by the lead byte alone. The product only reads its compiled-in
    tables, whose lines LocalisationTests check entry by entry; tables like that are what
    this target explores. */
bool juceReadsWithinBounds (const uint8_t* data, size_t size, const juce::String& table)
{
    if (! juce::CharPointer_UTF8::isValidString (reinterpret_cast<const char*> (data), (int) size))
        return false;

    for (const auto& raw : juce::StringArray::fromLines (table))
    {
        const auto line = raw.trim();
        if (! line.startsWithChar ('"'))
            continue;

        const auto keyEnd = findCloseQuote (line, 1);
        if (keyEnd > 1 && (keyEnd >= line.length() || findCloseQuote (line, keyEnd + 1) >= line.length()))
            return false;
    }

    return true;
}
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    static fuzz::Environment instance;
    environment = &instance;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const auto table = juce::String::fromUTF8 (reinterpret_cast<const char*> (data), (int) size);

    if (! juceReadsWithinBounds (data, size, table))
        return -1; // not kept in the corpus

    auto mappings = std::make_unique<juce::LocalisedStrings> (table, false);
    mappings->setFallback (new juce::LocalisedStrings (table, true));

    // The product's entries merged into a copy, as the manager adds them.
    auto merged = std::make_unique<juce::LocalisedStrings> (*mappings);
    static const juce::LocalisedStrings framework (halvex::LocalisedStringsManager::getFrameworkTable ("fr"), false);
    merged->addStrings (framework);
    merged->addStrings (*mappings);

    const auto keys = mappings->getMappings().getAllKeys();

    for (int i = 0; i < juce::jmin (keys.size(), 16); ++i)
    {
        const auto& key = keys[i];
        const auto translated = mappings->translate (key);
        VELMORA_FUZZ_CHECK (merged->translate (key) == translated);
        // Another case finds the entry through the fallback.
        mappings->translate (key.toUpperCase());
        mappings->translate (key.toLowerCase(), "fallback");
    }

    mappings->translate ("Presets");
    mappings->translate (table);
    mappings->getLanguageName();
    mappings->getCountryCodes();

    juce::LocalisedStrings::setCurrentMappings (merged.release());
    juce::translate ("Cancel");
    juce::translate (table.substring (0, 64));
    return 0;
}
