#include "WavetableLfo.h"

#include <juce_core/juce_core.h>

WavetableLfo::WavetableLfo (double initial)
    : initialPhase (initial)
{
    for (int i = 0; i < tableSize; ++i)
    {
        const float fi = (float) i;
        float shape[numWaveforms];
        shape[sine] = std::sin (juce::MathConstants<float>::twoPi * fi / (float) tableSize);
        shape[square] = i < 512 ? 1.0f : -1.0f;
        if (i < 256)
            shape[triangle] = fi / 256.0f;
        else if (i < 512)
            shape[triangle] = 1.0f - (fi - 256.0f) / 256.0f;
        else if (i < 768)
            shape[triangle] = -(fi - 512.0f) / 256.0f;
        else
            shape[triangle] = -1.0f + (fi - 768.0f) / 256.0f;
        shape[rampUp] = -1.0f + 2.0f * fi / 1023.0f;
        shape[rampDown] = 1.0f - 2.0f * fi / 1023.0f;

        // The output range is -1..1, which the shapes already span.
        for (int w = 0; w < numWaveforms; ++w)
            tables[w][i] = shape[w];
    }

    for (int w = 0; w < numWaveforms; ++w)
    {
        tables[w][tableSize] = tables[w][0];
        for (int i = 0; i < tableSize; ++i)
            differences[w][i] = tables[w][i + 1] - tables[w][i];
    }

    setWaveform (triangle);
    resetPhase();
}

void WavetableLfo::resetPhase() noexcept
{
    double whole;
    phase = std::modf (initialPhase, &whole) * (double) tableSize;
}

void WavetableLfo::setWaveform (int index) noexcept
{
    waveform = juce::jlimit (0, numWaveforms - 1, index);
    table = tables[waveform];
    difference = differences[waveform];
}
