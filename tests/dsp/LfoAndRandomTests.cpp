#include "plugin/dsp/RandomGlide.h"
#include "plugin/dsp/WavetableLfo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{
std::vector<float> run (RandomGlide& g, int n)
{
    std::vector<float> out;
    for (int i = 0; i < n; ++i)
        out.push_back (g.next());
    return out;
}

// Restores clock seeding however a test ends.
struct FixedSeeds
{
    explicit FixedSeeds (juce::int64 base) { RandomSeeds::useFixedSeeds (base); }
    ~FixedSeeds() { RandomSeeds::useClockSeeds(); }
};
} // namespace

TEST (WavetableLfo, TriangleStartsAtTheInitialPhase)
{
    struct Case
    {
        double initialPhase;
        float firstValue;
    };
    for (const auto& c : { Case { 0.0, 0.0f }, Case { 0.25, 1.0f }, Case { 0.125, 0.5f }, Case { 0.75, -1.0f },
                           Case { 1.25, 1.0f } })
    {
        WavetableLfo lfo (c.initialPhase);
        lfo.setSampleRate (44100.0f);
        lfo.setFrequency (3.0f);
        EXPECT_FLOAT_EQ (lfo.next(), c.firstValue) << c.initialPhase;
    }
}

TEST (WavetableLfo, OneHertzAtFortyFourKiloHertzWrapsAfterOneSecond)
{
    WavetableLfo lfo (0.0);
    lfo.setSampleRate (44100.0f);
    lfo.setFrequency (1.0f);
    EXPECT_NEAR (lfo.getIncrement(), 0.023219955, 1.0e-9);

    float lowest = 2.0f, highest = -2.0f;
    int wraps = 0;
    double previous = lfo.getPhase();
    for (int i = 0; i < 44100; ++i)
    {
        const float v = lfo.next();
        lowest = std::min (lowest, v);
        highest = std::max (highest, v);
        wraps += lfo.getPhase() < previous ? 1 : 0;
        previous = lfo.getPhase();
    }
    const double phase = lfo.getPhase();
    EXPECT_LE (wraps, 1);
    EXPECT_LT (std::min (phase, 1024.0 - phase), 1.0e-3);
    EXPECT_NEAR (highest, 1.0f, 1.0e-3f);
    EXPECT_NEAR (lowest, -1.0f, 1.0e-3f);

    // The value belongs to the phase before the advance: a quarter cycle later is the peak.
    WavetableLfo quarter (0.0);
    quarter.setSampleRate (4096.0f);
    quarter.setFrequency (1.0f);
    for (int i = 0; i < 1024; ++i)
        quarter.next();
    EXPECT_FLOAT_EQ (quarter.next(), 1.0f);
}

TEST (WavetableLfo, ZeroFrequencyHoldsTheCurrentValue)
{
    WavetableLfo lfo (0.11);
    lfo.setSampleRate (48000.0f);
    lfo.setFrequency (5.0f);
    for (int i = 0; i < 1000; ++i)
        lfo.next();
    lfo.setFrequency (0.0f);
    const float held = lfo.next();
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ (lfo.next(), held);

    // A sample-rate change keeps the phase.
    lfo.setSampleRate (96000.0f);
    EXPECT_EQ (lfo.next(), held);
}

TEST (ShapeModulation, SoftSaturatesOddlyWithHalfSlopeAtZero)
{
    struct Case
    {
        float x, y;
    };
    for (const auto& c : { Case { 2.0f, 0.7272727f }, Case { 2.2f, 0.7617535f }, Case { 0.0f, 0.0f } })
    {
        EXPECT_NEAR (shapeModulation (c.x), c.y, 1.0e-6f) << c.x;
        EXPECT_NEAR (shapeModulation (-c.x), -c.y, 1.0e-6f) << -c.x;
    }
    EXPECT_NEAR (shapeModulation (1.0e-3f) / 1.0e-3f, 0.5f, 1.0e-3f);
    EXPECT_NEAR (shapeModulation (1000.0f), 1.0f, 5.0e-3f);

    // Monotonic over the range the callers use.
    float previous = shapeModulation (-2.5f);
    for (float x = -2.49f; x <= 2.5f; x += 0.01f)
    {
        const float y = shapeModulation (x);
        ASSERT_GT (y, previous) << x;
        previous = y;
    }
}

TEST (RandomGlide, ZeroFrequencyReturnsOne)
{
    RandomGlide g;
    g.setSampleRate (44100.0f);
    g.setFrequency (0.0f);
    for (float v : run (g, 1000))
        ASSERT_EQ (v, 1.0f);
}

TEST (RandomGlide, GlidesLinearlyToANewTargetEveryPeriod)
{
    const FixedSeeds seeds (1234);
    RandomGlide g;
    g.setSampleRate (1000.0f);
    g.setFrequency (10.0f); // a new target every 100 samples
    EXPECT_FLOAT_EQ (g.getPeriod(), 0.1f);

    std::vector<float> out, targets;
    for (int i = 0; i < 1200; ++i)
    {
        out.push_back (g.next());
        targets.push_back (g.getLastValue());
    }

    std::vector<int> draws;
    for (int i = 1; i < (int) out.size(); ++i)
        if (targets[(size_t) i] != targets[(size_t) i - 1])
            draws.push_back (i);
    ASSERT_GE (draws.size(), 10u);

    for (size_t d = 0; d + 1 < draws.size(); ++d)
    {
        const int start = draws[d], end = draws[d + 1];
        EXPECT_NEAR (end - start, 100, 1) << "period " << d;

        // Lands on the drawn value by the end of the period ...
        const float target = targets[(size_t) start];
        EXPECT_GE (target, 0.0f);
        EXPECT_LT (target, 1.0f);
        EXPECT_NEAR (out[(size_t) end - 1], target, 1.0e-5f) << "period " << d;

        // ... in equal steps of one hundredth of the distance.
        const float from = out[(size_t) start - 1];
        const float expectedStep = (target - from) / 100.0f;
        if (std::abs (expectedStep) < 2.0e-5f)
            continue; // tiny moves take the minimum step instead
        for (int i = start; i < end - 2; ++i)
            ASSERT_NEAR (out[(size_t) i + 1] - out[(size_t) i], expectedStep, 2.0e-6f) << "period " << d << " sample " << i;
    }
}

TEST (RandomGlide, SeedsMakeSequencesRepeatableAndClockSeedsDiffer)
{
    auto sequence = [] (RandomGlide& g)
    {
        g.setSampleRate (1000.0f);
        g.setFrequency (50.0f);
        return run (g, 2000);
    };

    std::vector<float> first, second;
    {
        const FixedSeeds seeds (99);
        RandomGlide g;
        first = sequence (g);
    }
    {
        const FixedSeeds seeds (99);
        RandomGlide g;
        second = sequence (g);
    }
    EXPECT_EQ (first, second);

    RandomGlide a, b;
    EXPECT_NE (sequence (a), sequence (b));
}
