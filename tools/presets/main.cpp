// velmora-presets: writes the factory banks from their tables, e.g. into the shared product
// folder at install time.
#include "FactoryBank.h"
#include "halvex/state/AppFolders.h"

#include <juce_events/juce_events.h>

#include <iostream>

int main (int argc, char* argv[])
{
    juce::File out, presets (VELMORA_PRESETS_TABLE), mappings (VELMORA_MAPPINGS_TABLE);

    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg (argv[i]);
        const auto next = [&] { return i + 1 < argc ? juce::File::getCurrentWorkingDirectory().getChildFile (argv[++i]) : juce::File(); };

        if (arg == "--out")
            out = next();
        else if (arg == "--presets")
            presets = next();
        else if (arg == "--mappings")
            mappings = next();
        else
        {
            std::cerr << "usage: velmora-presets --out FOLDER [--presets TABLE] [--mappings TABLE]\n"
                         "Writes FOLDER/presets/<bank>/<name>.qopreset and FOLDER/midi/<name>.qopreset.\n";
            return arg == "--help" ? 0 : 1;
        }
    }

    if (out == juce::File())
    {
        std::cerr << "velmora-presets: --out FOLDER is required\n";
        return 1;
    }

    const juce::ScopedJuceInitialiser_GUI juceInitialiser;

    // The processors made here only carry values; their own data folders go to scratch.
    const juce::TemporaryFile scratch;
    halvex::AppFolders::setRootOverride (scratch.getFile());
    const auto result = FactoryBank::generate (presets, mappings, out);
    scratch.getFile().deleteRecursively();

    if (result.error.isNotEmpty())
    {
        std::cerr << "velmora-presets: " << result.error << "\n";
        return 1;
    }

    std::cout << "wrote " << result.written.size() << " presets below " << out.getFullPathName() << "\n";
    return 0;
}
