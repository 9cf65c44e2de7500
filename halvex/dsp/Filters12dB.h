#pragma once

#include "HalvexFilter.h"

namespace halvex
{

/** Shared coefficient bookkeeping of the two 12 dB filters. */
class QoDelayFilter12dBBase : public HalvexFilter
{
public:
    void prepare (int maximumBlockSize, float sampleRate) override;
    void reset() override { s1 = s2 = 0.0f; }

    /** Any cutoff is accepted; above half the sample rate it is limited to it. */
    void setCutoff (float hz) noexcept
    {
        if (hz != cutoff)
        {
            cutoff = hz;
            updateCoefficients();
        }
    }

    float getCutoff() const noexcept { return cutoff; }
    float getEffectiveCutoff() const noexcept { return effectiveCutoff; }
    float getG() const noexcept { return g; }
    float getA() const noexcept { return a; }

protected:
    void updateCoefficients() noexcept;

    float cutoff = 0.0f, effectiveCutoff = 0.0f;
    float resonance = 0.0f, inputGain = 1.0f;
    float g = 0.0f, a = -1.0f, d = 1.0f;
    float inverseSampleRate = 1.0f, sampleRate = 0.0f, nyquist = 0.0f;
    float s1 = 0.0f, s2 = 0.0f;
};

class QoDelayHiPassFilter12dB final : public QoDelayFilter12dBBase
{
public:
    float processSample (float x) override { return tick (x); }
    void processBlock (float* samples, int n) override
    {
        for (int i = 0; i < n; ++i)
            samples[i] = tick (samples[i]);
    }

    float tick (float x) noexcept
    {
        const float K = resonance;
        x = inputGain * x;
        const float m = 1.0f - g;
        const float y = ((x * m - s1) * m - s2) / (m * m * K + 1.0f);
        x = x - K * y;
        const float gx = g * x;
        const float newS1 = gx - a * (s1 + gx);
        const float v = (x - (s1 + gx)) * g;
        s2 = v - (s2 + v) * a;
        s1 = newS1;
        return y;
    }
};

class QoDelayLowPassFilter12dB final : public QoDelayFilter12dBBase
{
public:
    float processSample (float x) override { return tick (x); }
    void processBlock (float* samples, int n) override
    {
        for (int i = 0; i < n; ++i)
            samples[i] = tick (samples[i]);
    }

    float tick (float x) noexcept
    {
        const float K = resonance;
        x = inputGain * x;
        const float y = ((x + s1) * g + s2) * d;
        const float u = (x - K * y) * g;
        const float w = s1 + u;
        s1 = u - a * w;
        s2 = w * g - (s2 + w * g) * a;
        return y;
    }
};

/** High-pass then low-pass. The members are public so their cutoffs can be set. */
class QoDelayHPLPFiltersSerie12dB final : public HalvexFilter
{
public:
    void prepare (int maximumBlockSize, float sampleRate) override
    {
        highPass.prepare (maximumBlockSize, sampleRate);
        lowPass.prepare (maximumBlockSize, sampleRate);
    }
    void reset() override
    {
        highPass.reset();
        lowPass.reset();
    }
    void processBlock (float* samples, int n) override
    {
        highPass.processBlock (samples, n);
        lowPass.processBlock (samples, n);
    }
    float processSample (float x) override { return lowPass.tick (highPass.tick (x)); }

    QoDelayHiPassFilter12dB highPass;
    QoDelayLowPassFilter12dB lowPass;
};

} // namespace halvex
