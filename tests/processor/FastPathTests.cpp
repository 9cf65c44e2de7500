// The chain's shortcuts against the plain per-sample forms they replace: same bits out,
// same state left behind.
#include "halvex/dsp/Filters12dB.h"
#include "plugin/dsp/GuardedBiquadQuad.h"
#include "plugin/dsp/VelmoraRingBuffer.h"
#include "plugin/processor/Smoothers.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
std::vector<float> noise (int n, float amplitude, juce::int64 seed)
{
    juce::Random r (seed);
    std::vector<float> v ((size_t) n);
    for (auto& x : v)
        x = amplitude * (2.0f * r.nextFloat() - 1.0f);
    return v;
}
} // namespace

TEST (FastPath, StereoWetFiltersEqualEachChannelSampleBySample)
{
    using Chain = halvex::QoDelayHPLPFiltersSerie12dB;
    // Extremes included: cutoffs at and beyond Nyquist, a high-pass above the low-pass.
    const float cutoffs[][2] = { { 20.0f, 20000.0f }, { 300.0f, 3000.0f }, { 5000.0f, 24000.0f },
                                 { 23999.0f, 30000.0f }, { 8000.0f, 200.0f } };
    for (const auto& c : cutoffs)
    {
        Chain fast[2], plain[2];
        for (int ch = 0; ch < 2; ++ch)
            for (auto* f : { &fast[ch], &plain[ch] })
            {
                f->prepare (512, 48000.0f);
                f->highPass.setCutoff (c[0]);
                f->lowPass.setCutoff (c[1]);
            }
        ASSERT_TRUE (fast[0].isResonanceFree());

        for (int block : { 512, 1, 37 })
        {
            auto left = noise (block * 3, 0.8f, block), right = noise (block * 3, 0.5f, block + 1);
            auto expectedLeft = left, expectedRight = right;
            for (int start = 0; start < block * 3; start += block)
                Chain::processStereo (fast[0], fast[1], left.data() + start, right.data() + start, block);
            for (size_t i = 0; i < left.size(); ++i)
            {
                expectedLeft[i] = plain[0].processSample (expectedLeft[i]);
                expectedRight[i] = plain[1].processSample (expectedRight[i]);
            }
            SCOPED_TRACE (testing::Message() << "hp " << c[0] << " lp " << c[1] << " block " << block);
            for (size_t i = 0; i < left.size(); ++i)
            {
                ASSERT_EQ (left[i], expectedLeft[i]) << i;
                ASSERT_EQ (right[i], expectedRight[i]) << i;
            }
        }
    }
}

TEST (FastPath, LimiterBlockEqualsSampleBySampleThroughQuietAndLoudPassages)
{
    OutputLimiter block, single;
    // Quiet (the idle shortcut), a peak, its hold and release, quiet again, a NaN-free overload.
    const float levels[] = { 0.5f, 3.99f, 6.0f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 9.0f, 0.1f };
    juce::int64 seed = 7;
    for (float level : levels)
        for (int n : { 512, 333 })
        {
            auto samples = noise (n, level, seed++);
            auto expected = samples;
            block.process (samples.data(), n);
            for (auto& x : expected)
                x = single.processSample (x);
            for (int i = 0; i < n; ++i)
                ASSERT_EQ (samples[(size_t) i], expected[(size_t) i]) << "level " << level << " sample " << i;
            EXPECT_EQ (block.gain, single.gain);
            EXPECT_EQ (block.targetGain, single.targetGain);
            EXPECT_EQ (block.step, single.step);
            EXPECT_EQ (block.holdCounter, single.holdCounter);
            EXPECT_EQ (block.peak, single.peak);
        }
}

#if defined(__SSE2__)
TEST (FastPath, BiquadQuadEqualsFourSectionsIncludingTheFlushToZero)
{
    const GuardedBiquad::ShelfDesign design { 8168.140899333462, 0.7071067690849304, 0.8408964276313782,
                                              -0.2928932309150696, 1.7071067690849304 };
    const GuardedBiquad::Coefficients coefficients[4] = { GuardedBiquad::highShelf (design, 48000.0),
                                                          GuardedBiquad::feedbackHighPass (48000.0),
                                                          GuardedBiquad::highShelf (design, 44100.0),
                                                          GuardedBiquad::feedbackHighPass (96000.0) };
    GuardedBiquad packed[4], single[4];
    for (int i = 0; i < 4; ++i)
    {
        packed[i].setCoefficientsAndReset (coefficients[i]);
        single[i].setCoefficientsAndReset (coefficients[i]);
    }
    GuardedBiquad* const lanes[4] = { &packed[0], &packed[1], &packed[2], &packed[3] };

    // Loud, then decaying into the flush range, then silence; over several blocks.
    const auto input = noise (4096, 1.0f, 99);
    for (int start = 0; start < 4096; start += 512)
    {
        GuardedBiquadQuad quad;
        quad.load (lanes);
        for (int i = start; i < start + 512; ++i)
        {
            const float x = i < 1024 ? input[(size_t) i] : input[(size_t) i] * std::pow (0.97f, (float) (i - 1024));
            alignas (16) float y[4];
            _mm_store_ps (y, quad.process (_mm_setr_ps (x, -x, 0.5f * x, x)));
            const float lane[4] = { x, -x, 0.5f * x, x };
            for (int k = 0; k < 4; ++k)
                ASSERT_EQ (y[k], single[k].process (lane[k])) << "lane " << k << " sample " << i;
        }
        quad.store (lanes);
    }
    for (int k = 0; k < 4; ++k)
    {
        EXPECT_EQ (packed[k].s1, single[k].s1);
        EXPECT_EQ (packed[k].s2, single[k].s2);
    }
}
#endif

TEST (FastPath, GroupedRingReadsEqualSingleReadsAcrossTheSeam)
{
    VelmoraRingBuffer ring (16);
    const auto left = noise (VelmoraRingBuffer::length + 700, 1.0f, 5);
    const auto right = noise (VelmoraRingBuffer::length + 700, 1.0f, 6);
    juce::Random r (11);
    for (size_t w = 0; w < left.size(); ++w)
    {
        ring.writeStereo (left[w], right[w]);
        // Around the seam and the wrap of the write position, plus a spread elsewhere.
        const int position = ring.getWritePosition();
        if (position > 40 && position < VelmoraRingBuffer::length - 40 && w % 97 != 0)
            continue;

        float delays[4];
        for (auto& d : delays)
            d = r.nextFloat() * 1500.0f;
        delays[0] = (float) (r.nextInt (60)); // whole samples too
        for (int channel : { 0, 1, 6, 7 })
        {
            float grouped[4];
            ring.readInterpolated4 (channel, delays, grouped);
            for (int k = 0; k < 4; ++k)
                ASSERT_EQ (grouped[k], ring.readInterpolated (channel, delays[k])) << "write " << w << " lane " << k;
        }
        float l, rr;
        ring.readInterpolatedStereo (delays[1], delays[2], l, rr);
        ASSERT_EQ (l, ring.readInterpolated (0, delays[1]));
        ASSERT_EQ (rr, ring.readInterpolated (1, delays[2]));
    }
}
