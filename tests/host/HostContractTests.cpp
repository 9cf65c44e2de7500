// The contract a host sees, checked on the built VST3 and LV2 binaries alike.
#include "HostedPlugin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <iterator>
#include <limits>
#include <tuple>

using HostedPlugin::Format;

namespace
{
constexpr int maxBlock = 8192;
constexpr float inputLevel = 0.25f; // well below the output limiter
constexpr float equalPowerHalf = 0.70710678f;
// Wet energy relative to the input. The wet path is low-passed at 20 kHz, so at 192 kHz it
// keeps only a fifth of white noise's band; without any wet signal the measure is ~0.
constexpr double minWet = 0.01;

struct ExpectedParameter
{
    const char* name;
    const char* text;  // default value as the plug-in writes it
    float value;       // default in the parameter's own units
};

// Host order matters: hosts and saved sessions address parameters by index.
const ExpectedParameter expectedParameters[] = {
    { "Mode", "Retro", 0.0f },
    { "Retro Rate", "50.00", 50.0f },     { "Retro Depth", "50.00", 50.0f },  { "Retro Width", "50.00", 50.0f },
    { "Multi Rate", "50.00", 50.0f },     { "Multi Depth", "50.00", 50.0f },  { "Multi Width", "50.00", 50.0f },
    { "Detune Rate", "50.00", 50.0f },    { "Detune Depth", "0.00", 50.0f },  { "Detune Width", "50.00", 50.0f },
    { "Rand Rate", "50.00", 50.0f },      { "Rand Depth", "50.00", 50.0f },   { "Rand Width", "50.00", 50.0f },
    { "Echo Feedback", "0.00", 0.0f },    { "Echo Delay", "0.1", 0.0f },      { "Echo Enable", "Enabled", 1.0f },
    { "Output Gain", "0.00", 0.0f },      { "Hipass", "20.00", 20.0f },       { "Lowpass", "20000.00", 20000.0f },
    { "Mix", "50.00", 50.0f },
};

/** Independent white noise per channel, continuous from block to block. */
struct Noise
{
    juce::Random random { 0x5eed };

    void fill (juce::AudioBuffer<float>& buffer, int channels)
    {
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                buffer.setSample (c, i, inputLevel * (2.0f * random.nextFloat() - 1.0f));
    }
};

/** Splits an output into the part that follows the input (dry) and the rest (wet). With
    noise input the delayed, modulated wet signal is uncorrelated with the input, so the
    projection coefficient is the dry gain and the remainder is the wet energy. */
struct DryWet
{
    double inIn = 0.0, outIn = 0.0, outOut = 0.0;

    void add (const float* in, const float* out, int n)
    {
        for (int i = 0; i < n; ++i)
        {
            inIn += (double) in[i] * in[i];
            outIn += (double) out[i] * in[i];
            outOut += (double) out[i] * out[i];
        }
    }

    double dryGain() const { return outIn / inIn; }
    double wetToInput() const { return (outOut - outIn * outIn / inIn) / inIn; }
};

int countSubnormals (const juce::AudioBuffer<float>& buffer)
{
    int count = 0;
    for (int c = 0; c < buffer.getNumChannels(); ++c)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            count += std::fpclassify (buffer.getSample (c, i)) == FP_SUBNORMAL ? 1 : 0;
    return count;
}

bool allFinite (const juce::AudioBuffer<float>& buffer)
{
    for (int c = 0; c < buffer.getNumChannels(); ++c)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            if (! std::isfinite (buffer.getSample (c, i)))
                return false;
    return true;
}

float maxDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    float worst = 0.0f;
    for (int c = 0; c < a.getNumChannels(); ++c)
        for (int i = 0; i < a.getNumSamples(); ++i)
            worst = std::max (worst, std::abs (a.getSample (c, i) - b.getSample (c, i)));
    return worst;
}

/** Loads one instance and prepares it for blocks of up to blockSize samples. */
HostedPlugin::Loaded loadPrepared (Format format, double sampleRate, int blockSize)
{
    auto loaded = HostedPlugin::load (format, sampleRate, maxBlock);
    if (loaded.instance != nullptr)
        loaded.instance->prepareToPlay (sampleRate, blockSize);
    return loaded;
}

std::string formatParamName (const testing::TestParamInfo<Format>& info)
{
    return HostedPlugin::formatName (info.param);
}

