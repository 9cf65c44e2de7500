#include "PresetIO.h"

#include "halvex/state/PluginProcessor.h"

namespace PresetIO
{
namespace
{
    std::unique_ptr<halvex::PresetFileManager> managerFor (halvex::PluginProcessor& processor, halvex::PresetStateManager& tracked)
    {
        return std::make_unique<halvex::PresetFileManager> (processor, tracked, halvex::PresetFileManager::Folders {},
                                                            ".qopreset", nullptr);
    }

    juce::String save (halvex::PluginProcessor& processor, halvex::PresetStateManager& tracked, const juce::File& file,
                       const juce::String& author, const juce::String& description)
    {
        auto manager = managerFor (processor, tracked);
        manager->setAuthor (author);
        manager->setDescription (description);

        if (! manager->savePreset (file))
            return "cannot write preset " + file.getFullPathName();

        return {};
    }
} // namespace

juce::String loadParameterPreset (halvex::PluginProcessor& processor, const juce::File& file)
{
    auto manager = managerFor (processor, processor.getProcessorParams());

    if (! file.existsAsFile())
        return "no such preset: " + file.getFullPathName();

    if (! manager->isValidPresetFile (file.getFullPathName()))
        return "not a " + processor.getName() + " preset: " + file.getFullPathName();

    manager->loadPresetFile (file.getFullPathName(), nullptr);
    return {};
}

juce::String saveParameterPreset (halvex::PluginProcessor& processor, const juce::File& file,
                                  const juce::String& author, const juce::String& description)
{
    return save (processor, processor.getProcessorParams(), file, author, description);
}

juce::String saveMidiMappingPreset (halvex::PluginProcessor& processor, const juce::File& file,
                                    const juce::String& author, const juce::String& description)
{
    return save (processor, processor.getMidiMapper(), file, author, description);
}
} // namespace PresetIO
