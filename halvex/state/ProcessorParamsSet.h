#pragma once

#include "PresetStateManager.h"

#include <juce_audio_processors/juce_audio_processors.h>

namespace halvex
{

class FrozenPresetStateManager;
class ParamSet;

/** The processor's host-visible parameters as one preset element of plain values. */
class ProcessorParamsSet : public PresetStateManager,
                           public juce::AudioProcessorListener
{
public:
    ProcessorParamsSet (juce::AudioProcessor&, const juce::String& elementName = "PARAMS");
    ~ProcessorParamsSet() override;

    /** The freezer whose frozen parameters setState leaves alone; may be null. */
    void setFreezer (const FrozenPresetStateManager* f) noexcept { freezer = f; }

    void getState (juce::XmlElement&) override;
    void setState (const juce::XmlElement&) override;

    /** Any thread (host automation arrives on the audio thread). */
    void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override { notifyStateChanged(); }
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}

    static juce::String getParamID (juce::AudioProcessorParameter&);
    /** Every parameter ID the freezer and the MIDI mapper know: the processor's in order,
        then the native ones (the native set may be null). */
    static juce::StringArray getAllParamIDs (juce::AudioProcessor&, const ParamSet* nativeParams);

private:
    juce::AudioProcessor& processor;
    const FrozenPresetStateManager* freezer = nullptr;
};

} // namespace halvex
