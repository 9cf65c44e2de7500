#include "DemoSignal.h"

#include <cmath>
#include <vector>

namespace
{
constexpr double twoPi = juce::MathConstants<double>::twoPi;

/** Adds a mono event into both channels with a constant-power pan (-1 left .. +1 right). */
void addPanned (juce::AudioBuffer<float>& out, const std::vector<float>& mono, int start, float pan, float gain)
{
    const double angle = (pan + 1.0) * juce::MathConstants<double>::pi * 0.25;
    const float gains[2] = { gain * (float) std::cos (angle), gain * (float) std::sin (angle) };
    const int n = juce::jmin ((int) mono.size(), out.getNumSamples() - start);
    for (int c = 0; c < 2 && n > 0; ++c)
        out.addFrom (c, start, mono.data(), n, gains[c]);
}

/** A plucked string (Karplus-Strong): a noise burst circulating in a delay of one period
    through a two-point average. The fractional period keeps chords in tune. */
std::vector<float> pluck (double hz, double sampleRate, double seconds, double brightness, juce::Random& random)
{
    const int length = (int) (seconds * sampleRate);
    const double period = sampleRate / hz - 0.5; // the average delays by half a sample
    const int whole = (int) period;
    const float frac = (float) (period - whole);
    const float loss = (float) std::pow (0.001, 1.0 / (hz * 2.5)); // about -60 dB after 2.5 s

    std::vector<float> y ((size_t) length, 0.0f);
    float smoothed = 0.0f;
    auto at = [&y] (int i) { return i >= 0 ? y[(size_t) i] : 0.0f; };
    for (int n = 0; n < length; ++n)
    {
        float excitation = 0.0f;
        if (n < whole)
        {
            // Low-passed noise: a softer pick for lower brightness.
            smoothed += (float) brightness * (random.nextFloat() * 2.0f - 1.0f - smoothed);
            excitation = smoothed;
        }
        const float d0 = at (n - whole) * (1.0f - frac) + at (n - whole - 1) * frac;
        const float d1 = at (n - whole - 1) * (1.0f - frac) + at (n - whole - 2) * frac;
        y[(size_t) n] = excitation + loss * 0.5f * (d0 + d1);
    }
    return y;
}

std::vector<float> kick (double sampleRate)
{
    std::vector<float> out ((size_t) (0.4 * sampleRate));
    double phase = 0.0;
    for (size_t i = 0; i < out.size(); ++i)
    {
        const double t = (double) i / sampleRate;
        const double hz = 45.0 + 110.0 * std::exp (-t / 0.035);
        phase += twoPi * hz / sampleRate;
        out[i] = (float) (std::sin (phase) * std::exp (-t / 0.16) * std::min (1.0, t / 0.002));
    }
    return out;
}

std::vector<float> snare (double sampleRate, juce::Random& random)
{
    std::vector<float> out ((size_t) (0.3 * sampleRate));
    float previous = 0.0f;
    for (size_t i = 0; i < out.size(); ++i)
    {
        const double t = (double) i / sampleRate;
        const float noise = random.nextFloat() * 2.0f - 1.0f;
        const float bright = noise - 0.6f * previous; // a gentle high-shelf tilt
        previous = noise;
        const double body = std::sin (twoPi * 185.0 * t) * std::exp (-t / 0.05);
        out[i] = (float) ((0.55 * bright * std::exp (-t / 0.07) + 0.5 * body) * std::min (1.0, t / 0.001));
    }
    return out;
}

std::vector<float> hat (double sampleRate, juce::Random& random, double decay)
{
    std::vector<float> out ((size_t) (6.0 * decay * sampleRate));
    float previous = 0.0f;
    for (size_t i = 0; i < out.size(); ++i)
    {
        const double t = (double) i / sampleRate;
        const float noise = random.nextFloat() * 2.0f - 1.0f;
        out[i] = (float) ((noise - previous) * 0.5 * std::exp (-t / decay)); // differenced noise: mostly highs
        previous = noise;
    }
    return out;
}

double midiToHz (int note) { return 440.0 * std::pow (2.0, (note - 69) / 12.0); }
} // namespace

juce::AudioBuffer<float> makeDemoSignal (double sampleRate, juce::int64 seed, double seconds)
{
    juce::AudioBuffer<float> out (2, (int) std::lround (seconds * sampleRate));
    out.clear();
    juce::Random random (seed);

    const double beat = 0.5; // 120 BPM
    auto at = [sampleRate] (double t) { return (int) std::lround (t * sampleRate); };

    // A minor, F, C, G: a chord every three beats, strummed low to high, strings spread across the field.
    const int chords[4][5] = { { 45, 52, 57, 60, 64 }, { 41, 48, 53, 57, 60 }, { 48, 55, 60, 64, 67 }, { 43, 50, 55, 59, 62 } };
    for (int chord = 0; chord < 4; ++chord)
    {
        const double start = chord * 3.0 * beat;
        for (int s = 0; s < 5; ++s)
        {
            const double onset = start + 0.018 * s + 0.004 * random.nextDouble();
            const double ring = juce::jmin (3.0, seconds - onset);
            if (ring <= 0.0)
                continue;
            const auto string = pluck (midiToHz (chords[chord][s]), sampleRate, ring, 0.35 + 0.1 * s, random);
            addPanned (out, string, at (onset), -0.7f + 0.35f * (float) s, 0.55f);
        }
    }

    // Drums stop a beat and a half early so the strings ring on their own at the end.
    const auto kickSound = kick (sampleRate);
    const auto snareSound = snare (sampleRate, random);
    for (double t = 0.0; t < seconds - 1.5; t += beat)
    {
        const int beatIndex = (int) std::lround (t / beat);
        if (beatIndex % 2 == 0)
            addPanned (out, kickSound, at (t), 0.0f, 0.9f);
        else
            addPanned (out, snareSound, at (t), 0.15f, 0.6f);

        for (int half = 0; half < 2; ++half)
        {
            const auto hatSound = hat (sampleRate, random, half == 0 ? 0.03 : 0.012);
            addPanned (out, hatSound, at (t + half * beat * 0.5), -0.5f, 0.25f);
        }
    }

    // The last chord is still ringing at the end: fade it rather than cut it, so the
    // only thing left after the input is the effect's own tail.
    const int fade = juce::jmin (out.getNumSamples(), at (0.4));
    for (int i = 0; i < fade; ++i)
    {
        const float g = 0.5f + 0.5f * (float) std::cos (juce::MathConstants<double>::pi * (i + 1) / fade);
        for (int c = 0; c < 2; ++c)
            out.setSample (c, out.getNumSamples() - fade + i, out.getSample (c, out.getNumSamples() - fade + i) * g);
    }

    const float peak = out.getMagnitude (0, out.getNumSamples());
    if (peak > 0.0f)
        out.applyGain (demoPeakGain / peak);
    return out;
}
