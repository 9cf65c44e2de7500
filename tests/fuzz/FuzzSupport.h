#pragma once

// Shared by the fuzz targets: JUCE initialised once per process, every data folder in a
// throw-away root, product instances made the way the plug-in entry point makes them, and
// the invariants every door into the state must keep.
#include "halvex/state/AppFolders.h"
#include "plugin/processor/VelmoraProcessor.h"

#include <juce_events/juce_events.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace fuzz
{

/** Stops the run on the spot: libFuzzer records the input that broke an invariant. */
#define VELMORA_FUZZ_CHECK(condition) \
    do { if (! (condition)) __builtin_trap(); } while (false)

/** JUCE's message manager (the parameter tree's timers and listeners need it) and a private
    folder root, both for the whole process. Members die in reverse order: instances first. */
class Environment
{
public:
    Environment()
        : root (juce::File::getSpecialLocation (juce::File::tempDirectory)
                    .getChildFile ("velmora-fuzz-" + juce::Uuid().toString()))
    {
        root.createDirectory();
        halvex::AppFolders::setRootOverride (root);
        setenv ("HALVEX_FOLDERS_ROOT", root.getFullPathName().toRawUTF8(), 1);
    }

    ~Environment() { root.deleteRecursively(); }

    const juce::File& getRoot() const noexcept { return root; }

private:
    const juce::ScopedJuceInitialiser_GUI juce;
    const juce::File root;
};

inline std::unique_ptr<VelmoraProcessor> makeInstance (double sampleRate = 48000.0, int blockSize = 64)
{
    auto p = std::make_unique<VelmoraProcessor>();
    p->initialiseStateManagers();
    p->setRateAndBufferSizeDetails (sampleRate, blockSize);
    p->prepareToPlay (sampleRate, blockSize);
    return p;
}

/** What any restored state leaves behind: every parameter finite and normalised, a sane
    controller channel. */
inline void checkInstance (VelmoraProcessor& p)
{
    for (auto* param : p.getParameters())
    {
        const float v = param->getValue();
        VELMORA_FUZZ_CHECK (std::isfinite (v) && v >= 0.0f && v <= 1.0f);
    }

    const int channel = p.getCcMidiChannel();
    VELMORA_FUZZ_CHECK (channel >= 0 && channel <= 16);
}

/** One block of a fixed stereo signal through the instance; the output must stay finite. */
inline void processOneBlock (VelmoraProcessor& p, juce::AudioBuffer<float>& audio, juce::MidiBuffer& midi)
{
    for (int c = 0; c < audio.getNumChannels(); ++c)
        for (int i = 0; i < audio.getNumSamples(); ++i)
            audio.setSample (c, i, 0.5f * std::sin (0.05f * (float) (i + 7 * c)));

    midi.clear();
    p.processBlock (audio, midi);

    for (int c = 0; c < audio.getNumChannels(); ++c)
        for (int i = 0; i < audio.getNumSamples(); ++i)
            VELMORA_FUZZ_CHECK (std::isfinite (audio.getSample (c, i)));
}

} // namespace fuzz
