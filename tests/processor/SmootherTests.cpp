#include "plugin/processor/Smoothers.h"

#include <gtest/gtest.h>

#include <vector>

TEST (RampedValue, LandsOnItsTargetAtExactlyItsStepsthSampleWhateverTheBlocks)
{
    for (int steps : { 1, 2, 441, 512, 4410 })
        for (int block : { 1, 7, 64, 512, 10000 })
        {
            RampedValue v { steps, 0.0001f };
            v.setTarget (0.8f);
            std::vector<float> out;
            std::vector<float> chunk ((size_t) block);
            while ((int) out.size() < steps + 3)
            {
                v.render (chunk.data(), block);
                out.insert (out.end(), chunk.begin(), chunk.end());
            }
            SCOPED_TRACE (testing::Message() << "steps " << steps << " block " << block);
            EXPECT_EQ (out[(size_t) steps - 1], 0.8f);
            if (steps > 1)
            {
                EXPECT_LT (out[(size_t) steps - 2], 0.8f);
                EXPECT_NEAR (out[(size_t) steps - 2], 0.8f * (float) (steps - 1) / (float) steps, 2.0e-4f);
            }
            EXPECT_TRUE (v.done);
        }
}

TEST (RampedValue, SmallChangesJumpAndTinyStepsAreRaisedToEpsilon)
{
    RampedValue v { 100, 0.1f };
    v.snap (1000.0f);
    v.setTarget (1000.05f); // within epsilon of the old target: jump
    EXPECT_TRUE (v.done);
    EXPECT_EQ (v.current, 1000.05f);

    RampedValue w { 10000, 0.0001f };
    w.setTarget (0.5f); // step 0.00005 is below epsilon: raised to 0.0001, so 5000 samples
    std::vector<float> out (6000);
    w.render (out.data(), 6000);
    EXPECT_EQ (out[4999], 0.5f);
    EXPECT_LT (out[4998], 0.5f);
}

TEST (GainRamp, GlidesOverItsLengthThenHolds)
{
    juce::AudioBuffer<float> b (2, 1000);
    b.clear();
    for (int c = 0; c < 2; ++c)
        juce::FloatVectorOperations::fill (b.getWritePointer (c), 1.0f, 1000);

    GainRamp ramp;
    ramp.length = 100;
    ramp.apply (b, 1000, 0.0f);
    EXPECT_FLOAT_EQ (b.getSample (0, 0), 1.0f);
    EXPECT_NEAR (b.getSample (1, 50), 0.5f, 1.0e-5f);
    EXPECT_NEAR (b.getSample (0, 99), 0.01f, 1.0e-5f);
    EXPECT_EQ (b.getSample (0, 100), 0.0f);
    EXPECT_EQ (b.getSample (1, 999), 0.0f);
    EXPECT_EQ (ramp.gain, 0.0f);

    // Blocks shorter than the ramp move part of the way.
    GainRamp shortRamp;
    shortRamp.length = 100;
    juce::AudioBuffer<float> s (1, 25);
    juce::FloatVectorOperations::fill (s.getWritePointer (0), 1.0f, 25);
    shortRamp.apply (s, 25, 0.0f);
    EXPECT_FLOAT_EQ (shortRamp.gain, 0.75f);
    EXPECT_NEAR (s.getSample (0, 24), 1.0f - 24.0f * 0.01f, 1.0e-5f);
}

TEST (OutputLimiter, PullsPeaksAboveThresholdToward099AndRecovers)
{
    OutputLimiter lim;
    // Quiet signals pass untouched.
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ (lim.processSample (3.9f), 3.9f);

    // A sustained peak of 8: gain approaches 0.99/8 with a coefficient of 1/64 per sample.
    float y = 0;
    for (int i = 0; i < 2000; ++i)
        y = lim.processSample (8.0f);
    EXPECT_NEAR (lim.gain, 0.99f / 8.0f, 1.0e-3f);
    EXPECT_NEAR (y, 0.99f, 0.01f);
    const float afterOneSample = [&] {
        OutputLimiter l;
        l.processSample (8.0f);
        return l.gain;
    }();
    EXPECT_NEAR (afterOneSample, 1.0f + (0.99f / 8.0f - 1.0f) / 64.0f, 1.0e-6f);

    // Below the threshold the gain holds for 4096 samples, then releases to 1 within 256.
    for (int i = 0; i < 4095; ++i)
        lim.processSample (0.1f);
    EXPECT_LT (lim.gain, 0.2f);
    for (int i = 0; i < 300; ++i)
        lim.processSample (0.1f);
    EXPECT_EQ (lim.gain, 1.0f);
}

TEST (OutputLimiter, ASingleSpikeNeverDrivesTheGainNegative)
{
    OutputLimiter lim;
    lim.processSample (8.0f);
    float lowest = 1.0f;
    for (int i = 0; i < 10000; ++i)
    {
        lim.processSample (0.1f);
        lowest = std::min (lowest, lim.gain);
    }
    EXPECT_GE (lowest, 0.99f / 8.0f - 1.0e-6f);
    EXPECT_EQ (lim.gain, 1.0f);
}
