#include "plugin/dsp/RandomSeeds.h"
#include "plugin/dsp/VelmoraDetuneProcessor.h"
#include "plugin/dsp/VelmoraMultiProcessor.h"
#include "plugin/dsp/VelmoraRandProcessor.h"
#include "plugin/dsp/VelmoraRetroProcessor.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace
{
struct Settings
{
    float rate = 0.5f, depth = 0.0f, width = 1.0f, echoDelay = 0.0f, feedback = 0.0f, fade = 1.0f;
};

struct Stereo
{
    std::vector<float> left, right;
};

// Runs the chain's per-sample step over the signal with constant parameters, in blocks.
Stereo process (ChorusProcessorBase& a, Stereo io, const Settings& s, int blockSize = 512)
{
    const int n = (int) io.left.size();
    std::vector<float> rate ((size_t) blockSize, s.rate), depth ((size_t) blockSize, s.depth),
        width ((size_t) blockSize, s.width), echo ((size_t) blockSize, s.echoDelay),
        feedback ((size_t) blockSize, s.feedback), fade ((size_t) blockSize, s.fade);
    const ChorusBlockParams p { rate.data(), depth.data(), width.data(), echo.data(), feedback.data(), fade.data() };
    for (int start = 0; start < n; start += blockSize)
        a.processBlock (io.left.data() + start, io.right.data() + start, p, std::min (blockSize, n - start));
    return io;
}

Stereo impulses (int n, int spacing = 0)
{
    Stereo s { std::vector<float> ((size_t) n), std::vector<float> ((size_t) n) };
    for (int i = 0; i < n; i += (spacing > 0 ? spacing : n))
        s.left[(size_t) i] = s.right[(size_t) i] = 1.0f;
    return s;
}

Stereo silence (int n) { return { std::vector<float> ((size_t) n), std::vector<float> ((size_t) n) }; }

std::vector<float> noise (int n, juce::int64 seed)
{
    juce::Random r (seed);
    std::vector<float> v ((size_t) n);
    for (auto& x : v)
        x = r.nextFloat() - 0.5f;
    return v;
}

int firstAbove (const std::vector<float>& x, int from, float threshold = 1.0e-6f)
{
    for (int i = from; i < (int) x.size(); ++i)
        if (std::abs (x[(size_t) i]) > threshold)
            return i;
    return -1;
}

enum class Algo { retro, multi, detune, rand };

std::unique_ptr<ChorusProcessorBase> make (Algo a)
{
    switch (a)
    {
        case Algo::retro: return std::make_unique<VelmoraRetroProcessor>();
        case Algo::multi: return std::make_unique<VelmoraMultiProcessor>();
        case Algo::detune: return std::make_unique<VelmoraDetuneProcessor>();
        case Algo::rand: break;
    }
    return std::make_unique<VelmoraRandProcessor>();
}

const char* name (Algo a)
{
    const char* names[] = { "Retro", "Multi", "Detune", "Rand" };
    return names[(int) a];
}

// Every generator gets a reproducible seed while a test builds its algorithms.
struct FixedSeeds
{
    FixedSeeds() { RandomSeeds::useFixedSeeds (2024); }
    ~FixedSeeds() { RandomSeeds::useClockSeeds(); }
};

/** The chain step around an algorithm that passes its input straight through, so the
    echo loop can be measured on its own. */
struct EchoProbe final : ChorusProcessorBase
{
    static constexpr bool hasRing = true;
    EchoProbe() : ChorusProcessorBase (1) {}
    void processSample (float* io[2], float* send[2], const ChorusParams&) override
    {
        *send[0] = *io[0];
        *send[1] = *io[1];
    }
    void processBlock (float* l, float* r, const ChorusBlockParams& p, int n) override { runBlock (*this, l, r, p, n); }
};
} // namespace

