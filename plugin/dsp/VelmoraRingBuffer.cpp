#include "VelmoraRingBuffer.h"

VelmoraRingBuffer::VelmoraRingBuffer (int channels)
    : numChannels (channels), memory ((size_t) 2 * (length + 1), true)
{
    store[0] = memory.get();
    store[1] = memory.get() + length + 1;
}

void VelmoraRingBuffer::clear()
{
    if (! cleared)
        std::fill (memory.get(), memory.get() + 2 * (length + 1), 0.0f);
    cleared = true;
    writePosition = 0;
}

void VelmoraRingBuffer::writeBlock (const float* const* channels, int n) noexcept
{
    if (n <= 0)
        return;

    // A block longer than the ring leaves only its newest `length` samples.
    int offset = 0;
    if (n > length)
    {
        writePosition = (writePosition + (n - length)) % length;
        offset = n - length;
        n = length;
    }

    const int room = length - writePosition;
    for (int c = 0; c < 2; ++c)
    {
        float* data = store[c];
        const float* src = channels[c] + offset;
        if (room > n)
        {
            std::copy (src, src + n, data + writePosition);
        }
        else
        {
            std::copy (src, src + room, data + writePosition);
            std::copy (src + room, src + n, data);
        }
        data[length] = data[0];
    }

    writePosition += n;
    if (writePosition >= length)
        writePosition -= length;
    cleared = false;
}