class HostContract : public testing::TestWithParam<Format>
{
protected:
    /** Feeds fresh noise through the instance; check sees each block's input and output. */
    void run (juce::AudioPluginInstance& plugin, int blocks, int blockSize, bool bypassed = false,
              std::function<void (const juce::AudioBuffer<float>& in, const juce::AudioBuffer<float>& out)> check = {})
    {
        juce::AudioBuffer<float> in (2, blockSize), io (2, blockSize);
        juce::MidiBuffer midi;
        for (int b = 0; b < blocks; ++b)
        {
            noise.fill (in, 2);
            io.makeCopyOf (in);
            if (bypassed)
                plugin.processBlockBypassed (io, midi);
            else
                plugin.processBlock (io, midi);
            if (check)
                check (in, io);
        }
    }

    Noise noise;
};

TEST_P (HostContract, HasStereoBusesAndMidiInput)
{
    auto loaded = HostedPlugin::load (GetParam(), 48000.0, maxBlock);
    ASSERT_NE (loaded.instance, nullptr) << loaded.error;
    auto& plugin = *loaded.instance;

    EXPECT_EQ (plugin.getName(), "Velmora");
    EXPECT_EQ (plugin.getBus (true, 0)->getCurrentLayout(), juce::AudioChannelSet::stereo());
    EXPECT_EQ (plugin.getBus (false, 0)->getCurrentLayout(), juce::AudioChannelSet::stereo());
    EXPECT_EQ (plugin.getTotalNumInputChannels(), 2);
    EXPECT_EQ (plugin.getTotalNumOutputChannels(), 2);
    EXPECT_TRUE (plugin.acceptsMidi());
    EXPECT_FALSE (plugin.producesMidi());
}

TEST_P (HostContract, ListsTheTwentyParametersWithTheirDefaults)
{
    auto loaded = HostedPlugin::load (GetParam(), 48000.0, maxBlock);
    ASSERT_NE (loaded.instance, nullptr) << loaded.error;
    const auto params = HostedPlugin::productParameters (*loaded.instance);
    ASSERT_EQ (params.size(), std::size (expectedParameters));

    for (size_t i = 0; i < params.size(); ++i)
    {
        const auto& expected = expectedParameters[i];
        SCOPED_TRACE (expected.name);

        // LV2 properties form an unordered set in the Turtle files (JUCE's host sorts them by
        // URI), so only VST3 can show the order; LV2 must still name all twenty.
        auto* p = GetParam() == Format::vst3 ? params[i] : HostedPlugin::findParameter (*loaded.instance, expected.name);
        ASSERT_NE (p, nullptr);
        EXPECT_EQ (p->getName (100), juce::String (expected.name));
        EXPECT_NEAR (p->getValue(), p->getDefaultValue(), 1e-6f) << "a fresh instance sits at its defaults";

        const auto text = p->getText (p->getDefaultValue(), 100);
        if (GetParam() == Format::vst3)
        {
            EXPECT_EQ (text, juce::String (expected.text));
            EXPECT_EQ (p->getCurrentValueAsText(), juce::String (expected.text));
        }
        else
        {
            // LV2 has no value-to-text callback: the host prints the plain value.
            EXPECT_NEAR (text.getFloatValue(), expected.value, 1e-3f * std::max (1.0f, expected.value)) << text;
        }
    }
}

TEST_P (HostContract, BypassReturnsInputUnchanged)
{
    auto loaded = loadPrepared (GetParam(), 48000.0, 512);
    ASSERT_NE (loaded.instance, nullptr) << loaded.error;
    auto& plugin = *loaded.instance;

    run (plugin, 20, 512); // fill the delay lines, so a leak of old wet signal would show

    // Hosts bypass with the format's own switch (VST3 bypass parameter, LV2 "enabled" port)
    // and the bypassed call; JUCE's VST3 hosting sets the switch itself, its LV2 hosting not.
    auto* bypass = plugin.getBypassParameter();
    ASSERT_NE (bypass, nullptr) << "the format wrapper offers no bypass switch";
    bypass->setValue (1.0f);

    int changedBlocks = 0;
    run (plugin, 20, 512, true, [&] (const auto& in, const auto& out) { changedBlocks += maxDifference (in, out) != 0.0f; });
    EXPECT_EQ (changedBlocks, 0);

    // Leaving bypass processes again.
    bypass->setValue (0.0f);
    DryWet dw;
    run (plugin, 40, 512, false, [&] (const auto& in, const auto& out) { dw.add (in.getReadPointer (0), out.getReadPointer (0), 512); });
    EXPECT_GT (dw.wetToInput(), minWet);
}