TEST (ChorusAlgorithms, MakeupGains)
{
    struct Case
    {
        Algo algo;
        float depth, gain;
    };
    const Case cases[] = { { Algo::rand, 0.0f, 2.0f },   { Algo::rand, 0.1f, 2.4f },  { Algo::rand, 0.3f, 3.0f },
                           { Algo::rand, 1.0f, 3.0f },   { Algo::multi, 0.0f, 1.0f }, { Algo::multi, 0.1f, 1.4f },
                           { Algo::multi, 0.25f, 2.0f }, { Algo::multi, 1.0f, 2.0f }, { Algo::detune, 0.0f, 1.5f },
                           { Algo::detune, 1.0f, 1.5f }, { Algo::retro, 0.0f, 1.0f }, { Algo::retro, 1.0f, 1.0f } };
    for (const auto& c : cases)
    {
        ChorusParams last;
        last.depth = c.depth;
        EXPECT_FLOAT_EQ (make (c.algo)->getMakeupGain (last), c.gain) << name (c.algo) << " depth " << c.depth;
    }
}

TEST (ChorusAlgorithms, RateRanges)
{
    struct Case
    {
        Algo algo;
        float bottom, middle, top;
    };
    const Case cases[] = { { Algo::retro, 0.01f, 1.0f, 20.0f },
                           { Algo::multi, 0.01f, 0.5f, 3.5f },
                           { Algo::detune, 0.0f, 50.0f, 100.0f },
                           { Algo::rand, 0.01f, 3.0f, 10.0f } };
    for (const auto& c : cases)
    {
        const auto range = make (c.algo)->getRateRange();
        EXPECT_NEAR (range.convertFrom0to1 (0.0f), c.bottom, 1.0e-6f) << name (c.algo);
        EXPECT_NEAR (range.convertFrom0to1 (0.5f), c.middle, c.middle * 2.0e-3f) << name (c.algo);
        EXPECT_NEAR (range.convertFrom0to1 (1.0f), c.top, 1.0e-5f) << name (c.algo);
    }
}

TEST (ChorusAlgorithms, RatesReachTheModulators)
{
    const FixedSeeds seeds;
    Settings s;

    VelmoraRandProcessor rand;
    rand.prepare (512, 44100.0);
    s.rate = 0.0f;
    process (rand, silence (1), s);
    const float multipliers[8] = { 1.0f, 0.7439108f, 0.4994595f, 0.3780665f, 1.1f, 0.8183019f, 0.5494055f, 0.4158731f };
    for (int k = 0; k < 8; ++k)
    {
        EXPECT_NEAR (rand.getRateMultipliers()[k], multipliers[k], 1.0e-6f) << k;
        EXPECT_NEAR (rand.getGenerator (k).getFrequency(), 0.01f * multipliers[k], 1.0e-8f) << k;
    }
    EXPECT_NEAR (rand.getGenerator (0).getPeriod(), 100.0f, 1.0e-3f);

    VelmoraMultiProcessor multi;
    multi.prepare (512, 44100.0);
    s.rate = 1.0f;
    process (multi, silence (1), s);
    const float ratios[4] = { 1.0f, 1.25f, 1.5f, 1.0625f };
    for (int k = 0; k < 4; ++k)
        EXPECT_NEAR (multi.getLfo (k).getFrequency(), 3.5f * ratios[k], 1.0e-5f) << k;

    VelmoraRetroProcessor retro;
    retro.prepare (512, 44100.0);
    s.rate = 0.5f;
    process (retro, silence (1), s);
    EXPECT_NEAR (retro.getLfo().getFrequency(), 1.0f, 2.0e-3f);
    for (int side = 0; side < 2; ++side)
        EXPECT_NEAR (retro.getWander (side).getPeriod(), 2.0f, 4.0e-3f);
}

