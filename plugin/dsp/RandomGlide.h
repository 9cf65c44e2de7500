#pragma once

#include "RandomSeeds.h"

/** A smoothed random generator: every period it draws a new value in [0, 1) and glides
    linearly to it over one period. Audio thread only (after construction). */
class RandomGlide
{
public:
    RandomGlide() { RandomSeeds::seed (random); }

    void setSampleRate (float fs) noexcept
    {
        rateScale = fs;
        timeStep = 1.0f / fs;
    }

    void setFrequency (float hz) noexcept
    {
        if (hz != frequency)
        {
            frequency = hz;
            if (hz != 0.0f)
                period = 1.0f / hz;
        }
    }

    float next() noexcept
    {
        if (frequency == 0.0f)
            return 1.0f;

        if (elapsed >= period)
        {
            float r = random.nextFloat();
            if (r >= 1.0f)
                r = 0.9999999f;
            lastValue = r;
            elapsed = 0.0f;
            if (r != target)
                aim (r);
        }

        elapsed += timeStep;

        if (done)
            return target;

        // Checked before stepping, so a glide of s steps lands on its s-th sample.
        if (std::abs (target - current) <= std::abs (step))
        {
            current = target;
            done = true;
        }
        else
        {
            current += step;
        }
        return current;
    }

    float getFrequency() const noexcept { return frequency; }
    float getPeriod() const noexcept { return period; }
    float getLastValue() const noexcept { return lastValue; }

private:
    void aim (float r) noexcept
    {
        steps = (int) std::nearbyint (period * rateScale);
        const float oldTarget = target;
        target = r;
        if (std::abs (r - oldTarget) <= epsilon)
        {
            current = r;
            step = 0.0f;
            done = true;
            return;
        }
        step = (r - current) / (float) juce::jmax (1, steps);
        if (std::abs (step) < epsilon)
            step = r > current ? epsilon : -epsilon;
        done = std::abs (r - current) <= epsilon;
        if (done)
        {
            current = r;
            step = 0.0f;
        }
    }

    float rateScale = 44100.0f, timeStep = 1.0f / 44100.0f;
    float frequency = 10.0f, period = 0.1f, lastValue = 0.0f, elapsed = 0.0f;
    juce::Random random;

    int steps = 256;
    static constexpr float epsilon = 1.0e-5f;
    float current = 0.0f, target = 0.0f, step = 0.0f;
    bool done = true;
};
