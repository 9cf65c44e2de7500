#include "support/AllocationGuard.h"
#include "support/ProcessorHarness.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>
#include <xmmintrin.h>

using namespace ProcessorHarness;

namespace
{
/** A play head the test moves by hand. */
struct ManualPlayHead final : juce::AudioPlayHead
{
    juce::Optional<PositionInfo> getPosition() const override
    {
        PositionInfo info;
        info.setIsPlaying (playing);
        info.setIsLooping (looping);
        info.setTimeInSamples (time);
        info.setBpm (bpm);
        return info;
    }
    bool playing = true, looping = false;
    juce::int64 time = 0;
    double bpm = 120.0;
};

float maxAbsDiff (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b, int from = 0)
{
    float worst = 0.0f;
    for (int c = 0; c < a.getNumChannels(); ++c)
        for (int i = from; i < a.getNumSamples(); ++i)
            worst = std::max (worst, std::abs (a.getSample (c, i) - b.getSample (c, i)));
    return worst;
}

int peakIndex (const float* data, int from, int to)
{
    int best = from;
    for (int i = from; i < to; ++i)
        if (std::abs (data[i]) > std::abs (data[best]))
            best = i;
    return best;
}
} // namespace

TEST (Chain, MixZeroReturnsTheInputTimesTheOutputGain)
{
    for (float gainDb : { 0.0f, -6.0f })
    {
        auto p = make ({ { "Mix", 0.0f }, { "OutputGain", gainDb }, { "Mode", 3 } });
        auto input = testSignal (48000);
        auto audio = input;
        render (*p, audio);
        const float g = std::pow (10.0f, gainDb / 20.0f);
        input.applyGain (g);
        // The wet gain glides from 1 to 0 over the first 10 ms, the output gain over 256 samples.
        EXPECT_LT (maxAbsDiff (audio, input, 1024), 1.0e-6f) << gainDb;
    }
}

TEST (Chain, EveryModeProducesAWetSignalAtDefaults)
{
    for (int mode = 0; mode < 4; ++mode)
    {
        auto p = make ({ { "Mode", (float) mode }, { "Mix", 100.0f } });
        auto audio = testSignal (48000);
        render (*p, audio);
        SCOPED_TRACE (mode);
        EXPECT_TRUE (TestSignals::allFiniteAndNormal (audio));
        const double level = TestSignals::rms (audio.getReadPointer (0, 24000), 24000);
        EXPECT_GT (level, 0.05);
        EXPECT_LT (level, 1.5);
    }
}

TEST (Chain, EchoRepeatLandsAtTheEchoDelay)
{
    // Multi at depth 0 reads every voice 0.333 ms (16 samples at 48 kHz) behind its input,
    // so the impulse leaves the chorus after 16 samples, comes back from the echo line after
    // d samples and passes the voices once more.
    const double fs = 48000.0;
    for (float echoDelay : { 10.0f, 50.0f })
    {
        auto p = make ({ { "Mode", 1 }, { "MultiDepth", 0 }, { "Mix", 100 }, { "EchoFeedback", 50 }, { "EchoDelay", echoDelay } }, fs);
        juce::AudioBuffer<float> audio (2, 96000);
        audio.clear();
        const int at = 24000; // after the smoothers have settled
        audio.setSample (0, at, 1.0f);
        audio.setSample (1, at, 1.0f);
        render (*p, audio);

        const float e = echoDelay * 0.01f;
        const int d = (int) std::nearbyint ((e * e + 0.0001f) * (float) fs);
        const int tap = 16;
        const float* out = audio.getReadPointer (0);
        EXPECT_EQ (peakIndex (out, at, at + 2 * tap), at + tap) << echoDelay;
        const int echoPeak = peakIndex (out, at + 2 * tap, at + d + 4 * tap);
        EXPECT_NEAR (echoPeak, at + d + 2 * tap, 1) << echoDelay;
        // Scaled by 0.99 x feedback (less what the shelf on one voice and the high-passes take).
        EXPECT_NEAR (out[echoPeak] / out[at + tap], 0.99f * 0.5f, 0.06f) << echoDelay;
    }
}

TEST (Chain, NoEchoWithFeedbackZeroOrEchoDisabled)
{
    // Without an echo the output cannot depend on the echo time.
    auto renderWith = [] (Settings settings)
    {
        settings.push_back ({ "Mode", 1 });
        settings.push_back ({ "Mix", 100 });
        auto p = make (settings);
        auto audio = testSignal (48000);
        render (*p, audio);
        return audio;
    };
    const auto reference = renderWith ({ { "EchoFeedback", 0 }, { "EchoDelay", 5 } });
    EXPECT_EQ (maxAbsDiff (reference, renderWith ({ { "EchoFeedback", 0 }, { "EchoDelay", 60 } })), 0.0f);
    EXPECT_EQ (maxAbsDiff (reference, renderWith ({ { "EchoFeedback", 80 }, { "EchoDelay", 60 }, { "EchoEnable", 0 } })), 0.0f);
    EXPECT_GT (maxAbsDiff (reference, renderWith ({ { "EchoFeedback", 80 }, { "EchoDelay", 60 } })), 0.01f);
}

