#pragma once

#include "PresetStateManager.h"

#include <juce_audio_processors/juce_audio_processors.h>

namespace halvex
{

class ParamSet;

/** Per-parameter flags that keep a parameter's value through preset loads. Message thread,
    except lookups, which also happen on the thread that restores a host state. */
class FrozenPresetStateManager : public PresetStateManager,
                                 public juce::ChangeBroadcaster
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void frozenStateChanged (FrozenPresetStateManager&, const juce::String& paramID, bool frozen) = 0;
    };

    /** The native set may be null; the preferences give the user's default freeze set. */
    FrozenPresetStateManager (juce::AudioProcessor&, ParamSet* nativeParams, juce::PropertiesFile* globalPreferences);

    bool isFrozen (const juce::String& paramID) const;
    void setFrozen (const juce::String& paramID, bool frozen);
    void unfreezeAll();

    void saveDefaultFrozenStates();
    void recallDefaultFrozenStates();

    void getState (juce::XmlElement&) override;
    void setState (const juce::XmlElement&) override;

    void addFrozenListener (Listener* l) { frozenListeners.add (l); }
    void removeFrozenListener (Listener* l) { frozenListeners.remove (l); }

    /** Processor parameter IDs in order, then the native ones. */
    juce::StringArray getParamIDs() const;

private:
    juce::AudioProcessor& processor;
    ParamSet* nativeParams;
    juce::PropertiesFile* preferences;
    juce::HashMap<juce::String, bool> frozen { 101 };
    juce::ListenerList<Listener> frozenListeners;
};

/** Free key/value pairs saved with each instance's host state. */
class PreferencesStateManager : public PresetStateManager
{
public:
    PreferencesStateManager() : PresetStateManager ("instancePrefs") {}

    void getState (juce::XmlElement&) override;
    void setState (const juce::XmlElement&) override;

    juce::String getValue (const juce::String& key) const { return pairs.getValue (key, {}); }
    void setValue (const juce::String& key, const juce::String& value) { pairs.set (key, value); }
    const juce::StringPairArray& getPairs() const noexcept { return pairs; }

private:
    juce::StringPairArray pairs { true };
};

} // namespace halvex
