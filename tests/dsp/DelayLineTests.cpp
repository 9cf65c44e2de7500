#include "plugin/dsp/EchoDelayLine.h"
#include "plugin/dsp/VelmoraRingBuffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
// Distinct, easily traced sample values: left n + 1, right -(n + 1).
void writeRamp (VelmoraRingBuffer& ring, int count, int start = 0)
{
    for (int n = start; n < start + count; ++n)
    {
        const float values[2] = { (float) (n + 1), -(float) (n + 1) };
        ring.writeSample (values);
    }
}

// One echo sample step as the chain does it: read first, then write.
float step (EchoDelayLine& line, float input, bool silent = false)
{
    const float out = line.readNext (0, silent);
    line.write (0, input);
    return out;
}
} // namespace

TEST (RingBuffer, WrapsAfterItsLengthAndKeepsTheGuardSample)
{
    VelmoraRingBuffer ring (2);
    writeRamp (ring, VelmoraRingBuffer::length + 1);

    EXPECT_EQ (ring.getWritePosition(), 1);
    for (int c = 0; c < 2; ++c)
    {
        const float* data = ring.getChannel (c);
        EXPECT_EQ (data[0], c == 0 ? 38401.0f : -38401.0f);
        EXPECT_EQ (data[VelmoraRingBuffer::length], data[0]) << "channel " << c;
    }
}

TEST (RingBuffer, InterpolatedReadsAcrossTheWrap)
{
    VelmoraRingBuffer ring (2);

    // Right after a wrap (writePosition 0) the reference is index length - 1 and a read
    // behind it must reach back without touching the unwritten start.
    writeRamp (ring, VelmoraRingBuffer::length);
    ASSERT_EQ (ring.getWritePosition(), 0);
    EXPECT_FLOAT_EQ (ring.readInterpolated (0, 0.0f), 38400.0f);
    EXPECT_FLOAT_EQ (ring.readInterpolated (1, 0.5f), -38399.5f);

    // The newest sample at index 0 with its neighbour at length - 1: p = -0.25.
    writeRamp (ring, 1, VelmoraRingBuffer::length);
    EXPECT_FLOAT_EQ (ring.readInterpolated (0, 0.0f), 38401.0f);
    EXPECT_FLOAT_EQ (ring.readInterpolated (0, 0.5f), 38400.5f);
    EXPECT_FLOAT_EQ (ring.readInterpolated (0, 0.25f), 38400.75f);
    EXPECT_FLOAT_EQ (ring.readInterpolated (0, 3.0f), 38398.0f);

    // Every voice hears the same input: any even channel reads the left samples.
    EXPECT_FLOAT_EQ (ring.readInterpolated (6, 0.5f), 38400.5f);
    EXPECT_FLOAT_EQ (ring.readInterpolated (7, 0.5f), -38400.5f);
}

