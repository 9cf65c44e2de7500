#pragma once

#include "plugin/dsp/RandomSeeds.h"
#include "plugin/processor/VelmoraProcessor.h"

#include <functional>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

/** Builds processors with reproducible random seeds and renders buffers through them in
    blocks, the way a host does. */
namespace ProcessorHarness
{
using Settings = std::vector<std::pair<const char*, float>>;

inline void set (VelmoraProcessor& p, const char* id, float realValue)
{
    auto* param = p.getValueTreeState().getParameter (id);
    jassert (param != nullptr);
    param->setValueNotifyingHost (param->convertTo0to1 (realValue));
}

inline std::unique_ptr<VelmoraProcessor> make (const Settings& settings, double sampleRate = 48000.0,
                                               int maxBlock = 512, juce::int64 seed = 1234)
{
    RandomSeeds::useFixedSeeds (seed);
    auto p = std::make_unique<VelmoraProcessor>();
    RandomSeeds::useClockSeeds();
    for (const auto& [id, value] : settings)
        set (*p, id, value);
    p->setRateAndBufferSizeDetails (sampleRate, maxBlock);
    p->prepareToPlay (sampleRate, maxBlock);
    return p;
}

/** Renders input (modified in place) in blocks whose sizes come from nextBlockSize. */
inline void render (VelmoraProcessor& p, juce::AudioBuffer<float>& audio, const std::function<int()>& nextBlockSize)
{
    juce::MidiBuffer midi;
    const int total = audio.getNumSamples();
    for (int start = 0; start < total;)
    {
        const int n = juce::jmin (nextBlockSize(), total - start);
        juce::AudioBuffer<float> block (audio.getArrayOfWritePointers(), audio.getNumChannels(), start, n);
        p.processBlock (block, midi);
        start += n;
    }
}

inline void render (VelmoraProcessor& p, juce::AudioBuffer<float>& audio, int blockSize = 512)
{
    render (p, audio, [blockSize] { return blockSize; });
}

/** A stereo test signal: a tone per channel with a little noise, deterministic. */
inline juce::AudioBuffer<float> testSignal (int numSamples, double sampleRate = 48000.0)
{
    juce::AudioBuffer<float> b (2, numSamples);
    juce::Random r (42);
    for (int i = 0; i < numSamples; ++i)
    {
        const double t = i / sampleRate;
        b.setSample (0, i, 0.4f * (float) std::sin (juce::MathConstants<double>::twoPi * 220.0 * t) + 0.05f * (r.nextFloat() - 0.5f));
        b.setSample (1, i, 0.4f * (float) std::sin (juce::MathConstants<double>::twoPi * 331.0 * t) + 0.05f * (r.nextFloat() - 0.5f));
    }
    return b;
}
} // namespace ProcessorHarness
