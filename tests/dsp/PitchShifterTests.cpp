#include "plugin/dsp/PitchShifter.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{
constexpr double fs = 44100.0;

struct Shifter
{
    explicit Shifter (int frameSize = 588) : shifter (4142, 8284)
    {
        shifter.setFrameSize (frameSize);
        shifter.setSampleRate ((float) fs);
    }

    std::vector<float> process (const std::vector<float>& in)
    {
        std::vector<float> out;
        for (float x : in)
            out.push_back (shifter.processSample (x));
        return out;
    }

    PitchShifter shifter;
};

} // namespace

TEST (PitchShifter, BinsMoveUpByTheRatioAndThoseAboveHalfAreDropped)
{
    struct Case
    {
        float pitch, jitter, spread;
        double inHz, lowestHz, highestHz;
    };
    const Case cases[] = {
        { 2.0f, 0.0f, 0.0f, 1000.0, 1999.0, 2001.0 },                  // octave: bin k lands on 2k
        { 0.5f, 0.0f, 0.0f, 3000.0, 1499.5, 1500.5 },                  // and down
        { 1.0f, 0.0f, 1.0f, 1000.0, 999.5, 1000.5 },                   // phase spread alone keeps frequencies
        { 1.0f, 10.0f, 0.0f, 1000.0, 1000.0, 1010.0 },                 // jitter only raises, by under 10 Hz
        { 1.0174797f, 0.0f, 0.0f, 5000.0, 5087.4 - 5.0, 5087.4 + 5.0 } // 30 cents
    };
    for (const auto& c : cases)
    {
        Shifter s;
        s.shifter.setPitch (c.pitch);
        s.shifter.setJitter (c.jitter);
        s.shifter.setPhaseSpread (c.spread);
        const auto out = s.process (TestSignals::sine (c.inHz, fs, 88200));
        const double f = TestSignals::zeroCrossingFrequency (out, 44100, fs);
        EXPECT_GE (f, c.lowestHz) << "pitch " << c.pitch << " jitter " << c.jitter << " spread " << c.spread;
        EXPECT_LE (f, c.highestHz) << "pitch " << c.pitch << " jitter " << c.jitter << " spread " << c.spread;
        EXPECT_GT (TestSignals::rms (out.data() + 44100, 44100), 0.1);
    }

    // 15 kHz doubled is beyond half the sample rate: nothing is left.
    Shifter s;
    s.shifter.setPitch (2.0f);
    const auto out = s.process (TestSignals::sine (15000.0, fs, 44100));
    EXPECT_LT (TestSignals::rms (out.data() + 22050, 22050), 1.0e-3);
}

TEST (PitchShifter, IdleFeedKeepsTheInputCurrentForTheSwitch)
{
    // The idle feed skips the transforms, so what it leaves in the output is quiet; but its
    // input FIFO is current, so one frame after the switch the output is the delayed input
    // even where the frames still reach back into the idle stretch.
    const auto input = TestSignals::sine (440.0, fs, 20000, 0.5f);
    Shifter s;
    s.shifter.feedIdle (input.data(), 10000);
    const auto out = s.process (std::vector<float> (input.begin() + 10000, input.end()));

    const int latency = 588;
    for (int k = 0; k < 147; ++k)
        ASSERT_LT (std::abs (out[(size_t) k]), 0.01f) << k;

    double err = 0.0, ref = 0.0;
    for (int k = latency; k < 2 * latency + 1000; ++k)
    {
        const double expected = 0.9975 * input[(size_t) (10000 + k - latency)];
        err += (out[(size_t) k] - expected) * (out[(size_t) k] - expected);
        ref += expected * expected;
    }
    EXPECT_LT (std::sqrt (err / ref), 0.01);
}

TEST (PitchShifter, FrameSizeChangeRebuildsAndKeepsWorking)
{
    Shifter s (512);
    s.shifter.setFrameSize (1280);
    s.shifter.setSampleRate ((float) fs);
    EXPECT_EQ (s.shifter.getRandomPhases().size(), 641u);
    for (float p : s.shifter.getRandomPhases())
        ASSERT_LE (std::abs (p), juce::MathConstants<float>::pi);
    for (float a : s.shifter.getRandomAmounts())
        ASSERT_TRUE (a >= 0.0f && a < 1.0f);

    const auto in = TestSignals::sine (1000.0, fs, 20000, 0.5f);
    const auto out = s.process (in);
    for (int k = 2000; k < 20000; ++k)
        ASSERT_NEAR (out[(size_t) k], 0.9975f * in[(size_t) (k - 1280)], 0.01f) << k;
}
