#include "PluginProcessor.h"

#include "AppFolders.h"
#include "SafeXml.h"

#include <mutex>

namespace halvex
{

struct PluginProcessor::MidiProgramsCache
{
    std::mutex mutex;
    bool loaded = false;
    juce::StringArray paths;
    juce::OwnedArray<juce::XmlElement> documents; // parallel to paths
    std::atomic<int> count { 0 };                 // read by the audio thread
    int references = 0;
};

namespace
{
    juce::SpinLock cacheLock;
    PluginProcessor::MidiProgramsCache* sharedCache = nullptr;

    PluginProcessor::MidiProgramsCache* acquireCache()
    {
        const juce::SpinLock::ScopedLockType lock (cacheLock);
        if (sharedCache == nullptr)
            sharedCache = new PluginProcessor::MidiProgramsCache();
        ++sharedCache->references;
        return sharedCache;
    }

    void releaseCache()
    {
        const juce::SpinLock::ScopedLockType lock (cacheLock);
        if (sharedCache != nullptr && --sharedCache->references == 0)
        {
            delete sharedCache;
            sharedCache = nullptr;
        }
    }

    constexpr int programChangeGraceMs = 1000;
    constexpr int workIntervalMs = 30;
} // namespace

class PluginProcessor::WorkTimer : public juce::Timer
{
public:
    explicit WorkTimer (PluginProcessor& p) : owner (p) {}
    void timerCallback() override { owner.dispatchMessageThreadWork(); }

private:
    PluginProcessor& owner;
};

//==============================================================================
PluginProcessor::PluginProcessor (const juce::String& name, const juce::String& maker, const juce::String& version)
    : juce::AudioProcessor (BusesProperties()
                                .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                                .withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      productName (name),
      makerName (maker),
      versionText (version),
      valueTreeState (*this, &undoManager),
      midiPrograms (acquireCache()),
      creationTime (juce::Time::currentTimeMillis())
{
    // The weak reference's shared master is created here, before any host thread asks for it.
    [[maybe_unused]] const juce::WeakReference<PluginProcessor> self (this);

    const auto options = getPropertiesFileOptions();
    globalPreferences = std::make_unique<juce::PropertiesFile> (
        getUserProductFolder().getChildFile (options.applicationName + "." + options.filenameSuffix), options);

    midiMapper = std::make_unique<ParamsMidiMapper> (*this, &nativeParams);
    instancePreferences = std::make_unique<PreferencesStateManager>();
    processorParams = std::make_unique<ProcessorParamsSet> (*this);
}

PluginProcessor::~PluginProcessor()
{
    workTimer.reset();
    cancelPendingUpdate();

    presetManager.reset();
    midiPresetManager.reset();
    freezer.reset();
    instancePreferences.reset();
    processorParams.reset();
    midiMapper.reset();

    releaseCache();
    globalPreferences.reset(); // writes any change still waiting
}

juce::String PluginProcessor::makeRootTag (const juce::String& name)
{
    return name.removeCharacters (" _-:");
}

juce::String PluginProcessor::getVersionDescription() const
{
    return "v" + versionText + " - " + getWrapperTypeDescription (wrapperType);
}

std::unique_ptr<juce::XmlElement> PluginProcessor::createPresetRootElement() const
{
    auto root = std::make_unique<juce::XmlElement> (getRootTag());
    root->setAttribute ("company", makerName);
    root->setAttribute ("version", versionText);
    return root;
}

juce::PropertiesFile::Options PluginProcessor::getPropertiesFileOptions() const
{
    juce::PropertiesFile::Options options;
    options.applicationName = productName;
    options.folderName = makerName + "/" + productName;
    options.filenameSuffix = "settings";
    options.osxLibrarySubFolder = "Application Support";
    options.commonToAllUsers = false;
    options.ignoreCaseOfKeyNames = false;
    options.doNotSave = false;
    options.millisecondsBeforeSaving = 10;
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    return options;
}

Param& PluginProcessor::addNativeParam (std::unique_ptr<Param> param)
{
    auto& added = nativeParams.addParam (std::move (param));
    added.addListener (this);
    return added;
}

juce::File PluginProcessor::getSharedMakerFolder() const { return AppFolders::sharedMakerFolder (makerName); }
juce::File PluginProcessor::getSharedProductFolder() const { return AppFolders::sharedProductFolder (makerName, productName); }
juce::File PluginProcessor::getUserMakerFolder() const { return AppFolders::userMakerFolder (makerName); }
juce::File PluginProcessor::getUserProductFolder() const { return AppFolders::userProductFolder (makerName, productName); }

//==============================================================================
void PluginProcessor::initialiseStateManagers()
{
    valueTreeState.state = juce::ValueTree (juce::Identifier (getRootTag()));

    freezer = std::make_unique<FrozenPresetStateManager> (*this, &nativeParams, globalPreferences.get());
    processorParams->setFreezer (freezer.get());

    const auto shared = getSharedProductFolder(), user = getUserProductFolder();
    const juce::String extension (".qopreset");

    PresetStateManager& presetState = nativeParams.size() > 0 ? static_cast<PresetStateManager&> (nativeParams)
                                                              : *processorParams;
    presetManager = std::make_unique<PresetFileManager> (
        *this, presetState,
        PresetFileManager::Folders { shared.getChildFile ("presets"), shared.getChildFile ("DesignersPresets"), user.getChildFile ("presets") },
        extension, globalPreferences.get());

    midiPresetManager = std::make_unique<PresetFileManager> (
        *this, *midiMapper,
        PresetFileManager::Folders { shared.getChildFile ("midi"), {}, user.getChildFile ("midi") },
        extension, globalPreferences.get());

    loadMidiProgramsOnce();
    freezer->recallDefaultFrozenStates();

    // Native parameters would take the default preset's values as defaults in AAX hosts;
    // this framework build declares none and no AAX wrapper.

    workTimer = std::make_unique<WorkTimer> (*this);
    workTimer->startTimer (workIntervalMs);
}

void PluginProcessor::loadMidiProgramsOnce()
{
    auto& cache = *midiPrograms;
    const std::lock_guard<std::mutex> lock (cache.mutex);

    if (cache.loaded)
        return;

    cache.loaded = true;
    const auto folder = presetManager->getUserFolder().getChildFile ("MIDI Programs");

    if (! folder.isDirectory())
        return;

    auto files = folder.findChildFiles (juce::File::findFiles | juce::File::ignoreHiddenFiles, true, "*.qopreset");
    juce::File::NaturalFileComparator comparator (false);
    files.sort (comparator);

    for (const auto& file : files)
    {
        if (! presetManager->isValidPresetFile (file.getFullPathName()))
            continue;

        if (auto document = SafeXml::parseFile (file))
        {
            cache.paths.add (file.getFullPathName());
            cache.documents.add (document.release());
        }
    }

    cache.count.store (cache.paths.size());
}

//==============================================================================
bool PluginProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    // Stereo out always; the input may be stereo, mono (upmixed) or switched off.
    if (layouts.getMainOutputChannelSet() != juce::AudioChannelSet::stereo())
        return false;

    const auto in = layouts.getMainInputChannelSet();
    return in == juce::AudioChannelSet::stereo() || in == juce::AudioChannelSet::mono() || in.isDisabled();
}

void PluginProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    // Sets FTZ/DAZ for the call and restores the caller's mode on exit.
    const juce::ScopedNoDenormals noDenormals;

