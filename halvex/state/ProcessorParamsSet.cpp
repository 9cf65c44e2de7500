#include "ProcessorParamsSet.h"

#include "FrozenPresetStateManager.h"
#include "Param.h"
#include "SafeXml.h"

namespace halvex
{

ProcessorParamsSet::ProcessorParamsSet (juce::AudioProcessor& p, const juce::String& elementName)
    : PresetStateManager (elementName), processor (p)
{
    processor.addListener (this);
}

ProcessorParamsSet::~ProcessorParamsSet()
{
    processor.removeListener (this);
}

juce::String ProcessorParamsSet::getParamID (juce::AudioProcessorParameter& parameter)
{
    if (auto* withID = dynamic_cast<juce::AudioProcessorParameterWithID*> (&parameter))
        return withID->paramID;

    return juce::String (parameter.getParameterIndex());
}

juce::StringArray ProcessorParamsSet::getAllParamIDs (juce::AudioProcessor& processor, const ParamSet* nativeParams)
{
    juce::StringArray ids;

    for (auto* parameter : processor.getParameters())
        ids.add (getParamID (*parameter));

    if (nativeParams != nullptr)
        ids.addArray (nativeParams->getParamIDs());

    return ids;
}

void ProcessorParamsSet::getState (juce::XmlElement& element)
{
    for (auto* parameter : processor.getParameters())
        if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter))
            element.setAttribute (ranged->paramID, juce::String ((double) ranged->convertFrom0to1 (ranged->getValue())));
}

void ProcessorParamsSet::setState (const juce::XmlElement& element)
{
    for (const bool metaPass : { true, false })
    {
        for (auto* parameter : processor.getParameters())
        {
            auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter);

            if (ranged == nullptr || ranged->isMetaParameter() != metaPass)
                continue;

            if (freezer != nullptr && freezer->isFrozen (ranged->paramID))
                continue;

            const auto plain = element.hasAttribute (ranged->paramID)
                                   ? SafeXml::getDoubleAttribute (element, ranged->paramID)
                                   : (double) ranged->convertFrom0to1 (ranged->getDefaultValue());

            // A value that is no number at all keeps the parameter where it is.
            if (std::isnan (plain))
                continue;

            const auto limited = juce::jlimit ((double) std::numeric_limits<float>::lowest(),
                                               (double) std::numeric_limits<float>::max(), plain);
            const auto normalised = juce::jlimit (0.0f, 1.0f, ranged->convertTo0to1 ((float) limited));

            if (! std::isfinite (normalised) || normalised == ranged->getValue())
                continue;

            ranged->setValue (normalised);
            ranged->sendValueChangedMessageToListeners (normalised);
        }
    }
}

} // namespace halvex
