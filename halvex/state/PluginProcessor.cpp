#include "PluginProcessor.h"

namespace halvex
{

PluginProcessor::PluginProcessor (const juce::String& name)
    : juce::AudioProcessor (BusesProperties()
                                .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                                .withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      productName (name),
      valueTreeState (*this, &undoManager)
{
}

PluginProcessor::~PluginProcessor()
{
    cancelPendingUpdate();
}

bool PluginProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    // Stereo out always; the input may be stereo, mono (upmixed) or switched off.
    if (layouts.getMainOutputChannelSet() != juce::AudioChannelSet::stereo())
        return false;

    const auto in = layouts.getMainInputChannelSet();
    return in == juce::AudioChannelSet::stereo() || in == juce::AudioChannelSet::mono() || in.isDisabled();
}

void PluginProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    // Sets FTZ/DAZ for the call and restores the caller's mode on exit.
    const juce::ScopedNoDenormals noDenormals;

    if (isMidiEnabled.load (std::memory_order_relaxed))
        handleIncomingMidi (midi);

    processPluginBlock (buffer, midi);
}

} // namespace halvex
