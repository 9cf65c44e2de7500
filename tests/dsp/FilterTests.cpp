#include "halvex/dsp/Filters12dB.h"
#include "halvex/dsp/SwitchableFilter.h"
#include "plugin/dsp/GuardedBiquad.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace
{
using Process = std::function<float (float)>;

// Steady-state gain in dB at hz: two seconds of sine, measured over the second.
double gainDbAt (const Process& process, double hz, double fs)
{
    const int n = (int) (2 * fs);
    auto x = TestSignals::sine (hz, fs, n, 0.5f);
    for (auto& s : x)
        s = process (s);
    const int half = n / 2;
    return TestSignals::toDb (TestSignals::amplitudeAt (x.data() + half, half, hz, fs) / 0.5);
}

// Response to a constant (z = 1) and to +1, -1, ... (z = -1) after settling.
double dcGain (const Process& process)
{
    float y = 0.0f;
    for (int i = 0; i < 200000; ++i)
        y = process (1.0f);
    return y;
}

double nyquistGain (const Process& process)
{
    float y = 0.0f;
    for (int i = 0; i < 200000; ++i)
        y = process ((i & 1) ? -1.0f : 1.0f);
    return std::abs (y);
}

std::vector<float> noise (int n, juce::int64 seed = 7)
{
    juce::Random r (seed);
    std::vector<float> v ((size_t) n);
    for (auto& s : v)
        s = r.nextFloat() * 2.0f - 1.0f;
    return v;
}
} // namespace

TEST (Filters12dB, HighPassAttenuationAtAndBelowCutoff)
{
    halvex::QoDelayHiPassFilter12dB hp;
    hp.prepare (512, 44100.0f);
    hp.setCutoff (1000.0f);
    const Process p = [&] (float x) { return hp.processSample (x); };

    EXPECT_NEAR (gainDbAt (p, 1000.0, 44100.0), -6.02, 0.05);
    hp.reset();
    EXPECT_NEAR (gainDbAt (p, 500.0, 44100.0), -14.0, 0.05);
    hp.reset();
    EXPECT_NEAR (gainDbAt (p, 10000.0, 44100.0), 0.0, 0.1);
}

TEST (Filters12dB, LowPassLowFrequencyGainIsOnePlusTOverOnePlusTSquared)
{
    for (float cutoff : { 100.0f, 1000.0f, 5000.0f })
    {
        halvex::QoDelayLowPassFilter12dB lp;
        lp.prepare (512, 44100.0f);
        lp.setCutoff (cutoff);
        const double t = std::tan (juce::MathConstants<double>::pi * cutoff / 44100.0);
        EXPECT_NEAR (dcGain ([&] (float x) { return lp.processSample (x); }), 1.0 + t / ((1.0 + t) * (1.0 + t)), 1.0e-4)
            << cutoff << " Hz";
    }
}

TEST (Filters12dB, CutoffAboveNyquistIsLimitedAndTheLowPassThenPasses)
{
    halvex::QoDelayLowPassFilter12dB lp;
    lp.prepare (512, 32000.0f);
    lp.setCutoff (20000.0f);
    EXPECT_EQ (lp.getEffectiveCutoff(), 16000.0f);
    // Exactly 1: a coefficient a hair above 1 makes the state recursion slowly unstable.
    EXPECT_EQ (lp.getG(), 1.0f);
    EXPECT_EQ (lp.getA(), 1.0f);

    for (float x : noise (2000))
        ASSERT_EQ (lp.processSample (x), x);

    for (float fs : { 22050.0f, 44100.0f, 48000.0f, 96000.0f })
    {
        halvex::QoDelayHiPassFilter12dB hp;
        hp.prepare (512, fs);
        hp.setCutoff (fs);
        lp.prepare (512, fs);
        EXPECT_LE (hp.getA(), 1.0f) << fs;
        EXPECT_LE (hp.getG(), 1.0f) << fs;
        EXPECT_LE (lp.getA(), 1.0f) << fs;
    }
}

TEST (Filters12dB, ZeroCutoffHighPassPassesLowPassSilences)
{
    halvex::QoDelayHiPassFilter12dB hp;
    halvex::QoDelayLowPassFilter12dB lp;
    hp.prepare (512, 44100.0f);
    lp.prepare (512, 44100.0f);
    hp.setCutoff (1000.0f); // make sure 0 is set, not just the construction default
    lp.setCutoff (1000.0f);
    hp.setCutoff (0.0f);
    lp.setCutoff (0.0f);

    for (float x : noise (2000))
    {
        ASSERT_EQ (hp.processSample (x), x);
        ASSERT_EQ (lp.processSample (x), 0.0f);
    }
}

