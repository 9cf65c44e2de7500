#pragma once

#include "RenderOptions.h"

#include <juce_audio_processors/juce_audio_processors.h>

/** A --set value turned into the parameter's terms. */
struct ResolvedValue
{
    float normalised = 0.0f;
    float real = 0.0f;
    juce::String error; // empty on success
};

/** A plain number is in the parameter's own units and must lie in its range; a number
    followed by the parameter's label, or a word, goes through the parameter's own
    text-to-value function. Words must read back as themselves, so a typo is an error
    rather than whatever the parameter makes of unknown text. */
ResolvedValue resolveParameterValue (const juce::RangedAudioParameter&, const juce::String& text);

juce::RangedAudioParameter* findParameter (juce::AudioProcessor&, const juce::String& id);

/** Resolves every assignment first and sets them only if all are good, so a bad one
    leaves the processor untouched. Returns the first problem, or empty. Message thread. */
juce::String applyAssignments (juce::AudioProcessor&, const std::vector<ParameterAssignment>&);

/** The --list-parameters table: a header line, then one tab-separated line per host
    parameter in host order. */
juce::String describeParameters (juce::AudioProcessor&);
