#include "Param.h"
#include "SafeXml.h"

namespace halvex
{

Param::Param (const juce::String& id, const juce::String& displayName, const juce::String& unit,
              double minV, double maxV, double step, double defaultV, int kind)
    : paramID (id), name (displayName), label (unit),
      minValue (minV), maxValue (maxV), interval (step), rangeLength (maxV - minV), defaultValue (defaultV),
      type (kind), value (defaultV)
{
}

double Param::convertTo0to1 (double plainValue) const
{
    return rangeLength != 0.0 ? juce::jlimit (0.0, 1.0, (plainValue - minValue) / rangeLength) : 0.0;
}

double Param::convertFrom0to1 (double normalisedValue) const
{
    return minValue + juce::jlimit (0.0, 1.0, normalisedValue) * rangeLength;
}

void Param::setValueFromMidi (int controllerValue, int source)
{
    setValue (convertFrom0to1 (juce::jlimit (0, 127, controllerValue) / 127.0), source, nullptr);
}

void Param::setValue (double newValue, int source, juce::UndoManager* undoManager)
{
    if (isLocked || std::isnan (newValue))
        return;

    const auto low = std::min (minValue, maxValue), high = std::max (minValue, maxValue);
    const auto clamped = juce::jlimit (low, high, newValue);

    if (std::abs (getValue() - clamped) <= interval * 0.25)
        return;

    if (undoManager != nullptr && ParamSource::isRecordable (source))
    {
        const auto oldValue = getValue();
        setValue (newValue, source, nullptr);
        undoManager->perform (new ModifyParamAction (*this, newValue, oldValue));
        return;
    }

    value.store (clamped, std::memory_order_relaxed);
    const auto normalised = convertTo0to1 (clamped);
    listeners.call ([&] (Listener& l) { l.paramValueChanged (*this, source, clamped, normalised); });
}

void Param::notifyFrozenChanged()
{
    listeners.call ([this] (Listener& l) { l.paramFrozenChanged (*this, isFrozen); });
}

//==============================================================================
bool Param::ModifyParamAction::perform()
{
    param.setValue (newValue, ParamSource::undoRedo, nullptr);
    return true;
}

bool Param::ModifyParamAction::undo()
{
    param.setValue (oldValue, ParamSource::undoRedo, nullptr);
    return true;
}

juce::UndoableAction* Param::ModifyParamAction::createCoalescedAction (juce::UndoableAction* nextAction)
{
    if (auto* next = dynamic_cast<ModifyParamAction*> (nextAction))
        if (&next->param == &param)
            return new ModifyParamAction (param, next->newValue, oldValue);

    return nullptr;
}

//==============================================================================
ParamSet::~ParamSet()
{
    for (auto* p : params)
        p->removeListener (this);

    for (int i = params.size(); --i >= 0;)
        params.remove (i);
}

Param& ParamSet::addParam (std::unique_ptr<Param> param)
{
    jassert (param != nullptr && ! ids.contains (param->paramID));
    ids.add (param->paramID);
    param->addListener (this);
    return *params.add (param.release());
}

Param* ParamSet::getParam (const juce::String& paramID) const noexcept
{
    const auto index = ids.indexOf (paramID);
    return index >= 0 ? params[index] : nullptr;
}

void ParamSet::getState (juce::XmlElement& element)
{
    for (int i = 0; i < ids.size(); ++i)
        if (auto* p = params[i]; p != nullptr && p->isSaved)
            element.setAttribute (ids[i], p->getValue());
}

void ParamSet::setState (const juce::XmlElement& element)
{
    // Meta parameters first: they may change how the others are interpreted.
    for (const bool metaPass : { true, false })
    {
        for (auto* p : params)
        {
            if (! p->isSaved || p->isMeta != metaPass || p->isFrozen)
                continue;

            const auto fallback = metaPass ? -999.0 : p->defaultValue;
            const auto stored = SafeXml::getDoubleAttribute (element, p->paramID, fallback);
            p->setValue ((double) (float) stored, ParamSource::stateLoad, nullptr);
        }
    }
}

} // namespace halvex
