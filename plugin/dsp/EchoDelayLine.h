#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

/** The echo's stereo delay line. A delay change crossfades linearly over 1024 samples
    from the old read position to the new one; a request arriving mid-fade waits for the
    running fade to finish (only the newest such request survives). Audio thread only. */
class EchoDelayLine
{
public:
    static constexpr int numChannels = 2;
    static constexpr int capacity = 384384;
    static constexpr int fadeLength = 1024;

    EchoDelayLine();

    void setDelay (int channel, float delaySamples) noexcept;

    /** Call once per sample before write(). With silent set only the arithmetic is skipped. */
    float readNext (int channel, bool silent = false) noexcept
    {
        auto& ch = state[channel];
        if (++ch.readIndex >= capacity)
            ch.readIndex = 0;

        const float* data = store[channel];
        if (ch.steady)
            return silent ? 0.0f : data[ch.readIndex];

        if (++ch.newReadIndex >= capacity)
            ch.newReadIndex = 0;

        float result = 0.0f;
        if (! silent)
        {
            const float g = (float) ch.fadeCounter / (float) fadeLength;
            result = (1.0f - g) * data[ch.readIndex] + g * data[ch.newReadIndex];
        }

        if (++ch.fadeCounter >= fadeLength)
            finishFade (ch);

        return result;
    }

    void write (int channel, float value) noexcept
    {
        auto& ch = state[channel];
        if (++ch.writeIndex >= capacity)
            ch.writeIndex = 0;
        store[channel][ch.writeIndex] = value;
        cleared = false;
    }

    void clear();

    struct ChannelState
    {
        int writeIndex = 0, readIndex = 0, newReadIndex = 0, fadeCounter = 0;
        bool steady = false;
        float targetDelay = 0.0f, pendingDelay = 0.0f;
        bool hasPending = false;
    };

    const ChannelState& getState (int channel) const noexcept { return state[channel]; }

private:
    void startFade (ChannelState&, float delay) noexcept;
    void finishFade (ChannelState&) noexcept;

    juce::HeapBlock<float> memory;
    float* store[numChannels];
    bool cleared = true;
    ChannelState state[numChannels];
};
