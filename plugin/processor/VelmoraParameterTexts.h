#pragma once

#include <juce_core/juce_core.h>

/** Mode index 0..3 to its name; "None" for anything else. */
juce::String chorusModeName (int index);

namespace VelmoraTexts
{
/** The leading decimal number of a text (leading blanks skipped); 0 when there is none. */
float parseNumber (const juce::String& text);

/** Two digits after the point, no unit. */
juce::String twoDecimals (float value);

juce::String modeToText (float value);
float modeFromText (const juce::String& text);

juce::String echoEnableToText (float value);
float echoEnableFromText (const juce::String& text);
} // namespace VelmoraTexts

/** Percent-style parameters shown through a display range. */
class Param100TextHelper
{
public:
    explicit Param100TextHelper (juce::NormalisableRange<float> displayRange = { 0.0f, 100.0f });
    juce::String toText (float value) const;
    float fromText (const juce::String& text) const;

private:
    juce::NormalisableRange<float> range;
};

/** Detune depth shown in cents: 0..100 maps to -30..+30. */
struct PitchTextHelper
{
    static juce::String toText (float value);
    static float fromText (const juce::String& text);
};

/** Echo delay shown in milliseconds on a square-law travel from the minimum delay. */
class DelayTextHelper
{
public:
    explicit DelayTextHelper (float minimumSeconds = 0.0001f) : minimum (minimumSeconds) {}
    juce::String toText (float value) const;
    float fromText (const juce::String& text) const;

private:
    float minimum;
};
