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

/** Where the binaries are: the build's own artefacts unless a caller says otherwise. */
struct Location
{
    juce::String vst3Bundle, lv2Bundle, lv2Uri;
};

Location builtLocation();

/** Finds the plug-in in its bundle once, then creates instances from that description;
    scanning (lilv reading every Turtle file, the VST3 module's factory) costs far more than
    an instance. Call on the message thread; instances must not outlive the scanner. */
class Scanner
{
public:
    Scanner (Format, const Location& = builtLocation());

    bool found() const noexcept { return description != nullptr; }
    const juce::String& getError() const noexcept { return error; }
    Format getFormat() const noexcept { return format; }

    std::unique_ptr<juce::AudioPluginInstance> create (double sampleRate, int maxBlockSize, juce::String& errorOut) const;

private:
    Format format;
    std::unique_ptr<juce::AudioPluginFormat> pluginFormat;
    std::unique_ptr<juce::PluginDescription> description;
    juce::String error;
};

/** A loaded instance and the format that created it; the format is declared first so that
    it outlives the instance (the LV2 world and the VST3 module belong to it). */
struct Loaded
{
    std::unique_ptr<Scanner> format;
    std::unique_ptr<juce::AudioPluginInstance> instance;
    juce::String error;
};

/** Scans the built bundle and instantiates it synchronously; call on the message thread. */
Loaded load (Format, double sampleRate, int maxBlockSize);

/** The parameters a host lists for automation, without the switches the format adds. */
std::vector<juce::AudioProcessorParameter*> productParameters (juce::AudioPluginInstance&);

/** The product parameter with this display name, or nullptr. */
juce::AudioProcessorParameter* findParameter (juce::AudioPluginInstance&, const juce::String& name);
} // namespace HostedPlugin
