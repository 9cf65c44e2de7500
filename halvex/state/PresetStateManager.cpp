#include "PresetStateManager.h"

namespace halvex
{

PresetStateManager::PresetStateManager (const juce::String& elementName) : name (elementName) {}

PresetStateManager::~PresetStateManager() = default;

const juce::XmlElement* PresetStateManager::findChild (const juce::XmlElement& parent, const juce::String& tag)
{
    for (auto* child : parent.getChildIterator())
        if (child->getTagName().equalsIgnoreCase (tag))
            return child;

    return nullptr;
}

bool PresetStateManager::canLoadState (const juce::XmlElement& document) const
{
    return findChild (document, name) != nullptr;
}

void PresetStateManager::addStateTo (juce::XmlElement& document)
{
    auto* element = document.createNewChildElement (name);
    getState (*element);
}

bool PresetStateManager::loadStateFrom (const juce::XmlElement& document)
{
    if (! canLoadState (document))
        return false;

    if (auto* element = findChild (document, name))
        setState (*element);

    notifyStateChanged();
    return true;
}

void PresetStateManager::notifyStateChanged()
{
    listeners.call ([this] (Listener& l) { l.presetStateChanged (*this); });
}

} // namespace halvex
