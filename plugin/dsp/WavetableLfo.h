#pragma once

#include <cmath>

/** Soft saturating shaper for the modulation: odd, slope 1/2 at 0, towards ±1. */
inline float shapeModulation (float x) noexcept
{
    const float a = std::abs (x);
    const float b = (3.0f + a) * a + 6.0f;
    return x * b / (b * a + 12.0f);
}

/** Table-based low-frequency oscillator with the phase kept in double precision.
    Audio thread only (after construction). */
class WavetableLfo
{
public:
    enum Waveform { sine = 0, square, triangle, rampUp, rampDown, numWaveforms };
    static constexpr int tableSize = 1024;

    explicit WavetableLfo (double initialPhase);

    void setSampleRate (float fs) noexcept
    {
        sampleRate = fs;
        tableScale = (float) tableSize / fs;
        increment = (double) (frequency * tableScale);
    }

    void setFrequency (float hz) noexcept
    {
        if (hz != frequency)
        {
            frequency = hz;
            increment = (double) (hz * tableScale);
        }
    }

    void resetPhase() noexcept;
    void setWaveform (int index) noexcept;

    float next() noexcept
    {
        const double p = phase;
        phase += increment;
        if (phase >= (double) tableSize)
            phase -= (double) tableSize;
        else if (phase < 0.0)
            phase += (double) tableSize;
        const int i = (int) p;
        return (float) (p - (double) i) * difference[i] + table[i];
    }

    double getPhase() const noexcept { return phase; }
    double getIncrement() const noexcept { return increment; }
    float getFrequency() const noexcept { return frequency; }

private:
    float sampleRate = 0.0f, frequency = 0.0f;
    double initialPhase, phase = 0.0, increment = 0.0;
    float tableScale = 0.0f;
    float tables[numWaveforms][tableSize + 1];
    float differences[numWaveforms][tableSize];
    int waveform = triangle;
    const float* table;
    const float* difference;
};
