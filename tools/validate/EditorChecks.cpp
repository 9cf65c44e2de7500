// The editor: opened on screen and closed again, over and over, while the audio thread runs
// and another thread automates. Needs an X display (the test command provides Xvfb).
#include "Background.h"
#include "Battery.h"

namespace Validate
{
namespace
{
bool haveDisplay()
{
    return juce::Desktop::getInstance().getDisplays().getPrimaryDisplay() != nullptr;
}

Outcome openAndClose (Battery& battery, Format f)
{
    if (! haveDisplay())
        return Outcome::pass ("not run: no X display (the test command runs this under Xvfb)");

    auto instance = battery.createPrepared (f, 48000.0, 256);
    auto& plugin = *instance;
    if (! plugin.hasEditor())
        return Outcome::fail ("the plug-in says it has no editor");

    NoiseProcessing audio (plugin, 256, 83);
    Automation automation (plugin, 89);

    const int cycles = battery.quick() ? 4 : 12;
    int opened = 0, shownWithSize = 0;
    for (int i = 0; i < cycles; ++i)
    {
        step ("open and close " + juce::String (i + 1));
        std::unique_ptr<juce::AudioProcessorEditor> editor (plugin.createEditorIfNeeded());
        if (editor == nullptr)
            continue;

        ++opened;
        editor->setVisible (true);
        editor->addToDesktop (juce::ComponentPeer::windowHasTitleBar);
        pumpMessages (i % 3 == 0 ? 150 : 40);
        shownWithSize += editor->getWidth() > 0 && editor->getHeight() > 0 ? 1 : 0;
        editor.reset(); // the host closes the window: the editor goes first, then its peer
        pumpMessages (i % 2 == 0 ? 20 : 0);
    }

    audio.stop();
    const auto changes = automation.changes();
    pumpMessages (50);

    // Still a working instance afterwards.
    juce::Random noise (97);
    const auto after = run (plugin, noise, 4800, 256);

    Findings findings;
    findings.expect (opened == cycles, "the editor opened " + juce::String (opened) + " times of " + juce::String (cycles));
    findings.expect (shownWithSize == opened, juce::String (opened - shownWithSize) + " editors had no size on screen");
    findings.expect (audio.output().clean() && after.clean(), audio.output().describe() + "; afterwards " + after.describe());
    findings.expect (audio.blocks() > 0 && changes > 0, "nothing ran");
    return findings.outcome (juce::String (cycles) + " times opened on screen and closed while " + juce::String (audio.blocks())
                             + " blocks ran and another thread made " + juce::String (changes)
                             + " parameter changes; output finite");
}
} // namespace

void editorChecks (Battery& battery)
{
    for (const auto f : bothFormats)
        battery.check (f, "editor/open-close", [&] { return openAndClose (battery, f); });
}
} // namespace Validate
