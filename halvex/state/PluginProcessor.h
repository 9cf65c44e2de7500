#pragma once

#include "FrozenPresetStateManager.h"
#include "Param.h"
#include "ParamsMidiMapper.h"
#include "PresetFileManager.h"
#include "ProcessorParamsSet.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>

namespace halvex
{

/** The framework's audio processor. The product supplies its parameters, its audio
    processing and its editor; the base owns everything around them: the parameter tree and
    undo manager, the state managers, the two preset file managers, the global preferences,
    the MIDI switches and controller mapping, the host programs and the host state. */
class PluginProcessor : public juce::AudioProcessor,
                        public Param::Listener,
                        public juce::AsyncUpdater
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void midiEnabledChanged (PluginProcessor&, bool enabled) = 0;
        virtual void midiProgramChangeEnabledChanged (PluginProcessor&, bool enabled) = 0;
        virtual void ccMidiChannelChanged (PluginProcessor&, int channel) = 0;
    };

    PluginProcessor (const juce::String& productName, const juce::String& makerName, const juce::String& versionText);
    ~PluginProcessor() override;

    //==============================================================================
    // Product hooks.
    virtual void processPluginBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) = 0;
    virtual juce::String getVersionDescription() const;
    virtual juce::AudioProcessorEditor* createEditorInstance() = 0;
    virtual std::unique_ptr<juce::XmlElement> createPresetRootElement() const;
    virtual juce::PropertiesFile::Options getPropertiesFileOptions() const;
    virtual void nativeParamChanged (Param&, int source, double value, double normalisedValue) = 0;
    /** The maker's update server (base of the checker's requests) and product page, handed
        to the editor. */
    virtual juce::URL getUpdateServerAddress() const { return {}; }
    virtual juce::URL getProductPageAddress() const { return {}; }

    /** Called by the plug-in entry point right after the product's constructor (message
        thread): creates the freezer and the preset file managers and reads the MIDI programs. */
    void initialiseStateManagers();

    //==============================================================================
    const juce::String getName() const override { return productName; }
    const juce::String& getMakerName() const noexcept { return makerName; }
    const juce::String& getVersionText() const noexcept { return versionText; }
    /** The product name without " _-:", the root tag of every state document. */
    juce::String getRootTag() const { return makeRootTag (productName); }
    static juce::String makeRootTag (const juce::String& productName);

    /** Audio thread. */
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    void processBlockBypassed (juce::AudioBuffer<float>&, juce::MidiBuffer&) override {}
    using juce::AudioProcessor::processBlock;
    using juce::AudioProcessor::processBlockBypassed;

    bool acceptsMidi() const override { return true; }
    bool producesMidi() const override { return false; }
    bool supportsMPE() const override { return false; }
    bool isMidiEffect() const override { return false; }
    juce::AudioProcessorParameter* getBypassParameter() const override { return nullptr; }

    bool hasEditor() const override { return true; }
    juce::AudioProcessorEditor* createEditor() override { return createEditorInstance(); }

    bool isBusesLayoutSupported (const BusesLayout&) const override;

    //==============================================================================
    // Host programs: the preset files, user ones first, then factory, then designers.
    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int) override;
    const juce::String getProgramName (int) override;
    void changeProgramName (int, const juce::String&) override {}
    juce::StringArray getProgramList() const;

    /** Host state; any thread the host calls them on. */
    void getStateInformation (juce::MemoryBlock&) override;
    void setStateInformation (const void*, int) override;

    //==============================================================================
    juce::AudioProcessorValueTreeState& getValueTreeState() noexcept { return valueTreeState; }
    juce::UndoManager& getUndoManager() noexcept { return undoManager; }
    ParamSet& getNativeParams() noexcept { return nativeParams; }
    /** Construction time only: a native parameter, reported to nativeParamChanged. */
    Param& addNativeParam (std::unique_ptr<Param>);
    ProcessorParamsSet& getProcessorParams() noexcept { return *processorParams; }
    ParamsMidiMapper& getMidiMapper() noexcept { return *midiMapper; }
    PreferencesStateManager& getInstancePreferences() noexcept { return *instancePreferences; }
    juce::PropertiesFile* getGlobalPreferences() noexcept { return globalPreferences.get(); }
    /** Null until initialiseStateManagers has run. */
    FrozenPresetStateManager* getFreezer() noexcept { return freezer.get(); }
    PresetFileManager* getPresetManager() noexcept { return presetManager.get(); }
    PresetFileManager* getMidiPresetManager() noexcept { return midiPresetManager.get(); }

    juce::File getSharedMakerFolder() const;
    juce::File getSharedProductFolder() const;
    juce::File getUserMakerFolder() const;
    juce::File getUserProductFolder() const;

    //==============================================================================
    // MIDI switches; changes are announced only when the value really changes.
    void setMidiEnabled (bool);
    void setMidiProgramChangeEnabled (bool);
    void setCcMidiChannel (int channel);
    bool getMidiProgramChangeEnabled() const noexcept { return isMidiProgramChangeEnabled.load(); }
    int getCcMidiChannel() const noexcept { return ccMidiChan.load(); }

    /** The native parameter waiting for a controller, or null. Message thread. */
    void setMidiLearnTarget (Param* p) noexcept { midiLearnTarget.store (p); }
    Param* getMidiLearnTarget() const noexcept { return midiLearnTarget.load(); }

    /** The editor reports its size here; it travels with the host state. */
    void setEditorSize (int width, int height) noexcept { editorWidth = width; editorHeight = height; }
    int getEditorWidth() const noexcept { return editorWidth; }
    int getEditorHeight() const noexcept { return editorHeight; }

    void addProcessorListener (Listener* l) { processorListeners.add (l); }
    void removeProcessorListener (Listener* l) { processorListeners.remove (l); }

    /** Message thread: runs the work the audio thread left behind (a MIDI program to load,
        a controller to learn, modified flags to announce). A timer calls it; tests may too. */
    void dispatchMessageThreadWork();

    /** Whether incoming MIDI is looked at; any thread. */
    std::atomic<bool> isMidiEnabled { false };

    /** Shared by every instance in the process: the "MIDI Programs" bank, parsed once. */
    struct MidiProgramsCache;

