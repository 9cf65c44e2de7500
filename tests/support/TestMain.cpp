// JUCE needs its message manager for the parameter tree's timers and listeners. Every data
// folder and the preferences file live in a throw-away root for the whole run; tests that
// need a clean slate open their own ScopedFolderRoot on top.
#include "TestFolders.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <cstdlib>

int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);
    const juce::ScopedJuceInitialiser_GUI juce;
    const ScopedFolderRoot folders;
    setenv ("HALVEX_FOLDERS_ROOT", folders.getRoot().getFullPathName().toRawUTF8(), 1);
    return RUN_ALL_TESTS();
}
