// Freeze flags keep parameters through preset loads; the user's default freeze set starts
// every new instance; preferences booleans are "1" or nothing.
#include "StateTestSupport.h"

namespace
{
class Freezer : public StateTest
{
protected:
    std::unique_ptr<VelmoraProcessor> p = makeInstance();
    halvex::FrozenPresetStateManager& freezer() { return *p->getFreezer(); }
};

TEST_F (Freezer, FrozenParametersSurvivePresetLoadsAndTheirUndo)
{
    const auto a = writePreset (userPresets().getChildFile ("A.qopreset"), "Mix=20 Mode=2");
    const auto b = writePreset (userPresets().getChildFile ("B.qopreset"), "Mix=80");
    ProcessorHarness::set (*p, "Mix", 33.0f);
    ProcessorHarness::set (*p, "OutputGain", 4.0f); // in neither preset
    freezer().setFrozen ("Mix", true);
    freezer().setFrozen ("OutputGain", true);

    auto& undo = p->getUndoManager();
    p->getPresetManager()->loadPresetFile (a.getFullPathName(), &undo);
    p->getPresetManager()->loadPresetFile (b.getFullPathName(), &undo);
    EXPECT_FLOAT_EQ (plain (*p, "Mix"), 33.0f);
    EXPECT_FLOAT_EQ (plain (*p, "OutputGain"), 4.0f);
    EXPECT_FLOAT_EQ (plain (*p, "Mode"), 0.0f); // B leaves Mode out: back to its default

    undo.undo();
    EXPECT_FLOAT_EQ (plain (*p, "Mode"), 2.0f);
    EXPECT_FLOAT_EQ (plain (*p, "Mix"), 33.0f);
}

TEST_F (Freezer, NotifiesOnlyRealChanges)
{
    struct Recorder : halvex::FrozenPresetStateManager::Listener, halvex::PresetStateManager::Listener
    {
        juce::StringArray calls;
        void frozenStateChanged (halvex::FrozenPresetStateManager&, const juce::String& id, bool on) override { calls.add (id + (on ? "+" : "-")); }
        void presetStateChanged (halvex::PresetStateManager&) override { calls.add ("state"); }
    } recorder;
    freezer().addFrozenListener (&recorder);
    freezer().addListener (&recorder);

    freezer().setFrozen ("Mix", true);
    freezer().setFrozen ("Mix", true);
    freezer().setFrozen ("Unknown", false);
    freezer().unfreezeAll();
    EXPECT_EQ (recorder.calls.joinIntoString (","), "Mix+,state,Mix-,state");

    freezer().removeFrozenListener (&recorder);
    freezer().removeListener (&recorder);
}

TEST_F (Freezer, NewInstancesStartWithTheUsersDefaultSet)
{
    freezer().recallDefaultFrozenStates(); // nothing stored: everything unfrozen
    EXPECT_FALSE (freezer().isFrozen ("Mix"));

    freezer().setFrozen ("Mix", true);
    freezer().setFrozen ("Lowpass", true);
    freezer().saveDefaultFrozenStates();
    freezer().setFrozen ("Lowpass", false);
    freezer().setFrozen ("Hipass", true); // frozen in this session only
    const auto session = saveState (*p);
    p.reset();

    const auto fresh = makeInstance();
    EXPECT_TRUE (fresh->getFreezer()->isFrozen ("Mix"));
    EXPECT_TRUE (fresh->getFreezer()->isFrozen ("Lowpass"));
    EXPECT_FALSE (fresh->getFreezer()->isFrozen ("Hipass"));

    // A restored session brings its own flags, not the default's.
    fresh->setStateInformation (session.getData(), (int) session.getSize());
    EXPECT_TRUE (fresh->getFreezer()->isFrozen ("Hipass"));
    EXPECT_FALSE (fresh->getFreezer()->isFrozen ("Lowpass"));

    const auto stored = fresh->getGlobalPreferences()->getXmlValue ("frozen");
    ASSERT_NE (stored, nullptr);
    EXPECT_EQ (stored->getChildByName ("STATES")->getStringAttribute ("Mix"), "1");
    EXPECT_EQ (stored->getChildByName ("STATES")->getStringAttribute ("Mode"), "0");
}

TEST_F (Freezer, PreferencesFileLivesInTheUserProductFolder)
{
    auto* prefs = p->getGlobalPreferences();
    ASSERT_NE (prefs, nullptr);
    EXPECT_EQ (prefs->getFile(), folders.user().getChildFile ("Velmora.settings"));
    prefs->setValue ("checkVersionOnStartup", "true");
    EXPECT_TRUE (prefs->saveIfNeeded());
    EXPECT_TRUE (folders.user().getChildFile ("Velmora.settings").existsAsFile());

    for (auto folder : { "presets", "DesignersPresets", "midi" })
        EXPECT_TRUE (folders.shared().getChildFile (folder).getParentDirectory().isDirectory()) << folder;
}

} // namespace
