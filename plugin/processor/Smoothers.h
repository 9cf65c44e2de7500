#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <algorithm>
#include <cmath>

/** A linear ramp towards a target, rendered a block at a time. A ramp set with `steps`
    = s lands on its target at exactly its s-th sample. Audio thread only. */
struct RampedValue
{
    int steps = 512;
    float epsilon = 0.0001f;
    float current = 0.0f, target = 0.0f, step = 0.0f;
    bool done = true;

    RampedValue() = default;
    RampedValue (int initialSteps, float eps) : steps (initialSteps), epsilon (eps) {}

    void setTarget (float v) noexcept
    {
        if (v == target)
            return;
        const float oldTarget = target;
        target = v;
        if (std::abs (v - oldTarget) <= epsilon)
        {
            current = v;
            step = 0.0f;
            done = true;
            return;
        }
        done = std::abs (v - current) <= epsilon;
        if (done)
        {
            step = 0.0f;
            return;
        }
        step = (v - current) / (float) steps;
        if (std::abs (step) < epsilon)
            step = v > current ? epsilon : -epsilon;
    }

    void render (float* out, int n) noexcept
    {
        if (done)
        {
            std::fill (out, out + n, target);
            return;
        }
        int r = (int) std::nearbyint ((target - current) / step) - 1;
        if (r < 1)
            r = 0;
        const int m = juce::jmin (r, n);
        for (int k = 0; k < m; ++k)
        {
            current += step;
            out[k] = current;
        }
        if (n >= r)
        {
            current = target;
            step = 0.0f;
            done = true;
            std::fill (out + m, out + n, target);
        }
    }

    void snap (float v) noexcept
    {
        current = target = v;
        step = 0.0f;
        done = true;
    }
};

/** A gain that glides to each new value over `length` samples, applied to every channel
    of a buffer. Audio thread only. */
struct GainRamp
{
    int length = 256;
    float gain = 1.0f;

    void apply (juce::AudioBuffer<float>& buffer, int n, float g) noexcept
    {
        if (buffer.hasBeenCleared() || n <= 0)
            return;

        if (gain == g)
        {
            if (g == 0.0f)
                buffer.clear (0, n);
            else if (g != 1.0f)
                buffer.applyGain (0, n, g);
            return;
        }

        if (n >= length)
        {
            buffer.applyGainRamp (0, length, gain, g);
            if (g == 0.0f)
                buffer.clear (length, n - length);
            else if (g != 1.0f)
                buffer.applyGain (length, n - length, g);
            gain = g;
            return;
        }

        const float v = gain + ((float) n / (float) length) * (g - gain);
        buffer.applyGainRamp (0, n, gain, v);
        gain = std::abs (gain - g) <= 1.0e-5f ? g : v;
    }
};

/** Safety limiter per channel: acts only on peaks at or above +12 dBFS, pulling the gain
    towards 0.99 / peak, holding it for 4096 samples below the threshold, then releasing
    linearly over 256 samples. Audio thread only. */
struct OutputLimiter
{
    static constexpr float threshold = 4.0f;
    static constexpr int holdSamples = 4096;
    static constexpr float releaseCoefficient = 1.0f / 256.0f;
    static constexpr float attackCoefficient = 1.0f / 64.0f;

    float targetGain = 1.0f, gain = 1.0f, step = 0.0f, peak = 0.0f;
    int holdCounter = 0;

    void process (float* samples, int n) noexcept
    {
        // Idle at unity with no peak in reach: every sample would pass unchanged and
        // processSample would leave only step = 0 behind. A scan for the peak does instead.
        if (gain == 1.0f && targetGain == 1.0f)
        {
            float loudest = 0.0f;
            for (int i = 0; i < n; ++i)
                loudest = std::max (loudest, std::abs (samples[i]));
            if (loudest < threshold)
            {
                step = 0.0f;
                return;
            }
        }

        for (int i = 0; i < n; ++i)
            samples[i] = processSample (samples[i]);
    }

    float processSample (float x) noexcept
    {
        const float level = std::abs (x);
        if (level >= threshold)
        {
            holdCounter = 0;
            if (level > peak)
            {
                peak = level;
                targetGain = 0.99f / level;
            }
            step = (targetGain - gain) * attackCoefficient;
        }
        else if (gain == 1.0f)
        {
            step = (targetGain - 1.0f) * attackCoefficient;
        }
        else if (++holdCounter >= holdSamples)
        {
            holdCounter = 0;
            peak = threshold;
            targetGain = 1.0f;
            step = (1.0f - gain) * releaseCoefficient;
        }

        gain += step;
        // The glide never passes its target and ends there; otherwise the last step would
        // keep being applied below the threshold and carry the gain past it, to negative.
        if (step < 0.0f ? gain < targetGain : gain > targetGain)
            gain = targetGain;
        const float y = x * gain;
        if (std::abs (gain - targetGain) <= 1.0e-4f)
        {
            gain = targetGain;
            step = 0.0f;
        }
        return y;
    }
};
