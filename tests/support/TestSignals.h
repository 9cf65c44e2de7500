#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <cmath>
#include <vector>

/** Small measuring helpers shared by the tests. */
namespace TestSignals
{
inline std::vector<float> sine (double hz, double sampleRate, int numSamples, float amplitude = 0.5f)
{
    std::vector<float> out ((size_t) numSamples);
    for (int i = 0; i < numSamples; ++i)
        out[(size_t) i] = amplitude * (float) std::sin (juce::MathConstants<double>::twoPi * hz * i / sampleRate);
    return out;
}

inline double rms (const float* data, int numSamples)
{
    double sum = 0.0;
    for (int i = 0; i < numSamples; ++i)
        sum += (double) data[i] * data[i];
    return numSamples > 0 ? std::sqrt (sum / numSamples) : 0.0;
}

inline double toDb (double gain) { return 20.0 * std::log10 (gain); }

/** Amplitude of the hz component of data (single-bin DFT), for gain-at-frequency tests. */
inline double amplitudeAt (const float* data, int numSamples, double hz, double sampleRate)
{
    double re = 0.0, im = 0.0;
    for (int i = 0; i < numSamples; ++i)
    {
        const double phase = juce::MathConstants<double>::twoPi * hz * i / sampleRate;
        re += data[i] * std::cos (phase);
        im -= data[i] * std::sin (phase);
    }
    return 2.0 * std::sqrt (re * re + im * im) / numSamples;
}

/** Mean frequency from the positive-going zero crossings (linearly interpolated) from `from` on. */
inline double zeroCrossingFrequency (const std::vector<float>& x, int from, double fs)
{
    double first = -1.0, last = -1.0;
    int count = 0;
    for (int i = from + 1; i < (int) x.size(); ++i)
        if (x[(size_t) i - 1] < 0.0f && x[(size_t) i] >= 0.0f)
        {
            const double t = i - 1 + x[(size_t) i - 1] / (x[(size_t) i - 1] - x[(size_t) i]);
            if (first < 0.0)
                first = t;
            last = t;
            ++count;
        }
    return count > 1 ? (count - 1) * fs / (last - first) : 0.0;
}

/** True when every sample is finite and none is subnormal. */
inline bool allFiniteAndNormal (const juce::AudioBuffer<float>& buffer)
{
    for (int c = 0; c < buffer.getNumChannels(); ++c)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
        {
            const float x = buffer.getSample (c, i);
            if (! std::isfinite (x) || std::fpclassify (x) == FP_SUBNORMAL)
                return false;
        }
    return true;
}
} // namespace TestSignals
