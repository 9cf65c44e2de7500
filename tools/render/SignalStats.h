#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <cmath>

/** Peak, RMS and left/right correlation of a stereo stream, fed block by block. */
class SignalStats
{
public:
    void add (const juce::AudioBuffer<float>& buffer, int numSamples)
    {
        const float* left = buffer.getReadPointer (0);
        const float* right = buffer.getReadPointer (juce::jmin (1, buffer.getNumChannels() - 1));
        for (int i = 0; i < numSamples; ++i)
        {
            const double l = left[i], r = right[i];
            if (! std::isfinite (l) || ! std::isfinite (r))
            {
                ++nonFinite;
                continue;
            }
            peak = juce::jmax (peak, std::abs (l), std::abs (r));
            sumLL += l * l;
            sumRR += r * r;
            sumLR += l * r;
        }
        frames += numSamples;
    }

    double peakDb() const { return toDb (peak); }
    double rmsDb() const { return frames > 0 ? toDb (std::sqrt ((sumLL + sumRR) / (2.0 * (double) frames))) : toDb (0.0); }
    /** +1 for identical channels, -1 for opposite ones, 0 when either is silent. */
    double correlation() const
    {
        const double denominator = std::sqrt (sumLL * sumRR);
        return denominator > 0.0 ? sumLR / denominator : 0.0;
    }
    juce::int64 numFrames() const { return frames; }
    /** Frames holding NaN or infinity; they are left out of the other figures. */
    juce::int64 numNonFinite() const { return nonFinite; }

    static double toDb (double gain) { return gain > 0.0 ? 20.0 * std::log10 (gain) : -HUGE_VAL; }

private:
    double peak = 0.0, sumLL = 0.0, sumRR = 0.0, sumLR = 0.0;
    juce::int64 frames = 0, nonFinite = 0;
};
