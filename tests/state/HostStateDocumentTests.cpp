// The host state document: what a session stores and gets back, the older form, and the
// preset reference it carries. The bytes a fresh instance writes after a restore must equal
// the ones it was given, or every save of a session would drift.
#include "StateTestSupport.h"

namespace
{
class HostState : public StateTest
{
protected:
    static std::unique_ptr<juce::XmlElement> fixture (const char* name)
    {
        return juce::parseXML (juce::File (VELMORA_TEST_FIXTURES "/state").getChildFile (name));
    }

    static juce::StringArray childTags (const juce::XmlElement& xml)
    {
        juce::StringArray tags;
        for (auto* child : xml.getChildIterator())
            tags.add (child->getTagName());
        return tags;
    }
};

TEST_F (HostState, RestoringIntoAFreshInstanceGivesBackTheSameState)
{
    const auto preset = writePreset (userPresets().getChildFile ("Guitars/Shimmer.qopreset"), "Mode=1 Mix=30");
    const auto midiPreset = folders.user().getChildFile ("midi/Knobs.qopreset");
    midiPreset.getParentDirectory().createDirectory();
    midiPreset.replaceWithText ("<Velmora><MIDImapping Mix=\"7\"/></Velmora>");

    auto a = makeInstance();
    a->getPresetManager()->loadPresetFile (preset.getFullPathName(), nullptr);
    a->getMidiPresetManager()->loadPresetFile (midiPreset.getFullPathName(), nullptr);
    ProcessorHarness::set (*a, "MultiDepth", 62.0f);
    ProcessorHarness::set (*a, "Lowpass", 9000.0f);
    a->getFreezer()->setFrozen ("OutputGain", true);
    a->getMidiMapper().mapControllerToParam (11, "OutputGain");
    a->getInstancePreferences().setValue ("someHostKey", "kept as is");
    a->setMidiEnabled (true);
    a->setCcMidiChannel (5);
    a->setEditorSize (760, 420);

    const auto saved = saveState (*a);
    auto b = makeInstance();
    b->setStateInformation (saved.getData(), (int) saved.getSize());
    EXPECT_EQ (saveState (*b), saved);

    EXPECT_FLOAT_EQ (plain (*b, "MultiDepth"), 62.0f);
    EXPECT_NEAR (plain (*b, "Lowpass"), 9000.0f, 0.01f);
    EXPECT_TRUE (b->getFreezer()->isFrozen ("OutputGain"));
    EXPECT_EQ (b->getMidiMapper().controllerForParam ("OutputGain"), 11);
    EXPECT_EQ (b->getMidiMapper().controllerForParam ("Mix"), 7);
    EXPECT_EQ (b->getPresetManager()->getCurrentPresetName(), "Shimmer");
    EXPECT_TRUE (b->getPresetManager()->isModified());
    EXPECT_EQ (b->getMidiPresetManager()->getCurrentPresetName(), "Knobs");
    EXPECT_EQ (b->getCcMidiChannel(), 5);
    EXPECT_EQ (b->getEditorWidth(), 760);

    const auto xml = stateXml (*b);
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (childTags (*xml).joinIntoString (","), "instancePrefs,frozenParams,PARAMS,lastPreset,MIDImapping,lastPreset");
    EXPECT_EQ (xml->getAttributeName (0), "pluginEditorWidth");
    EXPECT_EQ (xml->getAttributeName (4), "ccMidiChan");
    auto* ref = xml->getChildByName ("lastPreset");
    EXPECT_EQ (ref->getStringAttribute ("root"), "USER");
    EXPECT_EQ (ref->getStringAttribute ("path"), "Guitars/Shimmer.qopreset");
    EXPECT_EQ (ref->getStringAttribute ("dirty"), "1");
}

TEST_F (HostState, StoredDocumentRestoresItsOwnValuesOverTheChangedFile)
{
    // The file changed on disk since the session was saved: the session's values win and the
    // file stays the current preset, still marked modified.
    writePreset (userPresets().getChildFile ("Guitars/Shimmer.qopreset"), "Mode=2 Mix=99 MultiDepth=10");
    auto p = makeInstance();
    restoreXml (*p, *fixture ("host-state-1.1.0.xml"));

    EXPECT_FLOAT_EQ (plain (*p, "Mode"), 1.0f);
    EXPECT_FLOAT_EQ (plain (*p, "Mix"), 45.0f);
    EXPECT_FLOAT_EQ (plain (*p, "MultiDepth"), 62.0f);
    EXPECT_FLOAT_EQ (plain (*p, "OutputGain"), -2.0f);
    EXPECT_EQ (p->getPresetManager()->getCurrentPresetName(), "Shimmer");
    EXPECT_TRUE (p->getPresetManager()->isModified());
    EXPECT_TRUE (p->getFreezer()->isFrozen ("OutputGain"));
    EXPECT_FALSE (p->getFreezer()->isFrozen ("Mix"));
    EXPECT_TRUE (p->isMidiEnabled.load());
    EXPECT_TRUE (p->getMidiProgramChangeEnabled());
    EXPECT_EQ (p->getCcMidiChannel(), 5);
    EXPECT_EQ (p->getMidiMapper().controllerForParam ("Mix"), 7);
    EXPECT_EQ (p->getInstancePreferences().getValue ("someHostKey"), "kept as is");

    const auto xml = stateXml (*p);
    EXPECT_EQ (xml->getChildByName ("instancePrefs")->getStringAttribute ("another"), "2");
}

TEST_F (HostState, OlderDocumentsFindTheirPresetThroughTheConvertedPath)
{
    const auto preset = writePreset (factoryPresets().getChildFile ("Wide and Ambient/Drift.qopreset"), "Mode=3 Mix=10");
    auto p = makeInstance();
    ProcessorHarness::set (*p, "OutputGain", 6.0f);
    p->getFreezer()->setFrozen ("Mix", true);

    restoreXml (*p, *fixture ("host-state-legacy.xml"));

    EXPECT_EQ (p->getPresetManager()->getCurrentPreset(), preset.getFullPathName());
    EXPECT_TRUE (p->getPresetManager()->isModified());
    EXPECT_FLOAT_EQ (plain (*p, "Mix"), 60.0f);           // no freeze flags stored: all cleared first
    EXPECT_FLOAT_EQ (plain (*p, "RandDepth"), 70.0f);
    EXPECT_FLOAT_EQ (plain (*p, "OutputGain"), 0.0f);     // absent from the document: default
    EXPECT_FALSE (p->getFreezer()->isFrozen ("Mix"));
    EXPECT_EQ (p->getEditorWidth(), 700);
    EXPECT_FALSE (p->getMidiProgramChangeEnabled());
}

TEST_F (HostState, WithoutACurrentPresetTheValuesApplyDirectly)
{
    auto a = makeInstance();
    ProcessorHarness::set (*a, "Mix", 12.0f);
    const auto xml = stateXml (*a);
    EXPECT_EQ (xml->getChildByName ("lastPreset"), nullptr);

    auto b = makeInstance();
    xml->removeAttribute ("pluginEditorWidth");
    xml->removeAttribute ("pluginEditorHeight");
    b->setEditorSize (500, 300);
    restoreXml (*b, *xml);
    EXPECT_FLOAT_EQ (plain (*b, "Mix"), 12.0f);
    EXPECT_EQ (b->getEditorWidth(), -1);
    EXPECT_EQ (b->getEditorHeight(), -1);
}

TEST_F (HostState, InstancePreferencesAreCappedSoAHugeListCannotStallARestore)
{
    // Pair lookups are linear: tens of thousands of keys once took half a minute to restore.
    auto p = makeInstance();
    auto xml = stateXml (*p);
    auto* prefs = xml->getChildByName ("instancePrefs");
    for (int i = 0; i < 1000; ++i)
        prefs->setAttribute ("key" + juce::String (i), i);

    restoreXml (*p, *xml);
    EXPECT_EQ (p->getInstancePreferences().getPairs().size(), 256);
}

TEST_F (HostState, AnotherProductsDocumentChangesNothing)
{
    auto p = makeInstance();
    ProcessorHarness::set (*p, "Mix", 12.0f);
    const auto before = saveState (*p);

    auto xml = stateXml (*p);
    xml->setTagName ("Otherproduct");
    xml->getChildByName ("PARAMS")->setAttribute ("Mix", 90.0);
    restoreXml (*p, *xml);
    EXPECT_EQ (saveState (*p), before);
}

TEST_F (HostState, MidiSwitchesAreAnnouncedOnlyWhenTheyChange)
{
    struct Recorder : halvex::PluginProcessor::Listener
    {
        juce::StringArray calls;
        void midiEnabledChanged (halvex::PluginProcessor&, bool on) override { calls.add ("midi " + juce::String ((int) on)); }
        void midiProgramChangeEnabledChanged (halvex::PluginProcessor&, bool on) override { calls.add ("pc " + juce::String ((int) on)); }
        void ccMidiChannelChanged (halvex::PluginProcessor&, int ch) override { calls.add ("ch " + juce::String (ch)); }
    } recorder;

    auto p = makeInstance();
    p->addProcessorListener (&recorder);
    restoreXml (*p, *fixture ("host-state-1.1.0.xml"));
    restoreXml (*p, *fixture ("host-state-1.1.0.xml"));
    EXPECT_EQ (recorder.calls.joinIntoString (","), "midi 1,pc 1,ch 5");
    p->removeProcessorListener (&recorder);
}

} // namespace
