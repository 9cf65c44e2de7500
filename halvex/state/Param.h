#pragma once

#include "PresetStateManager.h"

#include <juce_data_structures/juce_data_structures.h>

#include <atomic>

namespace halvex
{

/** Where a value change came from; passed with every change. */
namespace ParamSource
{
    constexpr int host = 0;      // host automation
    constexpr int user = 1;      // user edits (and every code above stateLoad)
    constexpr int midi = 2;      // a mapped MIDI controller
    constexpr int undoRedo = 3;  // replaying a recorded change
    constexpr int stateLoad = 4; // applying a state element

    inline bool isRecordable (int source) noexcept { return source == user || source > stateLoad; }
}

/** A native framework parameter. Its plain value is a 64-bit atomic so the audio thread can
    read it while any other thread writes. */
class Param
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void paramValueChanged (Param&, int source, double value, double normalisedValue) = 0;
        virtual void paramFrozenChanged (Param&, bool /*frozen*/) {}
    };

    /** One recorded change; successive changes of one parameter coalesce into one step. */
    class ModifyParamAction : public juce::UndoableAction
    {
    public:
        ModifyParamAction (Param& p, double newVal, double oldVal) : param (p), newValue (newVal), oldValue (oldVal) {}
        bool perform() override;
        bool undo() override;
        juce::UndoableAction* createCoalescedAction (juce::UndoableAction* nextAction) override;

        Param& param;
        const double newValue, oldValue;
    };

    Param (const juce::String& paramID, const juce::String& name, const juce::String& label,
           double minValue, double maxValue, double interval, double defaultValue, int type = 0);
    virtual ~Param() = default;

    /** A controller value 0..127 from the MIDI mapper (audio thread). */
    virtual void setValueFromMidi (int controllerValue, int source);
    virtual double convertTo0to1 (double plainValue) const;
    virtual double convertFrom0to1 (double normalisedValue) const;

    /** Any thread; records an undo step only for user sources and with an undo manager. */
    void setValue (double newValue, int source, juce::UndoManager* undoManager);
    double getValue() const noexcept { return value.load (std::memory_order_relaxed); }

    void addListener (Listener* l) { listeners.add (l); }
    void removeListener (Listener* l) { listeners.remove (l); }
    void notifyFrozenChanged();

    const juce::String paramID, name, label;
    const double minValue, maxValue, interval, rangeLength, defaultValue;
    const int type;
    bool isAutomatable = true, isSaved = true, isMeta = false, isLocked = false, isFreezable = true, isFrozen = false;

    static constexpr int switchType = 2;

private:
    std::atomic<double> value;
    // Values arrive from MIDI on the audio thread as well as from the message thread.
    AtomicListeners<Listener, 16> listeners;

    JUCE_DECLARE_NON_COPYABLE (Param)
};

/** The framework's own parameters as one preset element. */
class ParamSet : public PresetStateManager,
                 public Param::Listener
{
public:
    explicit ParamSet (const juce::String& elementName = "PARAMS") : PresetStateManager (elementName) {}
    ~ParamSet() override;

    /** Construction time only; parameters are never removed. */
    Param& addParam (std::unique_ptr<Param> param);

    int size() const noexcept { return params.size(); }
    Param* getParam (int index) const noexcept { return params[index]; }
    Param* getParam (const juce::String& paramID) const noexcept;
    const juce::StringArray& getParamIDs() const noexcept { return ids; }

    void getState (juce::XmlElement&) override;
    void setState (const juce::XmlElement&) override;
    void paramValueChanged (Param&, int, double, double) override { notifyStateChanged(); }

private:
    juce::StringArray ids;
    juce::OwnedArray<Param> params;
};

} // namespace halvex
