#include "AppFolders.h"

namespace halvex
{
namespace
{
    juce::SpinLock overrideLock;
    juce::File& overrideRoot()
    {
        static juce::File root;
        return root;
    }

    juce::File created (const juce::File& folder)
    {
        if (! folder.isDirectory())
            folder.createDirectory(); // failure (read-only system folder) leaves it missing; readers cope
        return folder;
    }

    juce::File applicationSupport (juce::File::SpecialLocationType type)
    {
        auto base = juce::File::getSpecialLocation (type);
       #if JUCE_MAC
        base = base.getChildFile ("Application Support");
       #endif
        return base;
    }
} // namespace

void AppFolders::setRootOverride (const juce::File& root)
{
    const juce::SpinLock::ScopedLockType lock (overrideLock);
    overrideRoot() = root;
}

juce::File AppFolders::getRoot()
{
    {
        const juce::SpinLock::ScopedLockType lock (overrideLock);
        if (overrideRoot() != juce::File())
            return overrideRoot();
    }

    const auto fromEnvironment = juce::SystemStats::getEnvironmentVariable ("HALVEX_FOLDERS_ROOT", {});
    return juce::File::isAbsolutePath (fromEnvironment) ? juce::File (fromEnvironment) : juce::File();
}

juce::File AppFolders::sharedMakerFolder (const juce::String& maker)
{
    const auto root = getRoot();
    const auto base = root != juce::File() ? root.getChildFile ("shared")
                                           : applicationSupport (juce::File::commonApplicationDataDirectory);
    return created (base.getChildFile (maker));
}

juce::File AppFolders::sharedProductFolder (const juce::String& maker, const juce::String& product)
{
    return created (sharedMakerFolder (maker).getChildFile (product));
}

juce::File AppFolders::userMakerFolder (const juce::String& maker)
{
    const auto root = getRoot();
    const auto base = root != juce::File() ? root.getChildFile ("user")
                                           : applicationSupport (juce::File::userApplicationDataDirectory);
    return created (base.getChildFile (maker));
}

juce::File AppFolders::userProductFolder (const juce::String& maker, const juce::String& product)
{
    return created (userMakerFolder (maker).getChildFile (product));
}

} // namespace halvex
