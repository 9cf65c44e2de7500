// Whole-processor speed at 48 kHz stereo in 512-frame blocks, reported in frames per second.
#include "plugin/dsp/RandomSeeds.h"
#include "plugin/processor/VelmoraParameterTexts.h"
#include "plugin/processor/VelmoraProcessor.h"

#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 512;

void set (VelmoraProcessor& p, const char* id, float value)
{
    auto* param = p.getValueTreeState().getParameter (id);
    param->setValueNotifyingHost (param->convertTo0to1 (value));
}

std::unique_ptr<VelmoraProcessor> makeProcessor (int mode)
{
    RandomSeeds::useFixedSeeds (1);
    auto p = std::make_unique<VelmoraProcessor>();
    set (*p, "Mode", (float) mode);
    set (*p, "EchoFeedback", 30.0f);
    set (*p, "EchoDelay", 30.0f);
    p->setRateAndBufferSizeDetails (sampleRate, blockSize);
    p->prepareToPlay (sampleRate, blockSize);
    return p;
}

juce::AudioBuffer<float> makeInput()
{
    juce::AudioBuffer<float> b (2, blockSize);
    juce::Random r (3);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < blockSize; ++i)
            b.setSample (c, i, 0.5f * (r.nextFloat() - 0.5f));
    return b;
}

void runBlocks (benchmark::State& state, VelmoraProcessor& p)
{
    const auto input = makeInput();
    juce::AudioBuffer<float> block (2, blockSize);
    juce::MidiBuffer midi;
    // Let the smoothers settle before timing.
    for (int i = 0; i < 200; ++i)
    {
        block.makeCopyOf (input, true);
        p.processBlock (block, midi);
    }

    for (auto _ : state)
    {
        for (int c = 0; c < 2; ++c)
            block.copyFrom (c, 0, input, c, 0, blockSize);
        p.processBlock (block, midi);
        benchmark::DoNotOptimize (block.getReadPointer (0));
    }
    state.SetItemsProcessed ((int64_t) state.iterations() * blockSize);
}

void BM_Processor (benchmark::State& state)
{
    auto p = makeProcessor ((int) state.range (0));
    state.SetLabel (chorusModeName ((int) state.range (0)).toStdString());
    runBlocks (state, *p);
}
BENCHMARK (BM_Processor)->DenseRange (0, 3)->Unit (benchmark::kMicrosecond);

// Alternating between a mode and Rand every four blocks keeps a 2048-sample crossfade running.
void BM_ProcessorCrossfade (benchmark::State& state)
{
    auto p = makeProcessor ((int) state.range (0));
    state.SetLabel (chorusModeName ((int) state.range (0)).toStdString() + " <-> Rand");
    const int from = (int) state.range (0);
    const auto input = makeInput();
    juce::AudioBuffer<float> block (2, blockSize);
    juce::MidiBuffer midi;
    int count = 0;
    bool onRand = false;
    for (auto _ : state)
    {
        if (count++ % 4 == 0)
        {
            onRand = ! onRand;
            set (*p, "Mode", onRand ? 3.0f : (float) from);
        }
        for (int c = 0; c < 2; ++c)
            block.copyFrom (c, 0, input, c, 0, blockSize);
        p->processBlock (block, midi);
        benchmark::DoNotOptimize (block.getReadPointer (0));
    }
    state.SetItemsProcessed ((int64_t) state.iterations() * blockSize);
}
BENCHMARK (BM_ProcessorCrossfade)->DenseRange (0, 2)->Unit (benchmark::kMicrosecond);

// What a silent algorithm costs per block: keeping its ring (Detune: its FIFOs) current.
void BM_IdleAlgorithm (benchmark::State& state)
{
    auto p = makeProcessor (0);
    auto& algorithm = p->getAlgorithm ((int) state.range (0));
    state.SetLabel (chorusModeName ((int) state.range (0)).toStdString());
    const auto input = makeInput();
    for (auto _ : state)
        algorithm.feedIdle (input);
    state.SetItemsProcessed ((int64_t) state.iterations() * blockSize);
}
BENCHMARK (BM_IdleAlgorithm)->DenseRange (0, 3);
} // namespace

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;
    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