protected:
    /** Audio thread: controllers through the channel filter to the mapper, program changes
        to the message thread. */
    virtual void handleIncomingMidi (juce::MidiBuffer&);
    void handleAsyncUpdate() override;

    void paramValueChanged (Param& p, int source, double value, double normalised) override
    {
        nativeParamChanged (p, source, value, normalised);
    }

private:
    class WorkTimer;
    void loadMidiProgramsOnce();
    void runSetCurrentProgram (int index);

    const juce::String productName, makerName, versionText;
    juce::UndoManager undoManager;
    juce::AudioProcessorValueTreeState valueTreeState;
    ParamSet nativeParams { "PARAMS" };
    MidiProgramsCache* midiPrograms = nullptr;

    std::atomic<int> programIndex { -1 };
    int editorWidth = -1, editorHeight = -1;
    std::atomic<Param*> midiLearnTarget { nullptr };
    std::atomic<int> ccMidiChan { 0 };
    std::atomic<bool> isMidiProgramChangeEnabled { false };
    const juce::int64 creationTime;
    std::atomic<int> pendingProgram { -1 };

    std::unique_ptr<juce::PropertiesFile> globalPreferences;
    std::unique_ptr<ParamsMidiMapper> midiMapper;
    std::unique_ptr<PreferencesStateManager> instancePreferences;
    std::unique_ptr<ProcessorParamsSet> processorParams;
    std::unique_ptr<FrozenPresetStateManager> freezer;
    std::unique_ptr<PresetFileManager> presetManager, midiPresetManager;
    std::unique_ptr<WorkTimer> workTimer;

    juce::ListenerList<Listener> processorListeners;

    JUCE_DECLARE_WEAK_REFERENCEABLE (PluginProcessor)
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PluginProcessor)
};

} // namespace halvex
