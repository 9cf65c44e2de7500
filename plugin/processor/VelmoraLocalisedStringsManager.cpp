#include "VelmoraLocalisedStringsManager.h"

#include "VelmoraTranslations.h"

juce::String VelmoraLocalisedStringsManager::getProductTable (const juce::String& code)
{
    if (! getLanguageCodes().contains (code))
        return {};

    int size = 0;
    const auto* data = VelmoraTranslations::getNamedResource ((code + "_txt").toRawUTF8(), size);
    return data != nullptr ? juce::String::fromUTF8 (data, size) : juce::String();
}

void VelmoraLocalisedStringsManager::addProductStrings (const juce::String& code)
{
    if (const auto table = getProductTable (code); table.isNotEmpty())
        addToCurrentMappings (table);
}
