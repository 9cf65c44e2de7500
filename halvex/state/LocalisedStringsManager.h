#pragma once

#include <juce_data_structures/juce_data_structures.h>

namespace halvex
{

/** Chooses the interface language once per processor and installs the framework's
    translation table as JUCE's process-wide current mappings (a case-insensitive copy as
    the fallback); the product adds its own entries on top. The tables are compiled in.
    Message thread. */
class LocalisedStringsManager
{
public:
    explicit LocalisedStringsManager (juce::PropertiesFile* globalPreferences) : preferences (globalPreferences) {}
    virtual ~LocalisedStringsManager() = default;

    /** The product's entries for a language; ignores codes it has no table for. */
    virtual void addProductStrings (const juce::String& /*languageCode*/) {}

    /** The stored choice, else the system's language, else English: false when it fell back. */
    bool initialise();
    /** False (and nothing installed) for a code without tables. */
    bool setLanguage (const juce::String& languageCode);
    const juce::String& getLanguage() const noexcept { return language; }

    static const juce::StringArray& getLanguageCodes();
    /** The framework table of a language, as compiled in; empty for unknown codes. */
    static juce::String getFrameworkTable (const juce::String& languageCode);
    /** Maps what a system reports ("fr", "fre", or on Linux the language's name) to a code. */
    static juce::String mapSystemLanguage (const juce::String& reported);

protected:
    /** The user's first preferred language as the system reports it (seam for tests). */
    virtual juce::String getSystemLanguage() const;

    /** Copies every entry of a table into the current mappings, replacing equal keys. */
    static void addToCurrentMappings (const juce::String& tableText);

private:
    juce::PropertiesFile* preferences;
    juce::String language;
};

} // namespace halvex
