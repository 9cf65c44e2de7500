#include "HostedPlugin.h"

namespace HostedPlugin
{
const char* formatName (Format f)
{
    return f == Format::vst3 ? "VST3" : "LV2";
}

Loaded load (Format f, double sampleRate, int maxBlockSize)
{
    Loaded result;
    juce::OwnedArray<juce::PluginDescription> found;

    if (f == Format::vst3)
    {
        result.format = std::make_unique<juce::VST3PluginFormat>();
        result.format->findAllTypesForFile (found, VELMORA_VST3_BUNDLE);
    }
    else
    {
        // LV2 plug-ins are found by URI once lilv has read the folder that holds the bundle.
        result.format = std::make_unique<juce::LV2PluginFormat>();
        const auto bundle = juce::File (VELMORA_LV2_BUNDLE);
        result.format->searchPathsForPlugins (juce::FileSearchPath (bundle.getParentDirectory().getFullPathName()), false, false);
        result.format->findAllTypesForFile (found, VELMORA_LV2_URI);
    }

    if (found.size() != 1)
    {
        result.error = "expected one plug-in in the bundle, found " + juce::String (found.size());
        return result;
    }

    result.instance = result.format->createInstanceFromDescription (*found[0], sampleRate, maxBlockSize, result.error);
    return result;
}

std::vector<juce::AudioProcessorParameter*> productParameters (juce::AudioPluginInstance& instance)
{
    std::vector<juce::AudioProcessorParameter*> result;
    // The VST3 wrapper also lists one hidden, non-automatable parameter per MIDI controller
    // and channel; hosts leave those out of their parameter lists, and so do we.
    for (auto* p : instance.getParameters())
        if (p != instance.getBypassParameter() && p->isAutomatable())
            result.push_back (p);
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