    if (isMidiEnabled.load (std::memory_order_relaxed))
        handleIncomingMidi (midi);

    processPluginBlock (buffer, midi);
}

void PluginProcessor::handleIncomingMidi (juce::MidiBuffer& midi)
{
    // Raw bytes: juce::MidiMessage would allocate for long messages.
    for (const auto event : midi)
    {
        if (event.numBytes < 2 || event.data == nullptr)
            continue;

        const auto status = event.data[0];
        const auto kind = status & 0xf0;

        if (kind == 0xb0 && event.numBytes >= 3)
        {
            const auto channel = (status & 0x0f) + 1;
            const auto filter = ccMidiChan.load (std::memory_order_relaxed);

            if (filter != 0 && filter != channel)
                continue;

            const auto controller = event.data[1] & 0x7f, value = event.data[2] & 0x7f;

            if (auto* target = midiLearnTarget.load (std::memory_order_relaxed))
                midiMapper->learnController (controller, *target);

            midiMapper->handleController (controller, value);
        }
        else if (kind == 0xc0)
        {
            if (! isMidiProgramChangeEnabled.load (std::memory_order_relaxed))
                continue;

            const auto program = event.data[1] & 0x7f;

            if (program < midiPrograms->count.load (std::memory_order_acquire))
                pendingProgram.store (program, std::memory_order_release);
        }
    }
}

void PluginProcessor::handleAsyncUpdate()
{
    const auto program = pendingProgram.exchange (-1);

    if (program < 0 || presetManager == nullptr || program >= midiPrograms->count.load())
        return;

    const auto path = midiPrograms->paths[program];
    if (auto* document = midiPrograms->documents[program])
        presetManager->loadFromDocument (*document, juce::File (path));
}

void PluginProcessor::dispatchMessageThreadWork()
{
    midiMapper->applyPendingLearn();

    if (pendingProgram.load() >= 0)
        handleAsyncUpdate();

    for (auto* manager : { presetManager.get(), midiPresetManager.get() })
        if (manager != nullptr)
            manager->dispatchPendingNotifications();
}

//==============================================================================
void PluginProcessor::setMidiEnabled (bool enabled)
{
    if (isMidiEnabled.exchange (enabled) != enabled)
        processorListeners.call ([&] (Listener& l) { l.midiEnabledChanged (*this, enabled); });
}

void PluginProcessor::setMidiProgramChangeEnabled (bool enabled)
{
    if (isMidiProgramChangeEnabled.exchange (enabled) != enabled)
        processorListeners.call ([&] (Listener& l) { l.midiProgramChangeEnabledChanged (*this, enabled); });
}

