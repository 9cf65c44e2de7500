#pragma once

#include "halvex/state/AppFolders.h"

/** Points every data folder (and so the preferences file) into a fresh temporary root for
    the lifetime of the object, and removes it afterwards. The name is unique across the
    test processes ctest runs side by side. */
class ScopedFolderRoot
{
public:
    ScopedFolderRoot()
        : previous (halvex::AppFolders::getRoot()),
          root (juce::File::getSpecialLocation (juce::File::tempDirectory)
                    .getChildFile ("velmora-folders-" + juce::Uuid().toString()))
    {
        root.createDirectory();
        halvex::AppFolders::setRootOverride (root);
    }

    ~ScopedFolderRoot()
    {
        halvex::AppFolders::setRootOverride (previous);
        root.deleteRecursively();
    }

    const juce::File& getRoot() const noexcept { return root; }
    juce::File shared() const { return root.getChildFile ("shared/Quarno/Velmora"); }
    juce::File user() const { return root.getChildFile ("user/Quarno/Velmora"); }

private:
    const juce::File previous, root;
};
