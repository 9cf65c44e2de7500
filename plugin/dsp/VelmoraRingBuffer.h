#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

/** Recent input of a chorus algorithm's voices: channel 2v holds voice v's left input,
    2v + 1 its right. One guard sample past the end mirrors sample 0 so an interpolated
    read at the last index never wraps. Audio thread only (after construction).

    Every voice hears the same stereo input, so all even channels always hold the same
    samples, as do all odd ones: only one left and one right channel are stored and
    channel c reads storage channel c & 1. Writes cost two stores per sample and the
    voices' reads share cache lines. */
class VelmoraRingBuffer
{
public:
    static constexpr int length = 38400;

    explicit VelmoraRingBuffer (int numChannels);
    virtual ~VelmoraRingBuffer() = default;

    void clear();

    /** values[0], values[1]: the left and right input shared by every voice. */
    void writeSample (const float* values) noexcept { writeStereo (values[0], values[1]); }

    void writeStereo (float left, float right) noexcept
    {
        store[0][writePosition] = left;
        store[1][writePosition] = right;
        if (writePosition == 0)
        {
            store[0][length] = left;
            store[1][length] = right;
        }
        if (++writePosition == length)
            writePosition = 0;
        cleared = false;
    }

    /** channels[0], channels[1]: left and right input blocks. */
    void writeBlock (const float* const* channels, int numSamples) noexcept;

    float readInterpolated (int channel, float delaySamples) const noexcept
    {
        const int reference = (writePosition == 0 ? length : writePosition) - 1;
        const float position = (float) reference - delaySamples;
        const float floorPos = std::floor (position);
        int index = (int) floorPos;
        if (index < 0)
            index += length;
        else if (index >= length)
            index -= length;
        const float* data = store[channel & 1];
        const float a = data[index];
        return a + (data[index + 1] - a) * (position - floorPos);
    }

    int getNumChannels() const noexcept { return numChannels; }
    int getWritePosition() const noexcept { return writePosition; }
    const float* getChannel (int c) const noexcept { return store[c & 1]; }

private:
    int numChannels;
    juce::HeapBlock<float> memory;
    float* store[2];
    int writePosition = 0;
    bool cleared = true;
};
