#pragma once

#include <juce_graphics/juce_graphics.h>
#include <juce_audio_basics/juce_audio_basics.h>

/** A picture of what a render did: the input above the output, each as a stereo waveform
    over a log-frequency spectrogram, on one time axis so the two line up. Any thread. */
class SpectrogramPicture
{
public:
    static juce::Image draw (const juce::AudioBuffer<float>& input, const juce::AudioBuffer<float>& output, double sampleRate,
                             const juce::String& title);

    /** Writes image as PNG beside target and renames it over target once complete. */
    static juce::String writePng (const juce::Image&, const juce::File& target);

    static constexpr int width = 1280;
    static constexpr double lowestHz = 20.0;
    static constexpr float floorDb = -110.0f; // the darkest colour

    static int height();
    /** panel 0 is the input, 1 the output. */
    static juce::Rectangle<int> waveArea (int panel);
    static juce::Rectangle<int> spectrumArea (int panel);

    /** Row, counted from the top of a spectrum of the given height, where hz is drawn:
        logarithmic from lowestHz at the bottom to half the sample rate at the top. */
    static double rowForFrequency (double hz, int rows, double sampleRate);
    static double frequencyForRow (double row, int rows, double sampleRate);
};
