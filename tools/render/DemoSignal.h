#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

/** The demo's dry signal: two bars at 120 BPM of plucked chords over a kick, snare and
    hi-hat pattern, stereo, peaking at -6 dBFS. The same seed gives the same samples. */
juce::AudioBuffer<float> makeDemoSignal (double sampleRate, juce::int64 seed = 20240, double seconds = 6.0);

constexpr float demoPeakGain = 0.5011872f; // -6 dBFS