TEST (ChorusAlgorithms, RandAtDepthZeroReadsTheFourBaseDelays)
{
    const FixedSeeds seeds;
    const float delaysMs[4] = { 7.282f, 11.112f, 19.632f, 29.223f };
    Settings s;
    s.depth = 0.0f;
    s.width = 1.0f;

    // At 1 MHz every base delay is a whole number of samples: the taps start exactly there.
    {
        VelmoraRandProcessor rand;
        rand.prepare (512, 1.0e6);
        const auto out = process (rand, impulses (30000), s);
        EXPECT_EQ (firstAbove (out.left, 0), 7282);
        for (float ms : delaysMs)
        {
            const auto at = (size_t) std::lround (ms * 1000.0f);
            EXPECT_GT (out.left[at], 0.2f) << ms;
            EXPECT_LT (std::abs (out.left[at - 1]), 1.0e-3f) << ms;
        }
        // Two taps per delay, eight taps scaled by 1/8; the first pair has the shelf on one tap.
        for (int k = 1; k < 4; ++k)
            EXPECT_NEAR (out.left[(size_t) std::lround (delaysMs[k] * 1000.0f)], 0.25f, 2.0e-3f) << delaysMs[k];
    }

    // At 44.1 kHz the unshelved pairs interpolate: their centroid sits at the fractional delay.
    VelmoraRandProcessor rand;
    rand.prepare (512, 44100.0);
    const auto out = process (rand, impulses (2000), s);
    for (int k = 1; k < 4; ++k)
    {
        const double d = delaysMs[k] * 44.1;
        double sum = 0.0, moment = 0.0;
        for (int i = (int) d - 2; i <= (int) d + 3; ++i)
        {
            sum += out.left[(size_t) i];
            moment += i * (double) out.left[(size_t) i];
        }
        EXPECT_NEAR (moment / sum, d, 0.01) << delaysMs[k];
        EXPECT_NEAR (sum, 0.25, 1.0e-3) << delaysMs[k];
    }
}

TEST (ChorusAlgorithms, MultiAtDepthZeroReadsAThirdOfAMillisecond)
{
    const FixedSeeds seeds;
    VelmoraMultiProcessor multi;
    multi.prepare (512, 48000.0); // 0.333 ms is 16 samples here
    Settings s;
    s.depth = 0.0f;
    s.rate = 0.8f;

    const auto out = process (multi, impulses (4000, 500), s);
    for (int start = 0; start < 4000; start += 500)
        for (const auto* channel : { &out.left, &out.right })
        {
            EXPECT_EQ (firstAbove (*channel, start), start + 16);
            // Three plain voices plus one through the shelf, averaged over four.
            EXPECT_GT ((*channel)[(size_t) start + 16], 0.9f);
        }

    // A Nyquist tone shows the shelved voice: 0.25 * (3 + 0.75).
    VelmoraMultiProcessor high;
    high.prepare (512, 48000.0);
    Stereo alt = silence (20000);
    for (size_t i = 0; i < alt.left.size(); ++i)
        alt.left[i] = alt.right[i] = (i & 1) ? -1.0f : 1.0f;
    const auto hOut = process (high, alt, s);
    EXPECT_NEAR (std::abs (hOut.left.back()), 0.9375f, 1.0e-3f);
    EXPECT_NEAR (std::abs (hOut.right.back()), 0.9375f, 1.0e-3f);
}

TEST (ChorusAlgorithms, RetroAtDepthZeroSitsAtOneAndAHalfMillisecondsPlusWander)
{
    const FixedSeeds seeds;
    for (float rate : { 0.0f, 1.0f })
    {
        VelmoraRetroProcessor retro;
        retro.prepare (512, 48000.0);
        Settings s;
        s.depth = 0.0f;
        s.rate = rate;

        // Two seconds of impulses, so the wander draws several new targets at rate 1.
        const auto out = process (retro, impulses (96000, 1000), s);
        const double wanderMs = 0.005 + 0.005 * rate;
        const int earliest = (int) std::floor ((1.5 - wanderMs) * 48.0);
        const int latest = (int) std::floor ((1.5 + wanderMs) * 48.0);
        for (int start = 0; start < 96000; start += 1000)
        {
            const int onset = firstAbove (out.left, start) - start;
            ASSERT_GE (onset, earliest) << "rate " << rate << " impulse at " << start;
            ASSERT_LE (onset, latest) << "rate " << rate << " impulse at " << start;
        }
    }

    // One voice per side at unity, no averaging; the wet shelf halves the top octave.
    VelmoraRetroProcessor retro;
    retro.prepare (512, 200000.0); // 1.495 ms is a whole number of samples here
    Settings s;
    s.depth = 0.0f;
    s.rate = 0.0f;
    Stereo tone = silence (40000);
    tone.left = TestSignals::sine (100.0, 200000.0, 40000, 0.5f);
    const auto lowOut = process (retro, tone, s);
    EXPECT_NEAR (TestSignals::amplitudeAt (lowOut.left.data() + 20000, 20000, 100.0, 200000.0), 0.5, 5.0e-3);

    VelmoraRetroProcessor high;
    high.prepare (512, 200000.0);
    Stereo alt = silence (40000);
    for (size_t i = 0; i < alt.left.size(); ++i)
        alt.left[i] = alt.right[i] = (i & 1) ? -1.0f : 1.0f;
    EXPECT_NEAR (std::abs (process (high, alt, s).left.back()), 0.5f, 2.0e-3f);
}

