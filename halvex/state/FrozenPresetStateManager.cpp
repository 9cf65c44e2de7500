#include "FrozenPresetStateManager.h"

#include "Param.h"
#include "ProcessorParamsSet.h"

namespace halvex
{
namespace
{
    constexpr int maxInstancePairs = 256;
}

FrozenPresetStateManager::FrozenPresetStateManager (juce::AudioProcessor& p, ParamSet* native, juce::PropertiesFile* prefs)
    : PresetStateManager ("frozenParams"), processor (p), nativeParams (native), preferences (prefs)
{
}

juce::StringArray FrozenPresetStateManager::getParamIDs() const
{
    return ProcessorParamsSet::getAllParamIDs (processor, nativeParams);
}

bool FrozenPresetStateManager::isFrozen (const juce::String& paramID) const
{
    return frozen.contains (paramID) && frozen[paramID];
}

void FrozenPresetStateManager::setFrozen (const juce::String& paramID, bool shouldBeFrozen)
{
    if (shouldBeFrozen == isFrozen (paramID))
        return;

    frozen.set (paramID, shouldBeFrozen);

    if (nativeParams != nullptr)
    {
        if (auto* p = nativeParams->getParam (paramID); p != nullptr && p->isFreezable && p->isFrozen != shouldBeFrozen)
        {
            p->isFrozen = shouldBeFrozen;
            p->notifyFrozenChanged();
        }
    }

    frozenListeners.call ([&] (Listener& l) { l.frozenStateChanged (*this, paramID, shouldBeFrozen); });
    notifyStateChanged();
}

void FrozenPresetStateManager::unfreezeAll()
{
    for (const auto& id : getParamIDs())
        setFrozen (id, false);
}

void FrozenPresetStateManager::saveDefaultFrozenStates()
{
    if (preferences == nullptr)
        return;

    auto root = preferences->getXmlValue ("frozen");
    if (root == nullptr)
        root = std::make_unique<juce::XmlElement> ("FROZEN");

    auto states = std::make_unique<juce::XmlElement> ("STATES");
    for (const auto& id : getParamIDs())
        states->setAttribute (id, isFrozen (id) ? "1" : "0");

    root->deleteAllChildElementsWithTagName ("STATES");
    root->addChildElement (states.release());
    preferences->setValue ("frozen", root.get());
}

void FrozenPresetStateManager::recallDefaultFrozenStates()
{
    const auto root = preferences != nullptr ? preferences->getXmlValue ("frozen") : nullptr;
    const auto* states = root != nullptr ? root->getChildByName ("STATES") : nullptr;

    if (states == nullptr)
    {
        unfreezeAll();
        return;
    }

    const auto ids = getParamIDs();
    juce::Array<bool> flags;

    for (const auto& id : ids)
        flags.add (states->getBoolAttribute (id, false));

    for (int i = 0; i < ids.size(); ++i)
        setFrozen (ids[i], flags[i]);
}

void FrozenPresetStateManager::getState (juce::XmlElement& element)
{
    for (const auto& id : getParamIDs())
        element.setAttribute (id, isFrozen (id) ? "1" : "0");
}

void FrozenPresetStateManager::setState (const juce::XmlElement& element)
{
    for (const auto& id : getParamIDs())
        setFrozen (id, element.getBoolAttribute (id, isFrozen (id)));
}

//==============================================================================
void PreferencesStateManager::getState (juce::XmlElement& element)
{
    for (const auto& key : pairs.getAllKeys())
        if (juce::XmlElement::isValidXmlName (key))
            element.setAttribute (key, pairs[key]);
}

void PreferencesStateManager::setState (const juce::XmlElement& element)
{
    // The stored pairs replace the instance's: keys of an earlier session must not linger.
    pairs.clear();

    // An instance keeps a handful of keys. Each set() searches the keys and each attribute
    // lookup walks the list, so a document with thousands would take minutes: the rest is dropped.
    const auto count = std::min (element.getNumAttributes(), maxInstancePairs);

    for (int i = 0; i < count; ++i)
        pairs.set (element.getAttributeName (i), element.getAttributeValue (i));
}

} // namespace halvex
