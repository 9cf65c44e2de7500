#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#if defined(__SSE2__)
 #include <emmintrin.h>
#endif

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
        // Wrapped with selects: the voices' reads land either side of the seam at random.
        int index = (int) floorPos;
        index += index < 0 ? length : 0;
        index -= index >= length ? length : 0;
        const float* data = store[channel & 1];
        const float a = data[index];
        return a + (data[index + 1] - a) * (position - floorPos);
    }

    /** Four readInterpolated (channel, delaySamples[k]) at once, into out[k]; the same values. */
    void readInterpolated4 (int channel, const float* delaySamples, float* out) const noexcept
    {
#if defined(__SSE2__)
        alignas (16) int i[4];
        __m128 fraction;
        locate4 (_mm_loadu_ps (delaySamples), i, fraction);
        const float* data = store[channel & 1];
        const __m128 a = _mm_setr_ps (data[i[0]], data[i[1]], data[i[2]], data[i[3]]);
        const __m128 b = _mm_setr_ps (data[i[0] + 1], data[i[1] + 1], data[i[2] + 1], data[i[3] + 1]);
        _mm_storeu_ps (out, _mm_add_ps (a, _mm_mul_ps (_mm_sub_ps (b, a), fraction)));
#else
        for (int k = 0; k < 4; ++k)
            out[k] = readInterpolated (channel, delaySamples[k]);
#endif
    }

    /** readInterpolated (0, delayLeft) and readInterpolated (1, delayRight) at once. */
    void readInterpolatedStereo (float delayLeft, float delayRight, float& left, float& right) const noexcept
    {
#if defined(__SSE2__)
        alignas (16) int i[4];
        __m128 fraction;
        locate4 (_mm_setr_ps (delayLeft, delayRight, delayLeft, delayRight), i, fraction);
        const __m128 a = _mm_setr_ps (store[0][i[0]], store[1][i[1]], 0.0f, 0.0f);
        const __m128 b = _mm_setr_ps (store[0][i[0] + 1], store[1][i[1] + 1], 0.0f, 0.0f);
        alignas (16) float out[4];
        _mm_store_ps (out, _mm_add_ps (a, _mm_mul_ps (_mm_sub_ps (b, a), fraction)));
        left = out[0];
        right = out[1];
#else
        left = readInterpolated (0, delayLeft);
        right = readInterpolated (1, delayRight);
#endif
    }

    int getNumChannels() const noexcept { return numChannels; }
    int getWritePosition() const noexcept { return writePosition; }
    const float* getChannel (int c) const noexcept { return store[c & 1]; }

private:
#if defined(__SSE2__)
    // readInterpolated's index and fraction, four lanes at a time.
    void locate4 (__m128 delaySamples, int* index, __m128& fraction) const noexcept
    {
        const int reference = (writePosition == 0 ? length : writePosition) - 1;
        const __m128 position = _mm_sub_ps (_mm_set1_ps ((float) reference), delaySamples);
        // floor: truncate, then step down where truncation went up (negative fractions).
        __m128 floorPos = _mm_cvtepi32_ps (_mm_cvttps_epi32 (position));
        floorPos = _mm_sub_ps (floorPos, _mm_and_ps (_mm_cmpgt_ps (floorPos, position), _mm_set1_ps (1.0f)));
        const __m128i len = _mm_set1_epi32 (length);
        __m128i i = _mm_cvttps_epi32 (floorPos);
        i = _mm_add_epi32 (i, _mm_and_si128 (_mm_cmplt_epi32 (i, _mm_setzero_si128()), len));
        i = _mm_sub_epi32 (i, _mm_andnot_si128 (_mm_cmplt_epi32 (i, len), len));
        _mm_store_si128 (reinterpret_cast<__m128i*> (index), i);
        fraction = _mm_sub_ps (position, floorPos);
    }
#endif

    int numChannels;
    juce::HeapBlock<float> memory;
    float* store[2];
    int writePosition = 0;
    bool cleared = true;
};
