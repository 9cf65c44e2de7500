#pragma once

#include "PresetStateManager.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>

namespace halvex
{

class PluginProcessor;
class PresetFileManager;

class PresetFileManagerListener
{
public:
    virtual ~PresetFileManagerListener() = default;

    virtual void presetSaved (PresetFileManager&, const juce::File&, const juce::String& name) = 0;
    virtual void presetLoaded (PresetFileManager&, const juce::File&, const juce::String& name) = 0;
    // Raised only while the manager scans its folders during construction.
    virtual void scanStarted (PresetFileManager&) {}
    virtual void factoryPresetsScanned (PresetFileManager&) {}
    virtual void designersPresetsScanned (PresetFileManager&) {}
    virtual void userPresetsScanned (PresetFileManager&) {}
    virtual void scanFinished (PresetFileManager&) {}
    virtual void userPresetsRescanned (PresetFileManager&) = 0;
    virtual void presetNameChanged (PresetFileManager&, const juce::File& oldFile, const juce::File& newFile) = 0;
    virtual void presetDeleted (PresetFileManager&, const juce::File&, const juce::String& name) = 0;
    virtual void recentFilesChanged (PresetFileManager&, const juce::StringArray& recentPaths) = 0;
    virtual void bankCreated (PresetFileManager&, const juce::File&) {}
    virtual void presetModifiedChanged (PresetFileManager&, const juce::File& current, bool modified) = 0;
};

/** Preset files on disk for a set of state managers: three folders of banks, loading and
    saving, the current preset and its modified flag, the recent list and the default preset.

    Message thread, except presetStateChanged (any thread: host automation reaches it on the
    audio thread) and loads made by the host's state thread. A modified flag raised off the
    message thread is announced from dispatchPendingNotifications. */
class PresetFileManager : public PresetStateManager::Listener
{
public:
    struct Folders
    {
        juce::File factory, designers, user;
    };

    PresetFileManager (PluginProcessor&, PresetStateManager& tracked, const Folders&,
                       const juce::String& extension, juce::PropertiesFile* preferences);
    ~PresetFileManager() override;

    void addListener (PresetFileManagerListener*);
    void removeListener (PresetFileManagerListener* l) { listeners.remove (l); }

    bool isValidPresetFile (const juce::String& path) const;
    /** With an undo manager the load is one undo step. */
    void loadPresetFile (const juce::String& path, juce::UndoManager* undoManager);
    bool loadFromDocument (const juce::XmlElement& document, const juce::File& sourceFile);

    /** Tracked elements, then the reference to the current preset (host state form). */
    void addStateTo (juce::XmlElement& document);

    /** False when nothing was written: an empty name, or the file could not be written. */
    bool savePreset (const juce::File& file);
    /** False when refused: factory or designers presets, names that are empty, hidden, hold
        path separators or characters illegal in file names, or name another existing file. */
    bool renamePreset (const juce::File& file, const juce::String& newName);
    void rescanUserPresets();
    void saveRecentFiles();

    /** Item IDs are positions in paths plus the counter's start value. */
    void fillPresetsMenu (juce::PopupMenu&, const juce::File& folder, int& itemID, juce::StringArray& paths) const;

    juce::String getStateAsClipboardText();
    /** False when the text is empty, refused or does not parse. */
    bool loadStateFromClipboardText (const juce::String& text);
    void copyStateToClipboard();
    void pasteStateFromClipboard();

    juce::String getDefaultPreset() const;
    void setDefaultPreset (const juce::String& path);

    const juce::File& getFactoryFolder() const noexcept { return folders.factory; }
    const juce::File& getDesignersFolder() const noexcept { return folders.designers; }
    const juce::File& getUserFolder() const noexcept { return folders.user; }
    const juce::StringArray& getFactoryFiles() const noexcept { return factoryFiles; }
    const juce::StringArray& getDesignersFiles() const noexcept { return designersFiles; }
    const juce::StringArray& getUserFiles() const noexcept { return userFiles; }
    const juce::StringArray& getRecentFiles() const noexcept { return recentFiles; }
    const juce::String& getCurrentPreset() const noexcept { return currentPreset; }
    juce::String getCurrentPresetName() const;
    const juce::String& getDescription() const noexcept { return description; }
    const juce::String& getAuthor() const noexcept { return author; }
    void setDescription (const juce::String& text) { description = text; }
    void setAuthor (const juce::String& text) { author = text; }
    bool isModified() const noexcept { return modified.load(); }
    const juce::String& getExtension() const noexcept { return extension; }
    juce::String getPreferencesKey() const;

    /** Message thread: announces a modified flag raised on another thread. */
    void dispatchPendingNotifications();

    void presetStateChanged (PresetStateManager&) override;

    class LoadPresetFileAction : public juce::UndoableAction
    {
    public:
        LoadPresetFileAction (PresetFileManager&, const juce::String& path, std::unique_ptr<juce::XmlElement> state);
        bool perform() override;
        bool undo() override;

    private:
        PresetFileManager& manager;
        const juce::String path;
        const std::unique_ptr<juce::XmlElement> state;
    };

private:
    struct Reference
    {
        bool found = false;
        juce::File file;
        bool dirty = false;
    };

    juce::StringArray scanFolder (const juce::File& folder) const;
    Reference findReference (const juce::XmlElement& document) const;
    juce::File resolveLegacyPath (juce::String path) const;
    bool isInsideFolders (const juce::File&) const;
    std::unique_ptr<juce::XmlElement> captureState();
    void makeCurrent (const juce::File&);
    void setModified (bool, bool notifyEvenIfUnchanged);
    void readRecentFiles();
    std::unique_ptr<juce::XmlElement> createStateRoot() const;

    PluginProcessor& processor;
    juce::Array<juce::WeakReference<PresetStateManager>> tracked;
    juce::PropertiesFile* preferences;
    const Folders folders;
    const juce::String extension;

    juce::ListenerList<PresetFileManagerListener> listeners;
    juce::String description, author, currentPreset;
    juce::StringArray factoryFiles, designersFiles, userFiles, recentFiles;
    int recentLimit = 10;
    bool followingReference = false;
    std::atomic<bool> modified { false }, modifiedAnnouncementPending { false };

    JUCE_DECLARE_NON_COPYABLE (PresetFileManager)
};

} // namespace halvex
