// The editor: opened on screen and closed again, over and over, while the audio thread runs
// and another thread automates. Needs an X display (the test command provides Xvfb).
#include "Battery.h"

#include <atomic>
#include <thread>

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

    std::atomic<bool> stop { false };
    std::atomic<long> blocks { 0 }, changes { 0 };
    Scan scan;

    std::thread audio ([&]
    {
        juce::Random random (83);
        juce::AudioBuffer<float> io (2, 256);
        while (! stop)
        {
            fillNoise (io, random);
            processRange (plugin, io, 0, 256);
            scan.add (io);
            ++blocks;
        }
    });

    const auto params = HostedPlugin::productParameters (plugin);
    std::thread automation ([&]
    {
        juce::Random random (89);
        while (! stop)
        {
            params[(size_t) random.nextInt ((int) params.size())]->setValue (random.nextFloat());
            ++changes;
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
        }
    });

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

    stop = true;
    audio.join();
    automation.join();
    pumpMessages (50);

    // Still a working instance afterwards: a fresh editor opens, audio stays clean.
    juce::Random noise (97);
    const auto after = run (plugin, noise, 4800, 256);

    Findings findings;
    findings.expect (opened == cycles, "the editor opened " + juce::String (opened) + " times of " + juce::String (cycles));
    findings.expect (shownWithSize == opened, juce::String (opened - shownWithSize) + " editors had no size on screen");
    findings.expect (scan.clean() && after.clean(), scan.describe() + "; afterwards " + after.describe());
    findings.expect (blocks > 0 && changes > 0, "nothing ran");
    return findings.outcome (juce::String (cycles) + " times opened on screen and closed while " + juce::String (blocks.load())
                             + " blocks ran and another thread made " + juce::String (changes.load())
                             + " parameter changes; output finite");
}
} // namespace

void editorChecks (Battery& battery)
{
    for (const auto f : bothFormats)
        battery.check (f, "editor/open-close", [&] { return openAndClose (battery, f); });
}
} // namespace Validate
