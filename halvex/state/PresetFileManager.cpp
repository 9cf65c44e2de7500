#include "PresetFileManager.h"

#include "PluginProcessor.h"
#include "SafeXml.h"

namespace halvex
{
namespace
{
    const juce::String lastPresetTag ("lastPreset");

    juce::String withLeadingDot (const juce::String& ext)
    {
        return ext.startsWithChar ('.') ? ext : "." + ext;
    }

    juce::String nameOf (const juce::File& file)
    {
        return file.getFileNameWithoutExtension();
    }

    juce::File fileFromPath (const juce::String& path)
    {
        // juce::File asserts on relative paths; those never name a preset.
        return juce::File::isAbsolutePath (path) ? juce::File (path) : juce::File();
    }
} // namespace

PresetFileManager::PresetFileManager (PluginProcessor& p, PresetStateManager& manager, const Folders& f,
                                      const juce::String& ext, juce::PropertiesFile* prefs)
    : processor (p), preferences (prefs), folders (f), extension (withLeadingDot (ext))
{
    tracked.add (&manager);
    manager.addListener (this);

    factoryFiles = scanFolder (folders.factory);
    designersFiles = scanFolder (folders.designers);
    rescanUserPresets();

    readRecentFiles();

    if (const auto defaultPreset = getDefaultPreset(); defaultPreset.isNotEmpty())
        loadPresetFile (defaultPreset, nullptr);
}

PresetFileManager::~PresetFileManager()
{
    for (auto& ref : tracked)
        if (auto* m = ref.get())
            m->removeListener (this);
}

void PresetFileManager::addListener (PresetFileManagerListener* l)
{
    listeners.add (l);

    const auto current = fileFromPath (currentPreset);
    if (current.existsAsFile())
    {
        l->presetLoaded (*this, current, nameOf (current));
        l->presetModifiedChanged (*this, current, modified.load());
    }
}

juce::String PresetFileManager::getPreferencesKey() const
{
    if (auto* first = tracked.getFirst().get())
        return first->getName();

    return "PARAMS";
}

juce::String PresetFileManager::getCurrentPresetName() const
{
    return nameOf (fileFromPath (currentPreset));
}

//==============================================================================
juce::StringArray PresetFileManager::scanFolder (const juce::File& folder) const
{
    juce::StringArray found;

    if (folder == juce::File() || ! folder.isDirectory())
        return found;

    auto files = folder.findChildFiles (juce::File::findFiles | juce::File::ignoreHiddenFiles, true, "*" + extension);
    juce::File::NaturalFileComparator comparator (false);
    files.sort (comparator);

    for (const auto& file : files)
        if (isValidPresetFile (file.getFullPathName()))
            found.add (file.getFullPathName());

    return found;
}

void PresetFileManager::rescanUserPresets()
{
    userFiles = scanFolder (folders.user);
    listeners.call ([this] (PresetFileManagerListener& l) { l.userPresetsRescanned (*this); });
}

bool PresetFileManager::isValidPresetFile (const juce::String& path) const
{
    const auto file = fileFromPath (path);

    if (file == juce::File() || ! file.existsAsFile() || file.isHidden())
        return false;

    const auto document = SafeXml::parseFile (file);

    if (document == nullptr || ! document->getTagName().equalsIgnoreCase (processor.getRootTag()))
        return false;

    if (file.hasFileExtension (extension))
        return true;

    for (auto& ref : tracked)
        if (auto* m = ref.get(); m != nullptr && m->canLoadState (*document))
            return true;

    return false;
}

bool PresetFileManager::isInsideFolders (const juce::File& file) const
{
    for (const auto& folder : { folders.factory, folders.designers, folders.user })
        if (folder != juce::File() && file.isAChildOf (folder))
            return true;

    return false;
}

//==============================================================================
void PresetFileManager::loadPresetFile (const juce::String& path, juce::UndoManager* undoManager)
{
    if (! isValidPresetFile (path))
        return;

    if (path == currentPreset && ! modified.load())
        return;

    if (undoManager != nullptr)
    {
        undoManager->beginNewTransaction();
        undoManager->perform (new LoadPresetFileAction (*this, path, captureState()));
        return;
    }

    const auto file = fileFromPath (path);
    if (const auto document = SafeXml::parseFile (file))
        loadFromDocument (*document, file);
}

PresetFileManager::Reference PresetFileManager::findReference (const juce::XmlElement& document) const
{
    Reference ref;
    auto* first = tracked.getFirst().get();

    if (first == nullptr)
        return ref;

    // The reference written by this manager follows its tracked elements.
    const juce::XmlElement* lastTracked = nullptr;
    for (auto* child : document.getChildIterator())
        for (auto& m : tracked)
            if (auto* manager = m.get(); manager != nullptr && child->getTagName().equalsIgnoreCase (manager->getName()))
                lastTracked = child;

    if (lastTracked != nullptr)
    {
        if (auto* next = lastTracked->getNextElement(); next != nullptr && next->getTagName().equalsIgnoreCase (lastPresetTag))
        {
            ref.found = true;
            ref.dirty = next->getBoolAttribute ("dirty", false);

            const auto root = next->getStringAttribute ("root");
            const auto relative = next->getStringAttribute ("path").replaceCharacter ('\\', '/');
            const auto folder = root == "FACTORY" ? folders.factory
                              : root == "USER" ? folders.user
                              : root == "DESIGNER" ? folders.designers
                                                  : juce::File();

            // Only files inside the named folder: "../" must not lead out of it.
            if (folder != juce::File() && relative.isNotEmpty() && ! juce::File::isAbsolutePath (relative))
                if (const auto file = folder.getChildFile (relative); file.isAChildOf (folder))
                    ref.file = file;

            return ref;
        }
    }

    if (auto* legacy = PresetStateManager::findChild (document, first->getName() + "LastLoadedPreset"))
    {
        ref.found = true;
        ref.dirty = legacy->getBoolAttribute ("dirty", false);
        ref.file = resolveLegacyPath (legacy->getStringAttribute ("preset"));
    }

    return ref;
}

juce::File PresetFileManager::resolveLegacyPath (juce::String path) const
{
    path = path.replaceCharacter ('\\', '/');

    const auto maker = processor.getMakerName();
    const juce::String sharedMarker (":/ProgramData/" + maker + "/"), userMarker ("/AppData/Roaming/" + maker + "/");

    if (path.contains (sharedMarker))
        path = processor.getSharedMakerFolder().getFullPathName() + "/" + path.fromFirstOccurrenceOf (sharedMarker, false, false);
    else if (path.contains (userMarker))
        path = processor.getUserMakerFolder().getFullPathName() + "/" + path.fromFirstOccurrenceOf (userMarker, false, false);

    // A document names files inside the preset folders only.
    const auto file = fileFromPath (path);
    return isInsideFolders (file) ? file : juce::File();
}

bool PresetFileManager::loadFromDocument (const juce::XmlElement& document, const juce::File& sourceFile)
{
    // A reference is followed once: a preset file's own reference (to itself, or to a file
    // that refers back) would otherwise recurse until the stack runs out.
    const auto ref = sourceFile == juce::File() && ! followingReference ? findReference (document) : Reference {};

    if (! ref.found)
    {
        bool loaded = false;

        for (auto& m : tracked)
            if (auto* manager = m.get())
                loaded = manager->loadStateFrom (document) || loaded;

        if (! loaded)
            return false;
    }
    else
    {
        if (ref.file != juce::File())
        {
            const juce::ScopedValueSetter<bool> following (followingReference, true);
            loadPresetFile (ref.file.getFullPathName(), nullptr);
        }

        const auto current = fileFromPath (currentPreset);
        listeners.call ([&] (PresetFileManagerListener& l) { l.presetLoaded (*this, current, nameOf (current)); });

        for (auto& m : tracked)
            if (auto* manager = m.get())
                manager->loadStateFrom (document);

        setModified (ref.dirty, true);
    }

    auto detail = [&] (const char* attribute)
    {
        if (document.hasAttribute (attribute))
            return document.getStringAttribute (attribute);

        if (auto* first = tracked.getFirst().get())
            if (auto* element = PresetStateManager::findChild (document, first->getName()))
                return element->getStringAttribute (attribute);

        return juce::String();
    };

    description = detail ("description");
    author = detail ("author");

    if (sourceFile != juce::File() && isValidPresetFile (sourceFile.getFullPathName()))
        makeCurrent (sourceFile);

    return true;
}

void PresetFileManager::makeCurrent (const juce::File& file)
{
    currentPreset = file.getFullPathName();

    recentFiles.removeString (currentPreset);
    recentFiles.insert (0, currentPreset);
    recentLimit = std::max (recentLimit, 1);
    recentFiles.removeRange (recentLimit, recentFiles.size());

    listeners.call ([&] (PresetFileManagerListener& l) { l.presetLoaded (*this, file, nameOf (file)); });
    saveRecentFiles();
    setModified (false, true);
}

void PresetFileManager::setModified (bool shouldBeModified, bool notifyEvenIfUnchanged)
{
    const auto was = modified.exchange (shouldBeModified);

    if (was == shouldBeModified && ! notifyEvenIfUnchanged)
        return;

    if (! juce::MessageManager::existsAndIsCurrentThread())
    {
        modifiedAnnouncementPending.store (true);
        return;
    }

    const auto current = fileFromPath (currentPreset);
    listeners.call ([&] (PresetFileManagerListener& l) { l.presetModifiedChanged (*this, current, shouldBeModified); });
}

void PresetFileManager::presetStateChanged (PresetStateManager&)
{
    if (! modified.load())
        setModified (true, false);
}

void PresetFileManager::dispatchPendingNotifications()
{
    if (! modifiedAnnouncementPending.exchange (false))
        return;

    const auto current = fileFromPath (currentPreset);
    const auto flag = modified.load();
    listeners.call ([&] (PresetFileManagerListener& l) { l.presetModifiedChanged (*this, current, flag); });
}

//==============================================================================
std::unique_ptr<juce::XmlElement> PresetFileManager::createStateRoot() const
{
    return std::make_unique<juce::XmlElement> (processor.getRootTag());
}

std::unique_ptr<juce::XmlElement> PresetFileManager::captureState()
{
    auto state = createStateRoot();
    addStateTo (*state);
    return state;
}

void PresetFileManager::addStateTo (juce::XmlElement& document)
{
    for (auto& m : tracked)
        if (auto* manager = m.get())
            manager->addStateTo (document);

    const auto current = fileFromPath (currentPreset);
    if (current == juce::File())
        return;

    auto* ref = document.createNewChildElement (lastPresetTag);

    const std::pair<const char*, juce::File> roots[] { { "FACTORY", folders.factory },
                                                       { "USER", folders.user },
                                                       { "DESIGNER", folders.designers } };
    juce::String relative;

    for (const auto& [rootName, folder] : roots)
    {
        if (folder != juce::File() && current.isAChildOf (folder))
        {
            ref->setAttribute ("root", rootName);
            relative = current.getRelativePathFrom (folder).replaceCharacter ('\\', '/');
            break;
        }
    }

    ref->setAttribute ("path", relative);
    ref->setAttribute ("dirty", modified.load() ? "1" : "0");
}

bool PresetFileManager::savePreset (const juce::File& file)
{
    // A name that is empty (or only an extension) would be a hidden file that never lists.
    if (file == juce::File() || nameOf (file).trim().isEmpty() || file.getFileName().startsWithChar ('.'))
        return false;

    auto root = processor.createPresetRootElement();
    if (author.isNotEmpty())
        root->setAttribute ("author", author);
    if (description.isNotEmpty())
        root->setAttribute ("description", description);

    for (auto& m : tracked)
        if (auto* manager = m.get())
            manager->addStateTo (*root);

    if (! file.getParentDirectory().createDirectory())
        return false;

    // writeTo goes through a temporary file, so a failed write leaves the old file intact.
    juce::XmlElement::TextFormat format;
    format.lineWrapLength = 60;
    format.newLineChars = "\r\n";

    if (! root->writeTo (file, format))
        return false;

    rescanUserPresets();
    listeners.call ([&] (PresetFileManagerListener& l) { l.presetSaved (*this, file, nameOf (file)); });
    loadPresetFile (file.getFullPathName(), nullptr);
    return true;
}

bool PresetFileManager::renamePreset (const juce::File& file, const juce::String& newName)
{
    for (const auto& folder : { folders.factory, folders.designers })
        if (folder != juce::File() && file.isAChildOf (folder))
            return false;

    const auto legalName = juce::File::createLegalFileName (newName);

    if (newName.trim().isEmpty() || newName.startsWithChar ('.') || legalName != newName
        || newName.containsAnyOf ("/\\") || ! file.existsAsFile())
        return false;

    const auto target = file.getSiblingFile (newName + extension);

    if (target == file)
        return true;

    // Never onto another preset: moveFileTo would replace it without a word.
    if (target.exists() || ! file.moveFileTo (target))
        return false;

    const auto oldPath = file.getFullPathName();

    if (userFiles.contains (oldPath))
        rescanUserPresets();

    listeners.call ([&] (PresetFileManagerListener& l) { l.presetNameChanged (*this, file, target); });

    recentFiles.removeString (oldPath);
    saveRecentFiles();

    if (oldPath == currentPreset)
        loadPresetFile (target.getFullPathName(), nullptr);

    return true;
}

//==============================================================================
void PresetFileManager::readRecentFiles()
{
    recentLimit = 10;

    if (preferences != nullptr)
    {
        if (const auto value = preferences->getXmlValue (getPreferencesKey()))
        {
            if (auto* recent = value->getChildByName ("RECENT"))
            {
                recentFiles = juce::StringArray::fromLines (recent->getStringAttribute ("recentFiles"));
                recentFiles.removeEmptyStrings();
            }
        }
    }

    recentFiles.removeRange (recentLimit, recentFiles.size());
    saveRecentFiles();
}

void PresetFileManager::saveRecentFiles()
{
    if (preferences != nullptr)
    {
        const auto key = getPreferencesKey();
        auto value = preferences->getXmlValue (key);

        if (value == nullptr)
            value = std::make_unique<juce::XmlElement> (key);

        value->deleteAllChildElementsWithTagName ("RECENT");
        value->createNewChildElement ("RECENT")->setAttribute ("recentFiles", recentFiles.joinIntoString ("\n"));
        preferences->setValue (key, value.get());
    }

    listeners.call ([this] (PresetFileManagerListener& l) { l.recentFilesChanged (*this, recentFiles); });
}

juce::String PresetFileManager::getDefaultPreset() const
{
    if (preferences != nullptr)
        if (const auto value = preferences->getXmlValue (getPreferencesKey()))
            if (auto* element = value->getChildByName ("DEFAULT"))
                return element->getStringAttribute ("defaultPreset");

    return {};
}

void PresetFileManager::setDefaultPreset (const juce::String& path)
{
    if (preferences == nullptr)
        return;

    const auto key = getPreferencesKey();
    auto value = preferences->getXmlValue (key);

    if (value == nullptr)
        value = std::make_unique<juce::XmlElement> (key);

    value->deleteAllChildElementsWithTagName ("DEFAULT");

    if (path.isNotEmpty())
        value->createNewChildElement ("DEFAULT")->setAttribute ("defaultPreset", path);

    preferences->setValue (key, value.get());
}

//==============================================================================
void PresetFileManager::fillPresetsMenu (juce::PopupMenu& menu, const juce::File& folder, int& itemID,
                                         juce::StringArray& paths) const
{
    auto children = folder.findChildFiles (juce::File::findFilesAndDirectories | juce::File::ignoreHiddenFiles, false);
    juce::File::NaturalFileComparator comparator (false);
    children.sort (comparator);

    for (const auto& child : children)
    {
        if (child.isDirectory())
        {
            if (child.findChildFiles (juce::File::findFiles | juce::File::ignoreHiddenFiles, true, "*" + extension).isEmpty())
                continue;

            juce::PopupMenu sub;
            fillPresetsMenu (sub, child, itemID, paths);
            menu.addSubMenu (child.getFileName(), sub);
        }
        else if (child.hasFileExtension (extension))
        {
            menu.addItem (itemID++, nameOf (child));
            paths.add (child.getFullPathName());
        }
    }
}

juce::String PresetFileManager::getStateAsClipboardText()
{
    juce::XmlElement root (processor.getRootTag());

    if (author.isNotEmpty())
        root.setAttribute ("author", author);
    if (description.isNotEmpty())
        root.setAttribute ("description", description);

    for (auto& m : tracked)
        if (auto* manager = m.get())
            manager->addStateTo (root);

    return root.toString (juce::XmlElement::TextFormat().singleLine().withoutHeader());
}

bool PresetFileManager::loadStateFromClipboardText (const juce::String& text)
{
    // Pasted bytes come from any application, unchecked. JUCE's string functions (trim here)
    // step over malformed UTF-8 by its lead byte and read past the end: the gate goes first.
    if (! SafeXml::isAcceptable (text) || text.trim().isEmpty())
        return false;

    // The root tag is not compared: the tracked managers take their own elements from it.
    if (const auto document = SafeXml::parse (text))
        return loadFromDocument (*document, {});

    return false;
}

void PresetFileManager::copyStateToClipboard()
{
    if (const auto text = getStateAsClipboardText(); text.isNotEmpty())
        juce::SystemClipboard::copyTextToClipboard (text);
}

void PresetFileManager::pasteStateFromClipboard()
{
    loadStateFromClipboardText (juce::SystemClipboard::getTextFromClipboard());
}

//==============================================================================
PresetFileManager::LoadPresetFileAction::LoadPresetFileAction (PresetFileManager& m, const juce::String& p,
                                                               std::unique_ptr<juce::XmlElement> s)
    : manager (m), path (p), state (std::move (s))
{
}

bool PresetFileManager::LoadPresetFileAction::perform()
{
    manager.loadPresetFile (path, nullptr);
    return true;
}

bool PresetFileManager::LoadPresetFileAction::undo()
{
    const auto hadPreset = state->getChildByName (lastPresetTag) != nullptr;
    manager.loadFromDocument (*state, {});

    // Undoing the first load of a session: no preset was current before it, so none is after.
    if (! hadPreset && manager.currentPreset.isNotEmpty())
    {
        manager.currentPreset.clear();
        manager.listeners.call ([&] (PresetFileManagerListener& l) { l.presetLoaded (manager, {}, {}); });
        manager.setModified (false, true);
    }

    return true;
}

} // namespace halvex
