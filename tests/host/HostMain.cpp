// The hosted plug-in writes preferences and presets under its data folders, so every run
// gets a throw-away home and folder root; JUCE's GUI initialiser makes this thread the message thread, which VST3
// and LV2 instantiation on Linux require.
#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <cstdlib>
#include <string>

int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);

    const char* tmp = std::getenv ("TMPDIR");
    std::string pattern = std::string (tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/velmora-host-XXXXXX";
    if (mkdtemp (pattern.data()) == nullptr)
        return 2;

    const juce::File home (pattern);
    const auto config = home.getChildFile (".config");
    config.createDirectory();
    setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
    setenv ("XDG_CONFIG_HOME", config.getFullPathName().toRawUTF8(), 1);
    // The plug-in's shared and user data folders, through its own seam.
    setenv ("HALVEX_FOLDERS_ROOT", home.getChildFile ("folders").getFullPathName().toRawUTF8(), 1);

    int result = 0;
    {
        const juce::ScopedJuceInitialiser_GUI juce;
        result = RUN_ALL_TESTS();
    }

    home.deleteRecursively();
    return result;
}
