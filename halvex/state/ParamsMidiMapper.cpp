#include "ParamsMidiMapper.h"

#include "Param.h"
#include "ProcessorParamsSet.h"

namespace halvex
{

ParamsMidiMapper::ParamsMidiMapper (juce::AudioProcessor& p, ParamSet* native)
    : PresetStateManager ("MIDImapping"), processor (p), nativeParams (native), bindings (new Bindings())
{
}

ParamsMidiMapper::~ParamsMidiMapper()
{
    delete bindings.load();
}

juce::StringArray ParamsMidiMapper::getParamIDs() const
{
    return ProcessorParamsSet::getAllParamIDs (processor, nativeParams);
}

int ParamsMidiMapper::controllerForParam (const juce::String& paramID) const
{
    const juce::ScopedLock sl (writeLock);
    const auto& map = current().controllerOf;
    const auto found = map.find (paramID);
    return found != map.end() ? found->second : -1;
}

juce::StringArray ParamsMidiMapper::paramsForController (int controller) const
{
    if (! juce::isPositiveAndBelow (controller, numControllers))
        return {};

    const juce::ScopedLock sl (writeLock);
    return current().paramsOf[(size_t) controller];
}

void ParamsMidiMapper::unbind (Bindings& b, const juce::String& paramID) const
{
    const auto found = b.controllerOf.find (paramID);
    if (found == b.controllerOf.end())
        return;

    const auto old = found->second;
    b.controllerOf.erase (found);

    if (juce::isPositiveAndBelow (old, numControllers))
    {
        b.paramsOf[(size_t) old].removeString (paramID);
        rebuildNative (b, old);
    }
}

void ParamsMidiMapper::rebuildNative (Bindings& b, int controller) const
{
    auto& natives = b.nativeOf[(size_t) controller];
    natives.clear();

    if (nativeParams != nullptr)
        for (const auto& id : b.paramsOf[(size_t) controller])
            if (auto* p = nativeParams->getParam (id))
                natives.push_back (p);
}

void ParamsMidiMapper::publish (std::unique_ptr<Bindings> next)
{
    const auto* old = bindings.exchange (next.release(), std::memory_order_acq_rel);

    // A reader that loaded the old pointer announced itself before loading it, so once the
    // count reads zero after the exchange no reader can still hold it.
    while (readersInside.load (std::memory_order_seq_cst) != 0)
        std::this_thread::yield();

    delete old;
}

void ParamsMidiMapper::mapControllerToParam (int controller, const juce::String& paramID)
{
    {
        const juce::ScopedLock sl (writeLock);

        const auto& map = current().controllerOf;
        const auto found = map.find (paramID);
        const auto old = found != map.end() ? found->second : -1;

        if (old == controller || (controller != -1 && ! juce::isPositiveAndBelow (controller, numControllers)))
            return;

        auto next = std::make_unique<Bindings> (current());
        unbind (*next, paramID);

        if (controller != -1)
        {
            next->paramsOf[(size_t) controller].add (paramID);
            next->controllerOf[paramID] = controller;
            rebuildNative (*next, controller);
        }

        publish (std::move (next));
    }

    notifyStateChanged();
}

void ParamsMidiMapper::handleController (int controller, int value) noexcept
{
    if (! juce::isPositiveAndBelow (controller, numControllers))
        return;

    readersInside.fetch_add (1, std::memory_order_seq_cst);
    const auto* b = bindings.load (std::memory_order_seq_cst);

    for (auto* p : b->nativeOf[(size_t) controller])
        p->setValueFromMidi (value, 2);

    readersInside.fetch_sub (1, std::memory_order_seq_cst);
}

void ParamsMidiMapper::learnController (int controller, Param& target) noexcept
{
    pendingLearnTarget.store (&target);
    pendingLearnController.store (controller);
}

void ParamsMidiMapper::applyPendingLearn()
{
    const auto controller = pendingLearnController.exchange (-1);
    auto* target = pendingLearnTarget.load();

    if (controller >= 0 && target != nullptr)
        mapControllerToParam (controller, target->paramID);
}

void ParamsMidiMapper::getState (juce::XmlElement& element)
{
    const juce::ScopedLock sl (writeLock);
    const auto ids = getParamIDs();
    const auto& map = current().controllerOf;

    for (int i = ids.size(); --i >= 0;)
        if (const auto found = map.find (ids[i]); found != map.end())
            element.setAttribute (ids[i], found->second);
}

void ParamsMidiMapper::setState (const juce::XmlElement& element)
{
    bool changed = false;

    {
        const juce::ScopedLock sl (writeLock);
        auto next = std::make_unique<Bindings> (current());

        for (const auto& id : getParamIDs())
        {
            const auto controller = element.hasAttribute (id) ? element.getIntAttribute (id, -1) : -1;
            const auto found = next->controllerOf.find (id);
            const auto old = found != next->controllerOf.end() ? found->second : -1;

            // Numbers outside 0..127 cannot come from a controller; they unbind like -1.
            const auto wanted = juce::isPositiveAndBelow (controller, numControllers) ? controller : -1;

            if (wanted == old)
                continue;

            unbind (*next, id);

            if (wanted != -1)
            {
                next->paramsOf[(size_t) wanted].add (id);
                next->controllerOf[id] = wanted;
                rebuildNative (*next, wanted);
            }

            changed = true;
        }

        if (changed)
            publish (std::move (next));
    }
}

} // namespace halvex
