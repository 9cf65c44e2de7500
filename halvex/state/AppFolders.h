#pragma once

#include <juce_core/juce_core.h>

namespace halvex
{

/** The maker's and the product's data folders, mapped onto the running OS: the shared
    ("all users") side under JUCE's common application-data location, the user side under
    the user's application-data location (on Linux: /opt and ~/.config).

    Tests, tools and packaging redirect both sides into one root: shared/<maker> and
    user/<maker> below it. The root comes from setRootOverride or, for plug-in binaries
    loaded by another process, from the environment variable HALVEX_FOLDERS_ROOT.

    Each folder is created when missing at the moment it is computed. Any thread. */
struct AppFolders
{
    static juce::File sharedMakerFolder (const juce::String& maker);
    static juce::File sharedProductFolder (const juce::String& maker, const juce::String& product);
    static juce::File userMakerFolder (const juce::String& maker);
    static juce::File userProductFolder (const juce::String& maker, const juce::String& product);

    /** An empty file removes the override (the environment variable still applies). */
    static void setRootOverride (const juce::File& root);
    static juce::File getRoot();
};

} // namespace halvex