TEST_P (HostContract, AcceptsMonoInputIntoStereoOutput)
{
    auto loaded = HostedPlugin::load (GetParam(), 48000.0, maxBlock);
    ASSERT_NE (loaded.instance, nullptr) << loaded.error;
    auto& plugin = *loaded.instance;

    juce::AudioProcessor::BusesLayout monoIn;
    monoIn.inputBuses.add (juce::AudioChannelSet::mono());
    monoIn.outputBuses.add (juce::AudioChannelSet::stereo());
    const bool accepted = plugin.setBusesLayout (monoIn);
    if (GetParam() == Format::lv2)
    {
        // An LV2 bundle declares fixed stereo ports: the host refuses cleanly and stays stereo.
        EXPECT_FALSE (accepted);
        EXPECT_EQ (plugin.getTotalNumInputChannels(), 2);
        return;
    }
    ASSERT_TRUE (accepted) << "the VST3 refused a mono input";
    ASSERT_EQ (plugin.getTotalNumInputChannels(), 1);
    ASSERT_EQ (plugin.getTotalNumOutputChannels(), 2);

    plugin.prepareToPlay (48000.0, 512);
    juce::AudioBuffer<float> in (1, 512), io (2, 512);
    juce::MidiBuffer midi;
    DryWet left, right;
    for (int b = 0; b < 60; ++b)
    {
        noise.fill (in, 1);
        io.copyFrom (0, 0, in, 0, 0, 512);
        io.clear (1, 0, 512);
        plugin.processBlock (io, midi);
        ASSERT_TRUE (allFinite (io)) << "block " << b;
        if (b >= 10)
        {
            left.add (in.getReadPointer (0), io.getReadPointer (0), 512);
            right.add (in.getReadPointer (0), io.getReadPointer (1), 512);
        }
    }

    // The one input feeds both sides, dry and wet.
    for (const auto* side : { &left, &right })
    {
        EXPECT_NEAR (side->dryGain(), equalPowerHalf, 0.05);
        EXPECT_GT (side->wetToInput(), minWet);
    }
}

TEST_P (HostContract, RecoversFromNonFiniteAndDenormalInput)
{
    constexpr int block = 256;
    constexpr int recoveryBlocks = 4;
    const float denormal = std::numeric_limits<float>::denorm_min() * 1000.0f;
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();

    // Bursts of bad samples inside otherwise normal noise, and whole blocks of them.
    const std::function<float (int, float)> bursts[] = {
        [=] (int i, float x) { return i % 7 == 0 ? nan : x; },
        [=] (int i, float x) { return i % 5 == 0 ? (i % 2 == 0 ? inf : -inf) : x; },
        [=] (int i, float) { return i % 2 == 0 ? denormal : -denormal; },
        [=] (int i, float) { return i % 3 == 0 ? nan : (i % 3 == 1 ? inf : denormal); },
    };

    // With a long feedback loop a value that slipped through would circulate for good.
    for (const float feedback : { -1.0f, 0.9f })
    {
        SCOPED_TRACE (feedback < 0.0f ? "default settings" : "echo feedback 90 %");
        auto loaded = loadPrepared (GetParam(), 48000.0, block);
        ASSERT_NE (loaded.instance, nullptr) << loaded.error;
        auto& plugin = *loaded.instance;
        auto* feedbackParameter = HostedPlugin::findParameter (plugin, "Echo Feedback");
        ASSERT_NE (feedbackParameter, nullptr);
        if (feedback >= 0.0f)
            feedbackParameter->setValue (feedback);

        run (plugin, 40, block);

        juce::AudioBuffer<float> io (2, block);
        juce::MidiBuffer midi;
        int subnormals = 0;
        for (const auto& burst : bursts)
        {
            noise.fill (io, 2);
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < block; ++i)
                    io.setSample (c, i, burst (i + c, io.getSample (c, i)));
            plugin.processBlock (io, midi);
            subnormals += countSubnormals (io);
        }

        int afterBurst = 0, lateNonFinite = 0;
        DryWet dw;
        run (plugin, 100, block, false, [&] (const auto& in, const auto& out)
        {
            if (afterBurst >= recoveryBlocks && ! allFinite (out))
                ++lateNonFinite;
            if (afterBurst >= 60)
                dw.add (in.getReadPointer (1), out.getReadPointer (1), block);
            subnormals += countSubnormals (out);
            ++afterBurst;
        });
        EXPECT_EQ (lateNonFinite, 0) << "blocks still not finite " << recoveryBlocks << " blocks after the burst";

        // Not just finite: the chain is alive again, dry and wet.
        EXPECT_NEAR (dw.dryGain(), equalPowerHalf, 0.05);
        EXPECT_GT (dw.wetToInput(), minWet);

        // The tail dies away through the subnormal range without leaving any behind.
        juce::AudioBuffer<float> silence (2, block);
        int silentNonFinite = 0;
        for (int b = 0; b < 200; ++b)
        {
            silence.clear();
            plugin.processBlock (silence, midi);
            silentNonFinite += allFinite (silence) ? 0 : 1;
            subnormals += countSubnormals (silence);
        }
        EXPECT_EQ (silentNonFinite, 0);
        EXPECT_EQ (subnormals, 0);
    }
}

