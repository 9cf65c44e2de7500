#pragma once

#include "PresetStateManager.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <atomic>
#include <map>
#include <vector>

namespace halvex
{

class Param;
class ParamSet;

/** Binds MIDI controllers (0..127) to parameters; one controller may drive several.

    The audio thread reads the bindings for every controller message while a state load on
    another thread may rewrite them. Bindings are therefore an immutable snapshot: writers
    (message or host thread, serialised by a lock the audio thread never touches) build a new
    one and publish it with one atomic store; the old one is freed once no reader is inside.
    The audio thread never blocks, allocates or frees. */
class ParamsMidiMapper : public PresetStateManager
{
public:
    static constexpr int numControllers = 128;

    ParamsMidiMapper (juce::AudioProcessor&, ParamSet* nativeParams);
    ~ParamsMidiMapper() override;

    /** Any thread. -1 when the parameter has no controller. */
    int controllerForParam (const juce::String& paramID) const;
    /** Parameter IDs bound to a controller, in binding order. Any thread. */
    juce::StringArray paramsForController (int controller) const;

    /** Not the audio thread. A controller of -1 removes the binding. */
    void mapControllerToParam (int controller, const juce::String& paramID);

    /** Audio thread: drives every native parameter bound to the controller. */
    void handleController (int controller, int value) noexcept;

    /** Audio thread: remembers a controller for the learn target; the binding itself is made
        on the message thread by applyPendingLearn. */
    void learnController (int controller, Param& target) noexcept;
    /** Message thread. */
    void applyPendingLearn();

    void getState (juce::XmlElement&) override;
    void setState (const juce::XmlElement&) override;

    /** Processor parameter IDs in order, then the native ones. */
    juce::StringArray getParamIDs() const;

private:
    struct Bindings
    {
        std::map<juce::String, int> controllerOf;
        std::array<juce::StringArray, numControllers> paramsOf;
        std::array<std::vector<Param*>, numControllers> nativeOf;
    };

    const Bindings& current() const noexcept { return *bindings.load (std::memory_order_acquire); }
    void publish (std::unique_ptr<Bindings>);
    void unbind (Bindings&, const juce::String& paramID) const;
    void rebuildNative (Bindings&, int controller) const;

    juce::AudioProcessor& processor;
    ParamSet* nativeParams;

    juce::CriticalSection writeLock;
    std::atomic<const Bindings*> bindings;
    mutable std::atomic<int> readersInside { 0 };

    std::atomic<int> pendingLearnController { -1 };
    std::atomic<Param*> pendingLearnTarget { nullptr };

    JUCE_DECLARE_NON_COPYABLE (ParamsMidiMapper)
};

} // namespace halvex
