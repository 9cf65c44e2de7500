// The shipped factory banks: every table row becomes a preset the plug-in lists and loads,
// Init is the defaults, and a broken table row is reported rather than skipped.
#include "FactoryBank.h"
#include "PresetIO.h"
#include "support/ProcessorHarness.h"
#include "support/TestFolders.h"

#include <gtest/gtest.h>

namespace
{
class FactoryBankTest : public ::testing::Test
{
protected:
    ScopedFolderRoot folders;
    const juce::File shared = folders.shared();

    FactoryBank::Result generateShipped()
    {
        return FactoryBank::generate (juce::File (VELMORA_SOURCE_DIR "/tools/presets/factory-presets.tsv"),
                                      juce::File (VELMORA_SOURCE_DIR "/tools/presets/factory-midi-mappings.tsv"), shared);
    }
};

TEST_F (FactoryBankTest, ShippedBanksLoadInTheProduct)
{
    const auto result = generateShipped();
    ASSERT_EQ (result.error, "");

    VelmoraProcessor p;
    p.initialiseStateManagers();
    auto& manager = *p.getPresetManager();

    juce::StringArray banks;
    for (const auto& path : manager.getFactoryFiles())
        if (const juce::File file (path); file.getParentDirectory() != manager.getFactoryFolder())
            banks.addIfNotAlreadyThere (file.getParentDirectory().getFileName());

    EXPECT_GE (manager.getFactoryFiles().size(), 25);
    EXPECT_GE (banks.size(), 4);
    EXPECT_EQ (manager.getFactoryFiles().size() + p.getMidiPresetManager()->getFactoryFiles().size(), result.written.size());

    for (const auto& path : manager.getFactoryFiles())
    {
        SCOPED_TRACE (path);
        manager.loadPresetFile (path, nullptr);
        EXPECT_EQ (manager.getCurrentPreset(), path);
        EXPECT_EQ (manager.getAuthor(), "Quarno Sound Team");
        EXPECT_TRUE (manager.getDescription().isNotEmpty());
    }

    // Init puts every parameter back to its default.
    manager.loadPresetFile (shared.getChildFile ("presets/Init.qopreset").getFullPathName(), nullptr);
    for (auto* param : p.getParameters())
        EXPECT_EQ (param->getValue(), param->getDefaultValue()) << param->getName (32);

    auto& midi = *p.getMidiPresetManager();
    ASSERT_FALSE (midi.getFactoryFiles().isEmpty());
    midi.loadPresetFile (shared.getChildFile ("midi/Mod Wheel and Expression.qopreset").getFullPathName(), nullptr);
    EXPECT_EQ (p.getMidiMapper().controllerForParam ("Mix"), 1);
    EXPECT_EQ (p.getMidiMapper().controllerForParam ("OutputGain"), 11);
}

TEST_F (FactoryBankTest, BadRowsNameTheirLine)
{
    const auto table = folders.getRoot().getChildFile ("t.tsv");
    const auto mappings = folders.getRoot().getChildFile ("m.tsv");
    mappings.replaceWithText ("name\tauthor\tdescription\tmapping\n");

    const std::pair<const char*, const char*> cases[] {
        { "Bank\tName\ta\td\tMix=170\n", "line 2" },          // out of range
        { "Bank\tNa/me\ta\td\tMix=10\n", "legal file names" },
        { "Bank\tName\ta\td\tNoSuch=1\n", "line 2" },
    };

    for (const auto& [row, expected] : cases)
    {
        SCOPED_TRACE (row);
        table.replaceWithText (juce::String ("bank\tname\tauthor\tdescription\tsettings\n") + row);
        const auto result = FactoryBank::generate (table, mappings, folders.getRoot().getChildFile ("out"));
        EXPECT_TRUE (result.error.contains (expected)) << result.error;
    }
}

TEST_F (FactoryBankTest, RendererPresetOptionsRoundTrip)
{
    VelmoraProcessor a;
    ProcessorHarness::set (a, "Mode", 3.0f);
    ProcessorHarness::set (a, "EchoDelay", 40.0f);
    const auto file = folders.getRoot().getChildFile ("x.qopreset");
    ASSERT_EQ (PresetIO::saveParameterPreset (a, file), "");

    VelmoraProcessor b;
    ASSERT_EQ (PresetIO::loadParameterPreset (b, file), "");
    for (auto* param : a.getParameters())
        EXPECT_EQ (param->getValue(), b.getParameters()[param->getParameterIndex()]->getValue());

    EXPECT_NE (PresetIO::loadParameterPreset (b, folders.getRoot().getChildFile ("missing.qopreset")), "");
}

} // namespace