void PluginProcessor::setCcMidiChannel (int channel)
{
    channel = juce::jlimit (0, 16, channel);
    if (ccMidiChan.exchange (channel) != channel)
        processorListeners.call ([&] (Listener& l) { l.ccMidiChannelChanged (*this, channel); });
}

//==============================================================================
juce::StringArray PluginProcessor::getProgramList() const
{
    juce::StringArray list;

    if (presetManager != nullptr)
    {
        list.addArray (presetManager->getUserFiles());
        list.addArray (presetManager->getFactoryFiles());
        list.addArray (presetManager->getDesignersFiles());
    }

    return list;
}

int PluginProcessor::getNumPrograms()
{
    // Hosts expect at least one program.
    return std::max (1, getProgramList().size());
}

const juce::String PluginProcessor::getProgramName (int index)
{
    const auto list = getProgramList();
    return juce::isPositiveAndBelow (index, list.size()) ? juce::File (list[index]).getFileNameWithoutExtension()
                                                         : juce::String();
}

int PluginProcessor::getCurrentProgram()
{
    if (presetManager == nullptr)
        return 0;

    return std::max (0, getProgramList().indexOf (presetManager->getCurrentPreset()));
}

void PluginProcessor::setCurrentProgram (int index)
{
    if (juce::MessageManager::existsAndIsCurrentThread())
    {
        runSetCurrentProgram (index);
        return;
    }

    juce::MessageManager::callAsync ([self = juce::WeakReference<PluginProcessor> (this), index]
    {
        if (auto* processor = self.get())
            processor->runSetCurrentProgram (index);
    });
}

void PluginProcessor::runSetCurrentProgram (int index)
{
    // Hosts restoring a project call this during the first second; the state they restore
    // next is what counts.
    if (juce::Time::currentTimeMillis() - creationTime < programChangeGraceMs || index == programIndex.load())
        return;

    programIndex.store (index);

    if (presetManager != nullptr)
    {
        const auto list = getProgramList();
        presetManager->loadPresetFile (juce::isPositiveAndBelow (index, list.size()) ? list[index] : juce::String(), nullptr);
    }
}

//==============================================================================
void PluginProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    // Saving reads the same managers a restore or a program change rewrites; a host may save
    // from one thread while it restores from another (see below).
    const juce::MessageManagerLock messageThread;

    juce::XmlElement root (getRootTag());
    root.setAttribute ("pluginEditorWidth", editorWidth);
    root.setAttribute ("pluginEditorHeight", editorHeight);
    root.setAttribute ("isMidiEnabled", isMidiEnabled.load() ? "1" : "0");
    root.setAttribute ("isMidiProgramChangeEnabled", isMidiProgramChangeEnabled.load() ? "1" : "0");
    root.setAttribute ("ccMidiChan", ccMidiChan.load());

    instancePreferences->addStateTo (root);

    if (freezer != nullptr)
        freezer->addStateTo (root);

    if (presetManager != nullptr)
        presetManager->addStateTo (root);
    else
        processorParams->addStateTo (root);

    if (midiPresetManager != nullptr)
        midiPresetManager->addStateTo (root);
    else
        midiMapper->addStateTo (root);

    copyXmlToBinary (root, destData);
}

void PluginProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    if (sizeInBytes <= 0)
        return;

    // Hosts restore from their own thread (LV2 hosts always; JUCE's wrapper passes the call
    // straight through) while this plug-in's message thread runs the timers that touch the
    // same parameters and managers: a restore raced them and lost values. Hold them off.
    const juce::MessageManagerLock messageThread;

    const auto document = SafeXml::parseBinary (data, (size_t) sizeInBytes);

    if (document == nullptr || ! document->getTagName().equalsIgnoreCase (getRootTag()))
        return;

    editorWidth = document->getIntAttribute ("pluginEditorWidth", -1);
    editorHeight = document->getIntAttribute ("pluginEditorHeight", -1);

    setMidiEnabled (document->getBoolAttribute ("isMidiEnabled", false));
    setMidiProgramChangeEnabled (document->getBoolAttribute ("isMidiProgramChangeEnabled", false));
    setCcMidiChannel (document->getIntAttribute ("ccMidiChan", 0));

    if (freezer != nullptr)
        freezer->unfreezeAll();

    if (auto* legacy = PresetStateManager::findChild (*document, "PARAMSLastLoadedPreset"))
        if (const auto path = legacy->getStringAttribute ("preset"); path.isNotEmpty())
            programIndex.store (getProgramList().indexOf (path));

    if (presetManager != nullptr)
        presetManager->loadFromDocument (*document, {});
    else
        processorParams->loadStateFrom (*document);

    if (midiPresetManager != nullptr)
        midiPresetManager->loadFromDocument (*document, {});
    else
        midiMapper->loadStateFrom (*document);

    instancePreferences->loadStateFrom (*document);

    if (freezer != nullptr)
        freezer->loadStateFrom (*document);
}

} // namespace halvex
