// The compiled-in translation tables and the language choice.
#include "StateTestSupport.h"
#include "halvex/state/LocalisedStringsManager.h"

#include <regex>

namespace
{
using Manager = VelmoraLocalisedStringsManager;

/** Entries as the table text spells them: key and translation, escapes undone. */
std::map<juce::String, juce::String> readEntries (const juce::String& table, int& badLines)
{
    static const std::regex entry (R"re(^"((?:[^"\\]|\\.)*)"\s*=\s*"((?:[^"\\]|\\.)*)"$)re");
    std::map<juce::String, juce::String> entries;
    badLines = 0;

    auto unescape = [] (const std::string& s)
    {
        return juce::String::fromUTF8 (s.c_str()).replace ("\\\"", "\"").replace ("\\'", "'").replace ("\\n", "\n");
    };

    for (const auto& raw : juce::StringArray::fromLines (table))
    {
        const auto line = raw.trim();
        if (! line.startsWithChar ('"'))
            continue;

        std::smatch m;
        const auto text = line.toStdString();
        if (std::regex_match (text, m, entry))
            entries[unescape (m[1])] = unescape (m[2]);
        else
            ++badLines;
    }

    return entries;
}

juce::StringArray placeholders (const juce::String& text)
{
    juce::StringArray found;
    for (int start = text.indexOfChar ('%'); start >= 0;)
    {
        const auto end = text.indexOfChar (start + 1, '%');
        if (end < 0)
            break;
        found.add (text.substring (start, end + 1));
        start = text.indexOfChar (end + 1, '%');
    }
    return found;
}

TEST (TranslationTables, EveryLanguageParsesAndCoversTheEnglishKeys)
{
    int bad = 0;
    const auto english = readEntries (halvex::LocalisedStringsManager::getFrameworkTable ("en"), bad);
    ASSERT_EQ (bad, 0);
    ASSERT_EQ (english.size(), 284u);

    // Keys only the English table has: two English-only options and the two-line notice.
    const juce::String twoLineNotice ("Please select an existing one if any, or create\n a new one with the \"new bank\" button.");
    const juce::StringArray englishOnly { "Hide TapTempo buttons", "Display sync delay times as:", twoLineNotice };

    for (const auto& code : halvex::LocalisedStringsManager::getLanguageCodes())
    {
        SCOPED_TRACE (code);

        for (const auto& table : { halvex::LocalisedStringsManager::getFrameworkTable (code), Manager::getProductTable (code) })
        {
            ASSERT_TRUE (table.isNotEmpty());
            EXPECT_TRUE (table.startsWith ("language: ["));

            const auto entries = readEntries (table, bad);
            EXPECT_EQ (bad, 0);

            // JUCE's own parser reads the same entries, with the same texts.
            const juce::LocalisedStrings parsed (table, false);
            EXPECT_EQ ((size_t) parsed.getMappings().size(), entries.size());

            for (const auto& [key, text] : entries)
            {
                EXPECT_EQ (parsed.translate (key), text) << key;
                EXPECT_EQ (placeholders (key), placeholders (text)) << key;
                EXPECT_EQ (key.contains ("**"), text.contains ("**")) << key;
            }
        }

        const auto entries = readEntries (halvex::LocalisedStringsManager::getFrameworkTable (code), bad);
        for (const auto& [key, text] : english)
        {
            if (code == "en" || ! englishOnly.contains (key))
            {
                EXPECT_EQ (entries.count (key), 1u) << "missing: " << key;
            }
        }
    }

    EXPECT_EQ (english.at ("Delete Preset"), "Delete");
    EXPECT_EQ (english.at (twoLineNotice), "Please select an existing one if any, or create a new one with the \"new bank\" button.");
    EXPECT_EQ (english.at ("Resonator's gain"), "Resonator's gain");
}

class Localisation : public StateTest
{
protected:
    struct Probe : Manager
    {
        juce::String system;
        Probe (juce::PropertiesFile* prefs, juce::String systemLanguage) : Manager (prefs), system (std::move (systemLanguage)) {}
        juce::String getSystemLanguage() const override { return system; }
        using Manager::addToCurrentMappings;
    };

    std::unique_ptr<juce::PropertiesFile> prefs = std::make_unique<juce::PropertiesFile> (
        folders.getRoot().getChildFile ("prefs.settings"), juce::PropertiesFile::Options());

    void TearDown() override { Probe (nullptr, "en").setLanguage ("en"); }
};

TEST_F (Localisation, ChoosesStoredThenSystemThenEnglish)
{
    struct Case
    {
        const char* stored;
        const char* system;
        const char* language;
        bool result;
    };
    const Case cases[] {
        { "", "fr-CA", "fr", true },
        { "", "French-France", "fr", true }, // what JUCE reports from a Linux locale
        { "", "spa", "es", true },
        { "pt", "fr-FR", "pt", true },
        { "xx", "es-MX", "es", true },
        { "", "de-DE", "en", false },
        { "", "", "en", false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.stored) + " / " + c.system);
        prefs->setValue ("language", c.stored);
        Probe manager (prefs.get(), c.system);
        EXPECT_EQ (manager.initialise(), c.result);
        EXPECT_EQ (manager.getLanguage(), c.language);
        EXPECT_EQ (prefs->getValue ("language"), c.language); // the fall-back is stored too
    }
}

TEST_F (Localisation, LooksUpExactThenIgnoringCaseThenLeavesTheText)
{
    Probe manager (prefs.get(), "fr");
    ASSERT_TRUE (manager.initialise());

    const auto save = TRANS ("Save");
    EXPECT_NE (save, "Save");
    EXPECT_EQ (TRANS ("SAVE"), TRANS ("save")) << "found through the case-insensitive fallback";
    EXPECT_NE (TRANS ("SAVE"), "SAVE");
    EXPECT_EQ (TRANS ("Adjusts the speed of the chorus effect"), "Adjusts the speed of the chorus effect");
    EXPECT_EQ (TRANS ("no such text anywhere"), "no such text anywhere");

    // Product entries win over framework entries with the same key.
    Probe::addToCurrentMappings ("language: [french]\ncountries: [fr]\n\"Save\" = \"Garder\"\n");
    EXPECT_EQ (TRANS ("Save"), "Garder");
    EXPECT_EQ (TRANS ("Cancel"), juce::LocalisedStrings (halvex::LocalisedStringsManager::getFrameworkTable ("fr"), false).translate ("Cancel"));

    EXPECT_FALSE (manager.setLanguage ("de"));
    EXPECT_EQ (manager.getLanguage(), "fr");
}

TEST_F (Localisation, EveryProcessorInstallsTheStoredLanguage)
{
    auto p = makeInstance();
    p->getGlobalPreferences()->setValue ("language", "es");
    p.reset();

    const auto next = makeInstance();
    EXPECT_EQ (next->getLocalisation().getLanguage(), "es");
    const juce::LocalisedStrings spanish (VelmoraLocalisedStringsManager::getProductTable ("es"), false);
    EXPECT_EQ (TRANS ("Bypass the Echo"), spanish.translate ("Bypass the Echo"));
    EXPECT_NE (TRANS ("Bypass the Echo"), "Bypass the Echo");
}

} // namespace
