#include "EchoDelayLine.h"

EchoDelayLine::EchoDelayLine()
    : memory ((size_t) numChannels * capacity, true)
{
    store[0] = memory.get();
    store[1] = memory.get() + capacity;
}

void EchoDelayLine::setDelay (int channel, float d) noexcept
{
    d = juce::jlimit (0.0f, (float) capacity, d);
    auto& ch = state[channel];
    if (d == ch.targetDelay)
        return;

    ch.steady = false;
    if (ch.fadeCounter > 0)
    {
        ch.pendingDelay = d;
        ch.hasPending = true;
        return;
    }
    startFade (ch, d);
}

void EchoDelayLine::startFade (ChannelState& ch, float d) noexcept
{
    ch.targetDelay = d;
    ch.newReadIndex = ch.writeIndex - (int) d;
    if (ch.newReadIndex < 0)
        ch.newReadIndex += capacity;
}

void EchoDelayLine::finishFade (ChannelState& ch) noexcept
{
    ch.readIndex = ch.newReadIndex;
    ch.steady = true;
    ch.fadeCounter = 0;

    if (ch.hasPending)
    {
        ch.hasPending = false;
        const float pending = juce::jlimit (0.0f, (float) capacity, ch.pendingDelay);
        if (pending != ch.targetDelay)
        {
            ch.steady = false;
            startFade (ch, pending);
        }
    }
}

void EchoDelayLine::clear()
{
    if (! cleared)
        std::fill (memory.get(), memory.get() + (size_t) numChannels * capacity, 0.0f);
    cleared = true;
}
