// The host's state blob, on one instance that lives across inputs the way a host keeps it.
// Each input goes in as raw bytes (the framing itself is hostile) and again wrapped in the
// binary XML framing, so mutations reach the document behind it.
#include "FuzzSupport.h"

namespace
{
struct HostState
{
    fuzz::Environment environment;
    std::unique_ptr<VelmoraProcessor> instance = fuzz::makeInstance();
    juce::AudioBuffer<float> audio { 2, 64 };
    juce::MidiBuffer midi;
};

HostState* state = nullptr;

juce::MemoryBlock framed (const uint8_t* data, size_t size)
{
    juce::MemoryBlock block;
    juce::MemoryOutputStream out (block, false);
    out.writeInt (0x21324356); // little-endian, as copyXmlToBinary writes it
    out.writeInt ((int) (size + 1));
    out.write (data, size);
    out.writeByte (0);
    out.flush();
    return block;
}

void restoreAndCheck (const void* data, size_t size)
{
    auto& p = *state->instance;
    p.setStateInformation (data, (int) size);
    p.dispatchMessageThreadWork();
    fuzz::checkInstance (p);
    fuzz::processOneBlock (p, state->audio, state->midi);

    // Whatever was accepted saves, and what it saves restores to the same bytes.
    juce::MemoryBlock saved, again;
    p.getStateInformation (saved);
    p.setStateInformation (saved.getData(), (int) saved.getSize());
    p.getStateInformation (again);
    VELMORA_FUZZ_CHECK (saved == again);
}
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    static HostState instance;
    state = &instance;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    restoreAndCheck (data, size);

    const auto block = framed (data, size);
    restoreAndCheck (block.getData(), block.getSize());
    return 0;
}
