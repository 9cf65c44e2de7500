#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>
#include <ostream>
#include <vector>

/** Loads the built bundles through JUCE's plug-in hosting, as a host application would. */
namespace HostedPlugin
{
enum class Format { vst3, lv2 };

const char* formatName (Format);

/** For readable test names and failure messages. */
inline void PrintTo (Format f, std::ostream* os) { *os << formatName (f); }

/** A loaded instance and the format that created it; the format is declared first so that
    it outlives the instance (the LV2 world and the VST3 module belong to it). */
struct Loaded
{
    std::unique_ptr<juce::AudioPluginFormat> format;
    std::unique_ptr<juce::AudioPluginInstance> instance;
    juce::String error;
};

/** Scans the built bundle and instantiates it synchronously; call on the message thread. */
Loaded load (Format, double sampleRate, int maxBlockSize);

/** The parameters a host lists for automation, without the bypass switch the format adds. */
std::vector<juce::AudioProcessorParameter*> productParameters (juce::AudioPluginInstance&);

/** The product parameter with this display name, or nullptr. */
juce::AudioProcessorParameter* findParameter (juce::AudioPluginInstance&, const juce::String& name);
} // namespace HostedPlugin