TEST_P (HostContract, MixAtZeroThroughTheHostedParameterPassesInputThrough)
{
    constexpr int block = 512;
    auto loaded = loadPrepared (GetParam(), 48000.0, block);
    ASSERT_NE (loaded.instance, nullptr) << loaded.error;
    auto& plugin = *loaded.instance;

    float differenceAtDefault = 0.0f;
    run (plugin, 20, block, false, [&] (const auto& in, const auto& out) { differenceAtDefault = std::max (differenceAtDefault, maxDifference (in, out)); });
    EXPECT_GT (differenceAtDefault, 0.01f);

    auto* mix = HostedPlugin::findParameter (plugin, "Mix");
    ASSERT_NE (mix, nullptr);
    mix->setValue (0.0f);

    // The gain ramps take 10 ms; allow the host a few blocks to deliver the change.
    int b = 0;
    float worst = 0.0f;
    run (plugin, 40, block, false, [&] (const auto& in, const auto& out)
    {
        if (b++ >= 8)
            worst = std::max (worst, maxDifference (in, out));
    });
    EXPECT_LE (worst, 1e-6f);
}

INSTANTIATE_TEST_SUITE_P (Formats, HostContract, testing::Values (Format::vst3, Format::lv2), formatParamName);

//==============================================================================
class HostSampleRates : public testing::TestWithParam<std::tuple<Format, double>>
{
};

std::string formatAndRateName (const testing::TestParamInfo<std::tuple<Format, double>>& p)
{
    return std::string (HostedPlugin::formatName (std::get<0> (p.param))) + "_" + std::to_string ((int) std::get<1> (p.param));
}

TEST_P (HostSampleRates, ProcessesBlocksOfVaryingSize)
{
    const auto [format, sampleRate] = GetParam();
    auto loaded = loadPrepared (format, sampleRate, maxBlock);
    ASSERT_NE (loaded.instance, nullptr) << loaded.error;
    auto& plugin = *loaded.instance;

    // The awkward sizes in turn, each round followed by three random ones, for a second.
    const int awkwardSizes[] = { 1, 2, 3, 17, 127, 512, 8192 };
    constexpr int roundLength = (int) std::size (awkwardSizes) + 3;
    juce::Random sizes (static_cast<juce::int64> (sampleRate));
    const int total = (int) sampleRate;
    const int settle = (int) (0.05 * sampleRate);

    juce::AudioBuffer<float> in (2, maxBlock), io (2, maxBlock);
    juce::MidiBuffer midi;
    Noise noise;
    DryWet dw[2];
    int done = 0;
    for (int call = 0; done < total; ++call)
    {
        const int slot = call % roundLength;
        const int n = slot < (int) std::size (awkwardSizes) ? awkwardSizes[slot] : 1 + sizes.nextInt (maxBlock);
        in.setSize (2, n, false, false, true);
        io.setSize (2, n, false, false, true);
        noise.fill (in, 2);
        io.makeCopyOf (in, true);
        plugin.processBlock (io, midi);

        ASSERT_TRUE (allFinite (io)) << "call " << call << ", " << n << " samples";
        ASSERT_EQ (countSubnormals (io), 0) << "call " << call;
        if (done >= settle)
            for (int c = 0; c < 2; ++c)
                dw[c].add (in.getReadPointer (c), io.getReadPointer (c), n);
        done += n;
    }

    for (const auto& side : dw)
    {
        EXPECT_NEAR (side.dryGain(), equalPowerHalf, 0.05);
        EXPECT_GT (side.wetToInput(), minWet) << "no wet signal at the default Mix of 50 %";
    }
}

INSTANTIATE_TEST_SUITE_P (Formats, HostSampleRates,
                          testing::Combine (testing::Values (Format::vst3, Format::lv2),
                                            testing::Values (22050.0, 44100.0, 48000.0, 96000.0, 192000.0)),
                          formatAndRateName);
} // namespace