TEST (Chain, ModeSwitchCrossfadesWithoutAClick)
{
    auto p = make ({ { "Mode", 3 }, { "Mix", 100 } });
    auto audio = testSignal (96000);
    auto reference = audio;
    int done = 0;
    juce::MidiBuffer midi;
    float largestJump = 0.0f, steadyJump = 0.0f;
    float previous = 0.0f;
    for (int start = 0; start < 96000; start += 256)
    {
        if (start == 48128)
            set (*p, "Mode", 0);
        juce::AudioBuffer<float> block (audio.getArrayOfWritePointers(), 2, start, 256);
        p->processBlock (block, midi);
        for (int i = 0; i < 256; ++i)
        {
            const float x = block.getSample (0, i);
            const float jump = std::abs (x - previous);
            previous = x;
            if (start >= 24000 && start < 48000)
                steadyJump = std::max (steadyJump, jump);
            if (start >= 48128 && start < 48128 + 4096)
                largestJump = std::max (largestJump, jump);
        }
        done += 256;
    }
    EXPECT_EQ (done, 96000);
    EXPECT_GT (steadyJump, 0.0f);
    EXPECT_LT (largestJump, 2.0f * steadyJump);
    EXPECT_EQ (p->getModeIndex(), 0);
}

TEST (Chain, TransportJumpsResetUnlessLoopingBackwards)
{
    // The echo's tail is what a reset clears: feed a burst, jump, then listen to silence.
    struct Case
    {
        bool looping;
        juce::int64 jumpBy;
        bool expectReset;
    };
    for (const auto& c : { Case { true, -96000, false }, Case { false, -96000, true }, Case { false, 96000, true },
                           Case { false, 512, false } })
    {
        auto p = make ({ { "Mode", 1 }, { "Mix", 100 }, { "EchoFeedback", 90 }, { "EchoDelay", 40 } });
        ManualPlayHead head;
        head.looping = c.looping;
        p->setPlayHead (&head);
        juce::MidiBuffer midi;
        auto burst = testSignal (512);
        juce::AudioBuffer<float> silence (2, 512);
        for (int b = 0; b < 40; ++b)
        {
            head.time += 512;
            silence.clear();
            p->processBlock (b < 20 ? burst : silence, midi);
            burst = testSignal (512);
        }
        head.time += c.jumpBy;
        float tail = 0.0f;
        for (int b = 0; b < 20; ++b)
        {
            silence.clear();
            silence.setSample (0, 0, 0.0f); // not marked clear
            p->processBlock (silence, midi);
            head.time += 512;
            if (b >= 4) // past the wet filters' own decay
                tail = std::max (tail, silence.getMagnitude (0, 512));
        }
        SCOPED_TRACE (testing::Message() << "looping " << c.looping << " jump " << c.jumpBy);
        if (c.expectReset)
            EXPECT_LT (tail, 1.0e-4f);
        else
            EXPECT_GT (tail, 1.0e-3f);
        p->setPlayHead (nullptr);
    }
}

TEST (Chain, TailDiesAwayAtLowSampleRates)
{
    // At 22050 and 32000 Hz the default Lowpass (20 kHz) sits at Nyquist: its glide there
    // must not leave a tone behind.
    for (double fs : { 22050.0, 32000.0, 48000.0 })
    {
        auto p = make ({ { "Mode", 1 }, { "Mix", 100 } }, fs);
        juce::AudioBuffer<float> audio (2, (int) fs * 4);
        audio.clear();
        auto burst = testSignal ((int) fs / 2, fs);
        for (int c = 0; c < 2; ++c)
            audio.copyFrom (c, 0, burst, c, 0, burst.getNumSamples());
        render (*p, audio);
        const int lastSecond = audio.getNumSamples() - (int) fs;
        EXPECT_LT (audio.getMagnitude (lastSecond, (int) fs), 1.0e-6f) << fs;
    }
}

TEST (Chain, MonoInputIsUpmixed)
{
    RandomSeeds::useFixedSeeds (7);
    VelmoraProcessor p;
    RandomSeeds::useClockSeeds();
    auto layout = p.getBusesLayout();
    layout.inputBuses.getReference (0) = juce::AudioChannelSet::mono();
    ASSERT_TRUE (p.setBusesLayout (layout));
    set (p, "Mix", 0);
    p.prepareToPlay (48000, 512);
    auto audio = testSignal (4096);
    auto left = audio;
    juce::FloatVectorOperations::fill (audio.getWritePointer (1), 0.9f, 4096); // stale right channel
    render (p, audio);
    for (int i = 1024; i < 4096; ++i) // after the wet gain's glide to 0
        ASSERT_EQ (audio.getSample (1, i), left.getSample (0, i)) << i;
}

