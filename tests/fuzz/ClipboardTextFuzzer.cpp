// Pasted text, through both preset managers of one long-lived instance: whatever bytes
// another application put on the clipboard, handed over by JUCE as UTF-8 without a check.
#include "FuzzSupport.h"

namespace
{
struct Clipboard
{
    fuzz::Environment environment;
    std::unique_ptr<VelmoraProcessor> instance = fuzz::makeInstance();
};

Clipboard* clipboard = nullptr;
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    static Clipboard instance;
    clipboard = &instance;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    auto& p = *clipboard->instance;
    const auto text = juce::String::fromUTF8 (reinterpret_cast<const char*> (data), (int) size);

    for (auto* manager : { p.getPresetManager(), p.getMidiPresetManager() })
    {
        manager->loadStateFromClipboardText (text);
        fuzz::checkInstance (p);

        // What was taken in copies out as text that pastes back without a change.
        const auto copied = manager->getStateAsClipboardText();
        VELMORA_FUZZ_CHECK (manager->loadStateFromClipboardText (copied));
        VELMORA_FUZZ_CHECK (manager->getStateAsClipboardText() == copied);
    }

    p.dispatchMessageThreadWork();
    return 0;
}
