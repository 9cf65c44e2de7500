#include "VelmoraParameterTexts.h"

#include "../../halvex/state/SafeXml.h"

#include <cmath>

juce::String chorusModeName (int index)
{
    switch (index)
    {
        case 0: return "Retro";
        case 1: return "Multi";
        case 2: return "Detune";
        case 3: return "Rand";
        default: return "None";
    }
}

namespace VelmoraTexts
{
float parseNumber (const juce::String& text)
{
    const auto t = text.trimStart();
    const auto p = t.getCharPointer();
    // Only a text that starts like a number is read; getFloatValue would also read "inf"/"nan".
    const auto first = *p;
    const auto second = *(p + 1);
    const bool startsNumeric = juce::CharacterFunctions::isDigit (first)
                               || ((first == '-' || first == '+' || first == '.') && (juce::CharacterFunctions::isDigit (second) || second == '.'));
    if (! startsNumeric)
        return 0.0f;
    // Not JUCE's reader: its exponent overflows on hosts' texts like "1e99999999999".
    const double v = halvex::SafeXml::readNumber (t);
    if (std::isnan (v))
        return 0.0f;
    return (float) juce::jlimit ((double) -std::numeric_limits<float>::max(), (double) std::numeric_limits<float>::max(), v);
}

juce::String twoDecimals (float value)
{
    return juce::String (value, 2);
}

juce::String modeToText (float value)
{
    return chorusModeName (juce::jlimit (0, 3, (int) std::nearbyint (value)));
}

float modeFromText (const juce::String& text)
{
    if (text == "Retro") return 0.0f;
    if (text == "Multi") return 1.0f;
    if (text == "Detune") return 2.0f;
    return 3.0f;
}

juce::String echoEnableToText (float value)
{
    return value < 0.5f ? "Disabled" : "Enabled";
}

float echoEnableFromText (const juce::String& text)
{
    return text == "Enabled" ? 1.0f : 0.0f;
}
} // namespace VelmoraTexts

Param100TextHelper::Param100TextHelper (juce::NormalisableRange<float> displayRange)
    : range (displayRange)
{
}

juce::String Param100TextHelper::toText (float value) const
{
    return VelmoraTexts::twoDecimals (range.convertFrom0to1 (juce::jlimit (0.0f, 1.0f, value / 100.0f)));
}

float Param100TextHelper::fromText (const juce::String& text) const
{
    const float number = VelmoraTexts::parseNumber (text);
    return juce::jlimit (0.0f, 1.0f, range.convertTo0to1 (juce::jlimit (range.start, range.end, number))) * 100.0f;
}

juce::String PitchTextHelper::toText (float value)
{
    return VelmoraTexts::twoDecimals ((value / 50.0f - 1.0f) * 30.0f);
}

float PitchTextHelper::fromText (const juce::String& text)
{
    return (VelmoraTexts::parseNumber (text) / 30.0f + 1.0f) * 50.0f;
}

juce::String DelayTextHelper::toText (float value) const
{
    const float proportion = value / 100.0f;
    const float ms = (proportion * proportion + minimum) * 1000.0f;
    if (ms < 100.0f)
        return juce::String (ms, 1);
    return juce::String ((int) std::nearbyint (ms));
}

float DelayTextHelper::fromText (const juce::String& text) const
{
    const float argument = VelmoraTexts::parseNumber (text) * 0.001f - minimum;
    // Below the minimum delay there is no square root: the travel's start.
    if (! (argument > 0.0f))
        return 0.0f;
    return std::sqrt (argument) * 100.0f;
}