TEST (RingBuffer, BlockWriteSplitsAtTheEnd)
{
    VelmoraRingBuffer ring (2);
    writeRamp (ring, VelmoraRingBuffer::length - 3);
    ASSERT_EQ (ring.getWritePosition(), VelmoraRingBuffer::length - 3);

    const int n = 10;
    std::vector<float> left (n), right (n);
    for (int i = 0; i < n; ++i)
    {
        left[(size_t) i] = 1000.0f + (float) i;
        right[(size_t) i] = -1000.0f - (float) i;
    }
    const float* channels[2] = { left.data(), right.data() };
    ring.writeBlock (channels, n);

    EXPECT_EQ (ring.getWritePosition(), n - 3);
    const float* data = ring.getChannel (0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ (data[VelmoraRingBuffer::length - 3 + i], 1000.0f + (float) i);
    for (int i = 3; i < n; ++i)
        EXPECT_EQ (data[i - 3], 1000.0f + (float) i);
    EXPECT_EQ (data[VelmoraRingBuffer::length], 1003.0f);
    EXPECT_EQ (ring.getChannel (1)[VelmoraRingBuffer::length], -1003.0f);

    // Reads see the block in order, across the seam.
    for (int d = 0; d < n; ++d)
        EXPECT_EQ (ring.readInterpolated (0, (float) d), 1000.0f + (float) (n - 1 - d)) << d;

    // An exact fit ends at the start again.
    ring.clear();
    writeRamp (ring, VelmoraRingBuffer::length - n);
    ring.writeBlock (channels, n);
    EXPECT_EQ (ring.getWritePosition(), 0);
}

TEST (EchoDelayLine, SettledDelayReturnsTheInputOfThatManySamplesBefore)
{
    EchoDelayLine line;
    for (int n = 0; n < 2000; ++n)
        step (line, 0.0f);
    ASSERT_TRUE (line.getState (0).steady);

    line.setDelay (0, 100.0f);
    for (int n = 0; n < EchoDelayLine::fadeLength; ++n)
        step (line, (float) (n + 1));

    const auto& s = line.getState (0);
    EXPECT_TRUE (s.steady);
    EXPECT_EQ ((s.writeIndex - 100 + EchoDelayLine::capacity) % EchoDelayLine::capacity, s.readIndex);

    for (int n = EchoDelayLine::fadeLength; n < EchoDelayLine::fadeLength + 300; ++n)
        ASSERT_EQ (step (line, (float) (n + 1)), (float) (n + 1 - 100)) << n;

    // The other channel was left alone.
    EXPECT_EQ (line.getState (1).targetDelay, 0.0f);
}

TEST (EchoDelayLine, RequestsDuringAFadeWaitAndOnlyTheLastSurvives)
{
    EchoDelayLine line;
    for (int n = 0; n < 2000; ++n)
        step (line, 0.0f);

    // A constant-per-delay fixture: every written value encodes its own index, so the
    // output tells which delay each read position corresponds to.
    int written = 0;
    auto run = [&] (int count)
    {
        std::vector<float> out;
        for (int n = 0; n < count; ++n)
        {
            out.push_back (step (line, (float) written));
            ++written;
        }
        return out;
    };

    line.setDelay (0, 50.0f);
    run (10);
    line.setDelay (0, 300.0f); // superseded
    line.setDelay (0, 200.0f);
    EXPECT_EQ (line.getState (0).targetDelay, 50.0f);
    EXPECT_TRUE (line.getState (0).hasPending);

    run (EchoDelayLine::fadeLength - 10);
    {
        const auto& s = line.getState (0);
        EXPECT_FALSE (s.steady) << "the pending delay starts its fade at once";
        EXPECT_FALSE (s.hasPending);
        EXPECT_EQ (s.targetDelay, 200.0f);
    }

    // The held-back request starts inside the read that ends the first fade, before that
    // sample's write, so it settles one sample longer than the same request made between
    // samples: 201 here.
    const int pendingDelay = 200 + 1;

    // Halfway through the second fade: half of delay 50, half of the new one.
    auto mid = run (EchoDelayLine::fadeLength / 2 + 1);
    const float expectedMid = 0.5f * ((float) (written - 1 - 50)) + 0.5f * ((float) (written - 1 - pendingDelay));
    EXPECT_NEAR (mid.back(), expectedMid, 1.0e-2f);

    auto settled = run (EchoDelayLine::fadeLength);
    EXPECT_TRUE (line.getState (0).steady);
    EXPECT_EQ (settled.back(), (float) (written - 1 - pendingDelay));
}

TEST (EchoDelayLine, SilentReadsStillReachTheNewDelay)
{
    EchoDelayLine line;
    for (int n = 0; n < 2000; ++n)
        step (line, 0.0f);

    line.setDelay (0, 100.0f);
    for (int n = 0; n < EchoDelayLine::fadeLength; ++n)
        EXPECT_EQ (step (line, 1.0f, true), 0.0f);

    EXPECT_TRUE (line.getState (0).steady);
    for (int n = 0; n < 200; ++n)
        step (line, (float) n);
    EXPECT_EQ (step (line, 0.0f), 100.0f);
}
