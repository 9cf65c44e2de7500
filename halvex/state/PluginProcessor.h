#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace halvex
{

/** The framework's audio processor: owns the parameter tree and the undo manager,
    wraps every block (denormal flushing, MIDI hand-off) and answers the host's fixed
    questions. The product supplies processPluginBlock and createEditorInstance. */
class PluginProcessor : public juce::AudioProcessor,
                        public juce::AsyncUpdater
{
public:
    explicit PluginProcessor (const juce::String& productName);
    ~PluginProcessor() override;

    //==============================================================================
    // Product hooks.
    virtual void processPluginBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) = 0;
    virtual juce::AudioProcessorEditor* createEditorInstance() = 0;

    /** Called by the plug-in entry point right after the product's constructor. */
    virtual void initialiseStateManagers() {}

    //==============================================================================
    const juce::String getName() const override { return productName; }

    /** Audio thread. */
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    void processBlockBypassed (juce::AudioBuffer<float>&, juce::MidiBuffer&) override {}
    using juce::AudioProcessor::processBlock;
    using juce::AudioProcessor::processBlockBypassed;

    bool acceptsMidi() const override { return true; }
    bool producesMidi() const override { return false; }
    bool supportsMPE() const override { return false; }
    bool isMidiEffect() const override { return false; }
    juce::AudioProcessorParameter* getBypassParameter() const override { return nullptr; }

    bool hasEditor() const override { return true; }
    juce::AudioProcessorEditor* createEditor() override { return createEditorInstance(); }

    bool isBusesLayoutSupported (const BusesLayout&) const override;

    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return {}; }
    void changeProgramName (int, const juce::String&) override {}

    void getStateInformation (juce::MemoryBlock&) override {}
    void setStateInformation (const void*, int) override {}

    juce::AudioProcessorValueTreeState& getValueTreeState() noexcept { return valueTreeState; }
    juce::UndoManager& getUndoManager() noexcept { return undoManager; }

    /** Whether incoming MIDI is looked at; any thread. */
    std::atomic<bool> isMidiEnabled { false };

protected:
    /** Hands the block's MIDI to the framework; audio thread. */
    virtual void handleIncomingMidi (juce::MidiBuffer&) {}

    void handleAsyncUpdate() override {}

private:
    const juce::String productName;
    juce::UndoManager undoManager;
    juce::AudioProcessorValueTreeState valueTreeState;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PluginProcessor)
};

} // namespace halvex
