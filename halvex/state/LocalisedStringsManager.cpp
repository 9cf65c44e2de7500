#include "LocalisedStringsManager.h"

#include "HalvexTranslations.h"

namespace halvex
{

const juce::StringArray& LocalisedStringsManager::getLanguageCodes()
{
    static const juce::StringArray codes { "en", "fr", "es", "pt" };
    return codes;
}

juce::String LocalisedStringsManager::getFrameworkTable (const juce::String& code)
{
    if (! getLanguageCodes().contains (code))
        return {};

    int size = 0;
    const auto* data = HalvexTranslations::getNamedResource ((code + "_txt").toRawUTF8(), size);
    return data != nullptr ? juce::String::fromUTF8 (data, size) : juce::String();
}

bool LocalisedStringsManager::setLanguage (const juce::String& code)
{
    if (! getLanguageCodes().contains (code))
    {
        addProductStrings (code);
        return false;
    }

    language = code;

    const auto table = getFrameworkTable (code);
    auto mappings = std::make_unique<juce::LocalisedStrings> (table, false);
    mappings->setFallback (new juce::LocalisedStrings (table, true));
    juce::LocalisedStrings::setCurrentMappings (mappings.release()); // JUCE swaps under its spin lock

    if (preferences != nullptr)
        preferences->setValue ("language", code);

    addProductStrings (code);
    return true;
}

juce::String LocalisedStringsManager::mapSystemLanguage (const juce::String& reported)
{
    const auto candidate = reported.upToFirstOccurrenceOf ("-", false, false).trim().toLowerCase();

    // Codes as most systems give them; on Linux JUCE reports the locale's language name.
    const std::pair<const char*, const char*> aliases[] {
        { "en", "en" }, { "eng", "en" }, { "english", "en" },
        { "fr", "fr" }, { "fre", "fr" }, { "french", "fr" },
        { "es", "es" }, { "spa", "es" }, { "spanish", "es" },
        { "pt", "pt" }, { "por", "pt" }, { "portuguese", "pt" },
    };

    for (const auto& [alias, code] : aliases)
        if (candidate == alias)
            return code;

    return {};
}

bool LocalisedStringsManager::initialise()
{
    const auto stored = preferences != nullptr ? preferences->getValue ("language") : juce::String();

    if (stored.isNotEmpty() && setLanguage (stored))
        return true;

    const auto code = mapSystemLanguage (getSystemLanguage());

    if (code.isEmpty())
    {
        setLanguage ("en");
        return false;
    }

    return setLanguage (code);
}

juce::String LocalisedStringsManager::getSystemLanguage() const
{
    return juce::SystemStats::getDisplayLanguage();
}

void LocalisedStringsManager::addToCurrentMappings (const juce::String& tableText)
{
    const juce::LocalisedStrings additions (tableText, false);

    // A merged copy replaces the installed mappings, so a lookup never sees a half-filled table.
    auto* current = juce::LocalisedStrings::getCurrentMappings();
    auto merged = current != nullptr ? std::make_unique<juce::LocalisedStrings> (*current)
                                     : std::make_unique<juce::LocalisedStrings> (juce::String(), false);
    merged->addStrings (additions);
    juce::LocalisedStrings::setCurrentMappings (merged.release());
}

} // namespace halvex
