#pragma once

#include <juce_core/juce_core.h>

namespace halvex
{
class PluginProcessor;
}

/** Preset files for the command-line tools, through the framework's own preset file
    manager (no folders, no preferences), so the files are exactly what the plug-in reads
    and writes. Each returns an empty string or a one-line reason. Message thread. */
namespace PresetIO
{
juce::String loadParameterPreset (halvex::PluginProcessor&, const juce::File&);
juce::String saveParameterPreset (halvex::PluginProcessor&, const juce::File&,
                                  const juce::String& author = {}, const juce::String& description = {});
juce::String saveMidiMappingPreset (halvex::PluginProcessor&, const juce::File&,
                                    const juce::String& author = {}, const juce::String& description = {});
} // namespace PresetIO