TEST (Chain, SameOutputWhateverTheBlockSizes)
{
    // Random block sizes after an identical warm-up (the dry and wet gains glide per block).
    for (int mode = 0; mode < 4; ++mode)
    {
        const Settings settings { { "Mode", (float) mode }, { "EchoFeedback", 40 }, { "EchoDelay", 20 } };
        auto a = make (settings, 48000, 8192, 99);
        auto b = make (settings, 48000, 8192, 99);
        auto x = testSignal (48000);
        auto y = x;
        render (*a, x, [] { return 512; });
        juce::Random r (mode);
        int calls = 0;
        render (*b, y, [&] { return calls++ < 8 ? 512 : (r.nextInt (4) == 0 ? 1 + r.nextInt (3) : 1 + r.nextInt (2000)); });
        EXPECT_LT (maxAbsDiff (x, y), 1.0e-6f) << mode;
    }
}

TEST (Chain, NonFiniteInputLeavesNoTrace)
{
    for (int mode = 0; mode < 4; ++mode)
    {
        auto p = make ({ { "Mode", (float) mode }, { "EchoFeedback", 99 }, { "EchoDelay", 5 }, { "Mix", 100 } });
        juce::MidiBuffer midi;
        for (int b = 0; b < 40; ++b)
        {
            auto block = testSignal (512);
            if (b == 10)
                block.setSample (0, 100, std::numeric_limits<float>::quiet_NaN());
            if (b == 11)
                block.setSample (1, 3, std::numeric_limits<float>::infinity());
            if (b == 12)
                for (int i = 0; i < 512; ++i)
                    block.setSample (0, i, i % 2 ? 1.0e30f : -1.0e30f);
            if (b == 13)
                juce::FloatVectorOperations::fill (block.getWritePointer (1), 1.0e-40f, 512);
            p->processBlock (block, midi);
            if (b != 12)
            {
                ASSERT_TRUE (TestSignals::allFiniteAndNormal (block)) << "mode " << mode << " block " << b;
            }
        }
    }
}

TEST (Chain, ProcessingNeverAllocates)
{
    // Every mode, a crossfade, the echo on, and block sizes from 1 to 8192.
    const int sizes[] = { 1, 2, 3, 17, 127, 512, 4096, 8192, 333 };
    for (int mode = 0; mode < 4; ++mode)
    {
        auto p = make ({ { "Mode", (float) mode }, { "EchoFeedback", 60 }, { "EchoDelay", 30 } }, 44100, 8192);
        juce::AudioBuffer<float> audio (2, 8192);
        juce::MidiBuffer midi;
        long allocations = 0;
        int step = 0;
        for (int n : sizes)
            for (int repeat = 0; repeat < 3; ++repeat)
            {
                auto signal = testSignal (n);
                juce::AudioBuffer<float> block (audio.getArrayOfWritePointers(), 2, 0, n);
                for (int c = 0; c < 2; ++c)
                    block.copyFrom (c, 0, signal, c, 0, n);
                if (++step % 5 == 0) // a mode change starts a crossfade (outside the guard)
                    set (*p, "Mode", (float) ((mode + step) % 4));
                set (*p, "EchoDelay", (float) (step % 100));
                const AllocationGuard guard;
                p->processBlock (block, midi);
                allocations += guard.count();
            }
        EXPECT_EQ (allocations, 0) << "mode " << mode;
    }
}

TEST (Chain, MidiIsIgnoredWhileDisabledAndDenormalModeIsRestored)
{
    auto a = make ({ { "Mode", 3 } });
    auto b = make ({ { "Mode", 3 } });
    auto x = testSignal (4096);
    auto y = x;
    juce::MidiBuffer none, some;
    some.addEvent (juce::MidiMessage::programChange (1, 5), 10);
    some.addEvent (juce::MidiMessage::controllerEvent (1, 7, 100), 20);
    const auto modeBefore = _mm_getcsr();
    for (int s = 0; s < 4096; s += 512)
    {
        juce::AudioBuffer<float> bx (x.getArrayOfWritePointers(), 2, s, 512);
        juce::AudioBuffer<float> by (y.getArrayOfWritePointers(), 2, s, 512);
        a->processBlock (bx, none);
        b->processBlock (by, some);
    }
    EXPECT_EQ (_mm_getcsr(), modeBefore);
    EXPECT_EQ (maxAbsDiff (x, y), 0.0f);
}

TEST (Chain, BypassReturnsTheInput)
{
    auto p = make ({ { "Mode", 2 } });
    auto audio = testSignal (2048);
    const auto input = audio;
    juce::MidiBuffer midi;
    p->processBlockBypassed (audio, midi);
    EXPECT_EQ (maxAbsDiff (audio, input), 0.0f);
}
