// Preset files on disk: the exact bytes written, listing, loading with undo, the recent list,
// the default preset, renaming and saving (with the refusals that protect other files), and
// the clipboard form.
#include "StateTestSupport.h"
#include "support/AllocationGuard.h"

#include <sys/stat.h>
#include <thread>

namespace
{
using Manager = halvex::PresetFileManager;

class PresetFiles : public StateTest
{
protected:
    std::unique_ptr<VelmoraProcessor> p = makeInstance();
    Manager& manager() { return *p->getPresetManager(); }

    // Files written after construction need a fresh listing.
    void rescanFactory() { p = makeInstance(); }
};

TEST_F (PresetFiles, SavedFileMatchesTheStoredBytes)
{
    ProcessorHarness::set (*p, "Mode", 2.0f);
    ProcessorHarness::set (*p, "Mix", 70.0f);
    ProcessorHarness::set (*p, "Lowpass", 8000.0f);
    manager().setAuthor ("Quarno Sound Team");
    manager().setDescription ("Wide detuned doubling for clean arpeggios & pads, with a short echo behind it.");

    const auto file = userPresets().getChildFile ("Keys/Glass Pad.qopreset");
    ASSERT_TRUE (manager().savePreset (file));

    const juce::File expected (VELMORA_TEST_FIXTURES "/state/glass-pad.qopreset");
    juce::MemoryBlock written, stored;
    file.loadFileAsData (written);
    expected.loadFileAsData (stored);
    EXPECT_EQ (written, stored) << file.loadFileAsString();

    EXPECT_EQ (manager().getCurrentPreset(), file.getFullPathName());
    EXPECT_FALSE (manager().isModified());
    EXPECT_TRUE (manager().getUserFiles().contains (file.getFullPathName()));
}

TEST_F (PresetFiles, ListsValidPresetsRecursivelyInNaturalOrder)
{
    const auto f = factoryPresets();
    for (auto name : { "Bank 10/b.qopreset", "Bank 2/a.qopreset", "x10.qopreset", "x9.qopreset", "Bank 2/Sub/c.qopreset" })
        writePreset (f.getChildFile (name), "Mix=10");

    writePreset (f.getChildFile (".hidden.qopreset"), "Mix=10");
    writePreset (f.getChildFile (".HiddenBank/d.qopreset"), "Mix=10");
    writePreset (f.getChildFile ("foreign.qopreset"), "Mix=10", "OtherProduct");
    writePreset (f.getChildFile ("wrong.xml"), "Mix=10");
    f.getChildFile ("garbage.qopreset").replaceWithText ("<Velmora");
    rescanFactory();

    juce::StringArray names;
    for (const auto& path : manager().getFactoryFiles())
        names.add (juce::File (path).getRelativePathFrom (f));

    EXPECT_EQ (names.joinIntoString ("|"), "Bank 2/a.qopreset|Bank 2/Sub/c.qopreset|Bank 10/b.qopreset|x9.qopreset|x10.qopreset");
    EXPECT_FALSE (manager().isValidPresetFile (f.getChildFile ("foreign.qopreset").getFullPathName()));
    EXPECT_FALSE (manager().isValidPresetFile ("relative/path.qopreset"));

    // The host sees the same files as programs: user ones first, then factory.
    writePreset (userPresets().getChildFile ("Mine.qopreset"), "Mix=20");
    rescanFactory();
    EXPECT_EQ (p->getNumPrograms(), 6);
    EXPECT_EQ (p->getProgramName (0), "Mine");
    EXPECT_EQ (p->getProgramName (1), "a");
    EXPECT_EQ (p->getProgramName (99), "");
}

TEST_F (PresetFiles, SpecialFilesNamedLikePresetsAreSkippedWithoutOpeningThem)
{
    // Opening a FIFO blocks until a writer appears: the scan must never try.
    userPresets().createDirectory();
    const auto fifo = userPresets().getChildFile ("Pipe.qopreset");
    ASSERT_EQ (mkfifo (fifo.getFullPathName().toRawUTF8(), 0600), 0);
    writePreset (userPresets().getChildFile ("Real.qopreset"), "Mix=10");

    rescanFactory();
    EXPECT_EQ (manager().getUserFiles().size(), 1);
    EXPECT_FALSE (manager().isValidPresetFile (fifo.getFullPathName()));
    manager().loadPresetFile (fifo.getFullPathName(), nullptr);
    EXPECT_EQ (manager().getCurrentPreset(), "");
}

TEST_F (PresetFiles, UndoOfALoadRestoresValuesNameAndModifiedFlag)
{
    const auto a = writePreset (userPresets().getChildFile ("A.qopreset"), "Mix=20 Mode=1");
    const auto b = writePreset (userPresets().getChildFile ("B.qopreset"), "Mix=80 Mode=3");
    auto& undo = p->getUndoManager();

    manager().loadPresetFile (a.getFullPathName(), &undo);
    ProcessorHarness::set (*p, "Mix", 33.0f);
    ASSERT_TRUE (manager().isModified());

    manager().loadPresetFile (b.getFullPathName(), &undo);
    EXPECT_EQ (manager().getCurrentPresetName(), "B");
    EXPECT_FLOAT_EQ (plain (*p, "Mix"), 80.0f);
    EXPECT_FALSE (manager().isModified());

    ASSERT_TRUE (undo.undo());
    EXPECT_EQ (manager().getCurrentPresetName(), "A");
    EXPECT_FLOAT_EQ (plain (*p, "Mix"), 33.0f);
    EXPECT_FLOAT_EQ (plain (*p, "Mode"), 1.0f);
    EXPECT_TRUE (manager().isModified());

    ASSERT_TRUE (undo.redo());
    EXPECT_EQ (manager().getCurrentPresetName(), "B");
    EXPECT_FLOAT_EQ (plain (*p, "Mix"), 80.0f);

    // Undoing the very first load leaves no preset current rather than a name over old values.
    ASSERT_TRUE (undo.undo());
    ASSERT_TRUE (undo.undo());
    EXPECT_EQ (manager().getCurrentPreset(), "");
    EXPECT_FLOAT_EQ (plain (*p, "Mix"), 50.0f);
}

TEST_F (PresetFiles, ReloadingTheCurrentPresetOnlyWhenModified)
{
    const auto a = writePreset (userPresets().getChildFile ("A.qopreset"), "Mix=20");
    auto& undo = p->getUndoManager();

    manager().loadPresetFile (a.getFullPathName(), &undo);
    const auto steps = undo.getNumActionsInCurrentTransaction();
    undo.beginNewTransaction();
    manager().loadPresetFile (a.getFullPathName(), &undo);
    EXPECT_FALSE (undo.canRedo());
    EXPECT_EQ (undo.getNumActionsInCurrentTransaction(), 0) << steps;

    ProcessorHarness::set (*p, "Mix", 90.0f);
    manager().loadPresetFile (a.getFullPathName(), nullptr);
    EXPECT_FLOAT_EQ (plain (*p, "Mix"), 20.0f);
    EXPECT_FALSE (manager().isModified());
}

TEST_F (PresetFiles, RecentListKeepsTheTenNewestWithoutDuplicates)
{
    juce::StringArray paths;
    for (int i = 0; i < 11; ++i)
        paths.add (writePreset (userPresets().getChildFile ("P" + juce::String (i) + ".qopreset"), "Mix=" + juce::String (i)).getFullPathName());

    for (const auto& path : paths)
        manager().loadPresetFile (path, nullptr);
    manager().loadPresetFile (paths[5], nullptr);

    juce::StringArray expected { paths[5], paths[10], paths[9], paths[8], paths[7], paths[6], paths[4], paths[3], paths[2], paths[1] };
    EXPECT_EQ (manager().getRecentFiles(), expected);

    // Stored in the preferences, so the next instance starts with the same list.
    p.reset();
    p = makeInstance();
    EXPECT_EQ (manager().getRecentFiles(), expected);
}

TEST_F (PresetFiles, EveryNewInstanceStartsWithTheDefaultPreset)
{
    const auto a = writePreset (userPresets().getChildFile ("Start.qopreset"), "Mix=12 Mode=2");
    manager().setDefaultPreset (a.getFullPathName());
    p.reset();

    const auto next = makeInstance();
    EXPECT_EQ (next->getPresetManager()->getCurrentPresetName(), "Start");
    EXPECT_FLOAT_EQ (plain (*next, "Mix"), 12.0f);
}

TEST_F (PresetFiles, RenameRefusesAnythingThatWouldLoseOrMoveAFile)
{
    const auto factory = writePreset (factoryPresets().getChildFile ("F.qopreset"), "Mix=1");
    const auto mine = writePreset (userPresets().getChildFile ("Bank/Mine.qopreset"), "Mix=2");
    const auto other = writePreset (userPresets().getChildFile ("Bank/Other.qopreset"), "Mix=3");
    rescanFactory();
    const auto otherBytes = other.loadFileAsString();

    EXPECT_FALSE (manager().renamePreset (factory, "G"));
    EXPECT_TRUE (factory.existsAsFile());

    for (auto bad : { "Other", "", "  ", ".hidden", "../Escaped", "Sub/Name", "a\\b", "what?", "x:y" })
    {
        SCOPED_TRACE (bad);
        EXPECT_FALSE (manager().renamePreset (mine, bad));
        EXPECT_TRUE (mine.existsAsFile());
    }
    EXPECT_EQ (other.loadFileAsString(), otherBytes);
    EXPECT_EQ (userPresets().findChildFiles (juce::File::findFiles, true, "*").size(), 2);
}

TEST_F (PresetFiles, RenamingTheCurrentPresetKeepsItCurrent)
{
    const auto mine = writePreset (userPresets().getChildFile ("Bank/Mine.qopreset"), "Mix=2");
    rescanFactory();
    manager().loadPresetFile (mine.getFullPathName(), nullptr);
    RecordingPresetListener listener;
    manager().addListener (&listener);

    ASSERT_TRUE (manager().renamePreset (mine, "Yours"));
    const auto renamed = userPresets().getChildFile ("Bank/Yours.qopreset");
    EXPECT_TRUE (renamed.existsAsFile());
    EXPECT_FALSE (mine.exists());
    EXPECT_EQ (manager().getCurrentPreset(), renamed.getFullPathName());
    EXPECT_EQ (manager().getRecentFiles()[0], renamed.getFullPathName());
    EXPECT_FALSE (manager().getRecentFiles().contains (mine.getFullPathName()));
    EXPECT_TRUE (listener.events.contains ("renamed Mine Yours"));
    manager().removeListener (&listener);
}

TEST_F (PresetFiles, SavingRefusesAnEmptyNameAndReplacesAnExistingFile)
{
    for (auto name : { ".qopreset", "   .qopreset", ".hidden.qopreset" })
    {
        SCOPED_TRACE (name);
        EXPECT_FALSE (manager().savePreset (userPresets().getChildFile (name)));
    }
    EXPECT_TRUE (userPresets().findChildFiles (juce::File::findFiles, true, "*").isEmpty());

    const auto target = writePreset (userPresets().getChildFile ("Same.qopreset"), "Mix=1");
    ProcessorHarness::set (*p, "Mix", 64.0f);
    ASSERT_TRUE (manager().savePreset (target));
    EXPECT_EQ (manager().getCurrentPreset(), target.getFullPathName());
    EXPECT_FALSE (manager().isModified());

    const auto reread = halvex::SafeXml::parseFile (target);
    ASSERT_NE (reread, nullptr);
    EXPECT_DOUBLE_EQ (reread->getChildByName ("PARAMS")->getDoubleAttribute ("Mix"), 64.0);
}

TEST_F (PresetFiles, ClipboardTextIsOneLineAndPastesIntoTheCurrentPreset)
{
    const auto a = writePreset (userPresets().getChildFile ("A.qopreset"), "Mix=20");
    manager().loadPresetFile (a.getFullPathName(), nullptr);
    ProcessorHarness::set (*p, "Mode", 3.0f);
    manager().setAuthor ("Someone");

    const auto text = manager().getStateAsClipboardText();
    EXPECT_FALSE (text.containsAnyOf ("\r\n"));
    EXPECT_TRUE (text.startsWith ("<Velmora author=\"Someone\"><PARAMS ")) << text;

    const auto other = makeInstance();
    auto& otherManager = *other->getPresetManager();
    const auto b = writePreset (userPresets().getChildFile ("B.qopreset"), "Mix=90");
    otherManager.loadPresetFile (b.getFullPathName(), nullptr);

    ASSERT_TRUE (otherManager.loadStateFromClipboardText (text));
    EXPECT_FLOAT_EQ (plain (*other, "Mix"), 20.0f);
    EXPECT_FLOAT_EQ (plain (*other, "Mode"), 3.0f);
    EXPECT_EQ (otherManager.getCurrentPresetName(), "B");
    EXPECT_TRUE (otherManager.isModified());
    EXPECT_EQ (otherManager.getAuthor(), "Someone");

    EXPECT_FALSE (otherManager.loadStateFromClipboardText ("not xml at all"));
    EXPECT_FLOAT_EQ (plain (*other, "Mix"), 20.0f);
}

TEST_F (PresetFiles, CopyAndPasteGoThroughTheSystemClipboard)
{
    if (juce::SystemStats::getEnvironmentVariable ("DISPLAY", {}).isEmpty())
        GTEST_SKIP() << "the system clipboard needs a display (the test command runs under Xvfb)";

    ProcessorHarness::set (*p, "Mix", 27.0f);
    manager().copyStateToClipboard();
    EXPECT_EQ (juce::SystemClipboard::getTextFromClipboard(), manager().getStateAsClipboardText());

    const auto other = makeInstance();
    other->getPresetManager()->pasteStateFromClipboard();
    EXPECT_FLOAT_EQ (plain (*other, "Mix"), 27.0f);
}

TEST_F (PresetFiles, ModifiedFlagRaisedOnTheAudioThreadIsAnnouncedOnTheMessageThread)
{
    const auto a = writePreset (userPresets().getChildFile ("A.qopreset"), "Mix=20");
    manager().loadPresetFile (a.getFullPathName(), nullptr);
    RecordingPresetListener listener;
    manager().addListener (&listener);
    listener.events.clear();

    long allocations = -1;
    std::thread automation ([this, &allocations]
    {
        const AllocationGuard guard;
        ProcessorHarness::set (*p, "Mix", 40.0f);
        allocations = guard.count();
    });
    automation.join();
    EXPECT_EQ (allocations, 0);

    EXPECT_TRUE (manager().isModified());
    EXPECT_TRUE (listener.events.isEmpty());
    p->dispatchMessageThreadWork();
    EXPECT_EQ (listener.events.joinIntoString (","), "modified");
    manager().removeListener (&listener);
}

TEST_F (PresetFiles, MenuItemsFollowThePathList)
{
    const auto f = factoryPresets();
    writePreset (f.getChildFile ("Keys/k2.qopreset"), "Mix=1");
    writePreset (f.getChildFile ("Keys/k10.qopreset"), "Mix=1");
    writePreset (f.getChildFile ("Init.qopreset"), "Mix=1");
    f.getChildFile ("Empty Bank").createDirectory();

    juce::PopupMenu menu;
    juce::StringArray paths;
    int id = 100;
    manager().fillPresetsMenu (menu, f, id, paths);

    EXPECT_EQ (id, 103);
    ASSERT_EQ (paths.size(), 3);
    EXPECT_TRUE (paths[0].endsWith ("Init.qopreset"));
    EXPECT_TRUE (paths[1].endsWith ("k2.qopreset"));
    EXPECT_TRUE (paths[2].endsWith ("k10.qopreset"));
    EXPECT_EQ (menu.getNumItems(), 2); // the "Keys" submenu and "Init"; the empty bank is left out
}

} // namespace