TEST (ChorusAlgorithms, WidthSetsThePanAngle)
{
    const FixedSeeds seeds;
    const auto input = noise (20000, 5);
    for (Algo algo : { Algo::retro, Algo::multi, Algo::detune, Algo::rand })
        for (float width : { 0.0f, 0.5f, 1.0f })
        {
            // Width 0.5 puts the sides at pi/8 from their own channel, so the other channel
            // gets tan(pi/8) of each.
            const double expectedRatio = std::tan ((0.5 - 0.5 * width) * juce::MathConstants<double>::halfPi);
            for (int side = 0; side < 2; ++side)
            {
                auto a = make (algo);
                a->prepare (512, 44100.0);
                Settings s;
                s.depth = 0.4f;
                s.rate = 0.3f;
                s.width = width;
                Stereo in = silence ((int) input.size());
                (side == 0 ? in.left : in.right) = input;
                const auto out = process (*a, in, s);
                const auto& own = side == 0 ? out.left : out.right;
                const auto& other = side == 0 ? out.right : out.left;
                const double ownRms = TestSignals::rms (own.data() + 5000, 15000);
                ASSERT_GT (ownRms, 1.0e-3) << name (algo);
                EXPECT_NEAR (TestSignals::rms (other.data() + 5000, 15000) / ownRms, expectedRatio, 1.0e-4)
                    << name (algo) << " width " << width << " side " << side;
            }
        }
}

TEST (ChorusAlgorithms, EchoComesBackAfterTheEchoTimeScaledByTheFeedback)
{
    struct Case
    {
        float echoDelay, feedback;
        int delaySamples; // round((e^2 + 0.0001) * 44100)
    };
    for (const auto& c : { Case { 0.1f, 0.5f, 445 }, Case { 0.3f, 1.0f, 3973 }, Case { 0.1f, 0.0f, 445 } })
    {
        EchoProbe probe;
        probe.prepare (512, 44100.0);
        Settings s;
        s.echoDelay = c.echoDelay;
        s.feedback = c.feedback;
        process (probe, silence (2048), s); // let the first delay crossfade settle

        const int d = c.delaySamples;
        const auto out = process (probe, impulses (3 * d + 10), s);
        EXPECT_EQ (out.left[0], 1.0f);
        EXPECT_EQ (firstAbove (out.left, 1, 0.0f), c.feedback > 0.0f ? d : -1) << c.echoDelay;
        if (c.feedback == 0.0f)
            continue;

        // The 40 Hz high-pass takes a fraction of a percent off a single click.
        const float loop = 0.99f * c.feedback;
        EXPECT_NEAR (out.left[(size_t) d], loop, loop * 6.0e-3f);
        EXPECT_NEAR (out.right[(size_t) d], loop, loop * 6.0e-3f);
        EXPECT_NEAR (out.left[(size_t) (2 * d)], loop * loop, loop * loop * 1.2e-2f);
    }

    // Through a real algorithm the repeat is chorused again: 16 + d + 16 samples.
    const FixedSeeds seeds;
    VelmoraMultiProcessor multi;
    multi.prepare (512, 48000.0);
    Settings s;
    s.echoDelay = 0.1f;
    s.feedback = 0.5f;
    process (multi, silence (2048), s);
    const int d = (int) std::nearbyint ((0.1 * 0.1 + 0.0001) * 48000.0); // 485
    const auto out = process (multi, impulses (2000), s);
    EXPECT_EQ (firstAbove (out.left, 0), 16);
    EXPECT_EQ (firstAbove (out.left, 200, 1.0e-3f), 32 + d);
}

TEST (Detune, FrameSizeFollowsTheSampleRate)
{
    struct Case
    {
        double fs;
        int frame;
    };
    for (const auto& c : { Case { 44100.0, 588 }, Case { 48000.0, 640 }, Case { 88200.0, 1176 }, Case { 96000.0, 1280 } })
    {
        VelmoraDetuneProcessor detune;
        detune.prepare (512, c.fs);
        EXPECT_EQ (detune.getShifter (0).getFrameSize(), c.frame) << c.fs;
        EXPECT_EQ (detune.getShifter (1).getFrameSize(), c.frame) << c.fs;
    }
}

