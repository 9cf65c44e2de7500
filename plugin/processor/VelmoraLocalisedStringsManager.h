#pragma once

#include "../../halvex/state/LocalisedStringsManager.h"

/** Velmora's own texts on top of the framework's. */
class VelmoraLocalisedStringsManager : public halvex::LocalisedStringsManager
{
public:
    using halvex::LocalisedStringsManager::LocalisedStringsManager;

    void addProductStrings (const juce::String& languageCode) override;

    /** The product table of a language, as compiled in; empty for unknown codes. */
    static juce::String getProductTable (const juce::String& languageCode);
};
