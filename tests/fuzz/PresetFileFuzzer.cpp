// Preset files as a user could drop them into the user folders: the same bytes as a
// parameter preset and as a MIDI mapping preset, each checked, loaded directly, then loaded
// as an undo step, undone and redone.
#include "FuzzSupport.h"

namespace
{
struct Presets
{
    fuzz::Environment environment;
    std::unique_ptr<VelmoraProcessor> instance = fuzz::makeInstance();
    juce::int64 counter = 0;
};

Presets* presets = nullptr;

void loadEveryWay (halvex::PresetFileManager& manager, const uint8_t* data, size_t size)
{
    auto& p = *presets->instance;

    // A new name each time: loading the current, unmodified preset again does nothing.
    auto fileNamed = [&]
    {
        auto file = manager.getUserFolder().getChildFile ("fuzz-" + juce::String (presets->counter++) + manager.getExtension());
        file.getParentDirectory().createDirectory();
        file.replaceWithData (data, size);
        return file;
    };

    const auto direct = fileNamed(), undoable = fileNamed();

    if (manager.isValidPresetFile (direct.getFullPathName()))
        manager.loadPresetFile (direct.getFullPathName(), nullptr);
    fuzz::checkInstance (p);

    auto& undo = p.getUndoManager();
    manager.loadPresetFile (undoable.getFullPathName(), &undo);
    fuzz::checkInstance (p);
    undo.undo();
    fuzz::checkInstance (p);
    undo.redo();
    fuzz::checkInstance (p);

    p.dispatchMessageThreadWork();
    direct.deleteFile();
    undoable.deleteFile();
}
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    static Presets instance;
    presets = &instance;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    auto& p = *presets->instance;
    loadEveryWay (*p.getPresetManager(), data, size);
    loadEveryWay (*p.getMidiPresetManager(), data, size);
    // Keeps the undo history, and so the fuzzer's memory, from growing across inputs.
    p.getUndoManager().clearUndoHistory();
    return 0;
}