TEST (Filters12dB, PrepareAtTheSameRateKeepsCoefficientsAndClearsState)
{
    const auto input = noise (500);
    auto render = [&] (halvex::HalvexFilter& f)
    {
        std::vector<float> out;
        for (float x : input)
            out.push_back (f.processSample (x));
        return out;
    };

    halvex::QoDelayHPLPFiltersSerie12dB used, fresh;
    for (auto* f : { &used, &fresh })
    {
        f->prepare (512, 48000.0f);
        f->highPass.setCutoff (300.0f);
        f->lowPass.setCutoff (3000.0f);
    }
    render (used);
    const float g = used.lowPass.getG();

    used.prepare (256, 48000.0f);
    EXPECT_EQ (used.lowPass.getG(), g);
    EXPECT_EQ (render (used), render (fresh));
}

TEST (SwitchableFilter, PassesItsFiltersOutputPerBlockAndPerSample)
{
    const auto input = noise (3000);

    halvex::QoDelayHPLPFiltersSerie12dB reference;
    reference.prepare (512, 44100.0f);
    reference.highPass.setCutoff (200.0f);
    reference.lowPass.setCutoff (5000.0f);
    std::vector<float> expected;
    for (float x : input)
        expected.push_back (reference.lowPass.processSample (reference.highPass.processSample (x)));

    for (bool perSample : { false, true })
    {
        halvex::SwitchableFilter slot;
        auto* serie = static_cast<halvex::QoDelayHPLPFiltersSerie12dB*> (
            slot.addFilter (std::make_unique<halvex::QoDelayHPLPFiltersSerie12dB>()));
        slot.prepare (512, 44100.0f);
        serie->highPass.setCutoff (200.0f);
        serie->lowPass.setCutoff (5000.0f);

        auto out = input;
        if (perSample)
            for (auto& s : out)
                s = slot.processSample (s);
        else
            for (int start = 0; start < (int) out.size(); start += 300) // crosses the initial fade
                slot.processBlock (out.data() + start, 300);

        for (size_t i = 0; i < out.size(); ++i)
            ASSERT_NEAR (out[i], expected[i], 1.0e-6f) << (perSample ? "per sample " : "per block ") << i;
        EXPECT_FALSE (slot.isFading());
    }
}

TEST (FeedbackHighPass, ThreeDecibelsDownAtFortyHertz)
{
    for (double fs : { 44100.0, 48000.0, 96000.0 })
    {
        GuardedBiquad f;
        f.setCoefficientsAndReset (GuardedBiquad::feedbackHighPass (fs));
        const Process p = [&] (float x) { return f.process (x); };
        EXPECT_NEAR (gainDbAt (p, 40.0, fs), -3.01, 0.05) << fs;
        f.resetState();
        EXPECT_NEAR (gainDbAt (p, 1000.0, fs), 0.0, 0.01) << fs;
        f.resetState();
        EXPECT_NEAR (gainDbAt (p, 10.0, fs), -24.1, 0.2) << fs;
    }
}

TEST (HighShelf, ScalesTheHighBandLeavesLowsAtUnity)
{
    struct Row
    {
        double f0, A, highGain;
    };
    // Rand, Multi, Retro wet, Retro send.
    const Row rows[] = { { 1000.0, 0.9486832618713379, 0.9 },
                         { 1600.0, 0.8660253882408142, 0.75 },
                         { 1300.0, 0.7071067690849304, 0.5 },
                         { 1200.0, 0.9219544529914856, 0.85 } };

    for (const auto& row : rows)
    {
        const GuardedBiquad::ShelfDesign design { juce::MathConstants<double>::twoPi * row.f0, row.A,
                                                  std::sqrt (row.A), row.A - 1.0, row.A + 1.0 };
        GuardedBiquad f;
        f.setCoefficientsAndReset (GuardedBiquad::highShelf (design, 44100.0));
        const Process p = [&] (float x) { return f.process (x); };
        EXPECT_NEAR (nyquistGain (p), row.highGain, 1.0e-4) << row.f0;
        f.resetState();
        EXPECT_NEAR (dcGain (p), 1.0, 1.0e-4) << row.f0;
    }
}

TEST (GuardedBiquad, FlushesTinyOutputsBeforeTheyReachTheState)
{
    GuardedBiquad f;
    // y = x + s1, s1 = 1e4 * y: anything that slipped into the state would be loud.
    f.setCoefficientsAndReset ({ 1.0f, 0.0f, 0.0f, -1.0e4f, 0.0f });

    for (float tiny : { 5.0e-9f, -5.0e-9f, 1.0e-8f, -1.0e-8f })
    {
        EXPECT_EQ (f.process (tiny), 0.0f) << tiny;
        EXPECT_EQ (f.process (0.0f), 0.0f) << tiny;
    }
    EXPECT_EQ (f.process (2.0e-8f), 2.0e-8f);
    EXPECT_NEAR (f.process (0.0f), 2.0e-4f, 1.0e-9f);
}
