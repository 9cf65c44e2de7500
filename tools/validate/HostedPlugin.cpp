#include "HostedPlugin.h"

namespace HostedPlugin
{
const char* formatName (Format f)
{
    return f == Format::vst3 ? "VST3" : "LV2";
}

Location builtLocation()
{
    return { VELMORA_VST3_BUNDLE, VELMORA_LV2_BUNDLE, VELMORA_LV2_URI };
}

Scanner::Scanner (Format f, const Location& where)
    : format (f)
{
    juce::OwnedArray<juce::PluginDescription> found;

    if (f == Format::vst3)
    {
        pluginFormat = std::make_unique<juce::VST3PluginFormat>();
        pluginFormat->findAllTypesForFile (found, where.vst3Bundle);
    }
    else
    {
        // LV2 plug-ins are found by URI once lilv has read the folder that holds the bundle.
        pluginFormat = std::make_unique<juce::LV2PluginFormat>();
        const auto bundle = juce::File (where.lv2Bundle);
        pluginFormat->searchPathsForPlugins (juce::FileSearchPath (bundle.getParentDirectory().getFullPathName()), false, false);
        pluginFormat->findAllTypesForFile (found, where.lv2Uri);
    }

    if (found.size() != 1)
        error = "expected one plug-in in the bundle, found " + juce::String (found.size());
    else
        description = std::make_unique<juce::PluginDescription> (*found[0]);
}

std::unique_ptr<juce::AudioPluginInstance> Scanner::create (double sampleRate, int maxBlockSize, juce::String& errorOut) const
{
    if (description == nullptr)
    {
        errorOut = error;
        return nullptr;
    }
    return pluginFormat->createInstanceFromDescription (*description, sampleRate, maxBlockSize, errorOut);
}

Loaded load (Format f, double sampleRate, int maxBlockSize)
{
    Loaded result;
    result.format = std::make_unique<Scanner> (f);
    result.instance = result.format->create (sampleRate, maxBlockSize, result.error);
    return result;
}

std::vector<juce::AudioProcessorParameter*> productParameters (juce::AudioPluginInstance& instance)
{
    std::vector<juce::AudioProcessorParameter*> result;
    // The VST3 wrapper also lists one hidden, non-automatable parameter per MIDI controller
    // and channel; hosts leave those out of their parameter lists, and so do we. When the
    // product has more than one program it adds a program selector too (ID 'prst').
    const juce::String programSelector ((juce::uint32) 0x70727374);
    for (auto* p : instance.getParameters())
    {
        auto* hosted = dynamic_cast<juce::AudioPluginInstance::HostedParameter*> (p);
        if (p != instance.getBypassParameter() && p->isAutomatable()
            && (hosted == nullptr || hosted->getParameterID() != programSelector))
            result.push_back (p);
    }
    return result;
}

juce::AudioProcessorParameter* findParameter (juce::AudioPluginInstance& instance, const juce::String& name)
{
    for (auto* p : productParameters (instance))
        if (p->getName (100) == name)
            return p;
    return nullptr;
}
} // namespace HostedPlugin