TEST (Detune, RandomTablesComeFromFixedSeedsAndContinueAcrossRates)
{
    // The left shifter's phases draw from seed 8284 and its amounts from 4142, the right
    // one's from 16568 and 8284; each rebuild continues its sequence.
    auto expectedPhases = [] (juce::int64 seed, int skip, int count)
    {
        juce::Random r (seed);
        for (int i = 0; i < skip; ++i)
            r.nextFloat();
        std::vector<float> v;
        for (int i = 0; i < count; ++i)
            v.push_back ((2.0f * r.nextFloat() - 1.0f) * juce::MathConstants<float>::pi);
        return v;
    };

    VelmoraDetuneProcessor detune;
    detune.prepare (512, 44100.0);
    detune.prepare (512, 48000.0);
    const int before = 257 + 295; // bins at 512 (construction) and at 588
    EXPECT_EQ (detune.getShifter (0).getRandomPhases(), expectedPhases (8284, before, 321));
    EXPECT_EQ (detune.getShifter (1).getRandomPhases(), expectedPhases (16568, before, 321));

    juce::Random amounts (4142);
    for (int i = 0; i < before; ++i)
        amounts.nextFloat();
    EXPECT_EQ (detune.getShifter (0).getRandomAmounts()[0], amounts.nextFloat());
}

TEST (Detune, CentreDepthIsTheInputDelayedByTheShifterLatency)
{
    VelmoraDetuneProcessor detune;
    detune.prepare (512, 44100.0);
    Settings s;
    s.depth = 0.5f;
    s.rate = 0.0f;
    s.width = 0.0f; // no phase spread; both outputs carry (L + R) * 0.7071

    const auto input = noise (44100, 11);
    Stereo in = silence (44100);
    in.left = input;
    const auto out = process (detune, in, s);

    int bestLag = 0;
    double bestGain = 0.0;
    for (int lag = 380; lag <= 700; ++lag)
    {
        double cross = 0.0, energy = 0.0;
        for (int i = 5000; i < 44100; ++i)
        {
            cross += (double) out.left[(size_t) i] * input[(size_t) (i - lag)];
            energy += (double) input[(size_t) (i - lag)] * input[(size_t) (i - lag)];
        }
        if (cross / energy > bestGain)
        {
            bestGain = cross / energy;
            bestLag = lag;
        }
    }
    // The FIFO steps delay by a whole frame: a sample entering at FIFO index p is framed
    // N - 1 - p samples later, leaves the accumulator three hops after that and is read p - 3 hops
    // into the following hop, N samples in all (not N - N/4).
    EXPECT_EQ (bestLag, 588);
    EXPECT_NEAR (bestGain, 0.9975 * std::sqrt (0.5), 0.01);

    double err = 0.0;
    for (int i = 5000; i < 44100; ++i)
    {
        const double e = out.left[(size_t) i] - bestGain * input[(size_t) (i - bestLag)];
        err += e * e;
    }
    EXPECT_LT (std::sqrt (err / (44100 - 5000)) / TestSignals::rms (out.left.data() + 5000, 39100), 0.02);
    EXPECT_EQ (out.left, out.right);
}

TEST (Detune, DepthShiftsThePitchByUpToThirtyCents)
{
    struct Case
    {
        float depth;
        double cents;
    };
    for (const auto& c : { Case { 0.0f, -30.0 }, Case { 0.5f, 0.0 }, Case { 1.0f, 30.0 } })
        for (double fs : { 44100.0, 96000.0 })
        {
            VelmoraDetuneProcessor detune;
            detune.prepare (512, fs);
            Settings s;
            s.depth = c.depth;
            s.rate = 0.0f;
            s.width = 0.0f;
            const int n = (int) (2 * fs);
            Stereo in { TestSignals::sine (1000.0, fs, n), TestSignals::sine (1000.0, fs, n) };
            const auto out = process (detune, in, s);
            const double f = TestSignals::zeroCrossingFrequency (out.left, n / 2, fs);
            EXPECT_NEAR (1200.0 * std::log2 (f / 1000.0), c.cents, 2.0) << "depth " << c.depth << " at " << fs;
        }
}
