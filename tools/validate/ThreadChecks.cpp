// The audio thread as a host runs it: nothing on it may wait, allocate or touch files, while
// other threads automate parameters and save and restore state.
#include "Background.h"
#include "Battery.h"
#include "RealtimeWatch.h"

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace Validate
{
namespace
{
/** A host's audio thread: one thread for the whole run, given work by the message thread,
    which handles messages while it waits. */
class AudioThread
{
public:
    AudioThread() : thread ([this] { loop(); }) {}

    ~AudioThread()
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            quit = true;
        }
        wake.notify_all();
        thread.join();
    }

    void run (std::function<void()> work)
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            job = std::move (work);
            finished = false;
        }
        wake.notify_all();
        while (! finished)
            pumpMessages (1);
    }

private:
    void loop()
    {
        for (;;)
        {
            std::function<void()> work;
            {
                std::unique_lock<std::mutex> lock (mutex);
                wake.wait (lock, [this] { return quit || job != nullptr; });
                if (quit)
                    return;
                work = std::move (job);
                job = nullptr;
            }
            work();
            finished = true;
        }
    }

    std::mutex mutex;
    std::condition_variable wake;
    std::function<void()> job;
    bool quit = false;
    std::atomic<bool> finished { true };
    std::thread thread;
};

const double rtRates[] = { 22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0, 12345.6, 100000.0 };
const double rtQuickRates[] = { 44100.0, 96000.0, 12345.6 };

Outcome realtime (Battery& battery, Format f)
{
    using RealtimeWatch::Source;
    if (! RealtimeWatch::isAvailable())
        return Outcome::fail ("not run: this is a sanitizer build, whose allocator replaces the watch; run a normal build");

    constexpr int maxBlock = 8192;
    // The awkward sizes, then random ones: any size, and the short blocks hosts split
    // periods into around automation points (negative: random up to that).
    const int sizes[] = { 1, 2, 3, 17, 127, 512, 8192, -maxBlock, -512, -512, -64, -64 };
    const int callsPerRate = battery.quick() ? 60 : 240;
    const auto rates = battery.quick() ? juce::Array<double> (rtQuickRates, 3) : juce::Array<double> (rtRates, 9);

    auto instance = battery.create (f, 48000.0, maxBlock);
    const auto& where = battery.options().location;
    RealtimeWatch::attributeToModulesUnder (f == Format::vst3 ? where.vst3Bundle : where.lv2Bundle);
    juce::AudioBuffer<float> io (2, maxBlock);
    Scan scan;
    juce::int64 samples = 0, calls = 0;
    long changes = 0;
    RealtimeWatch::Counts events[(int) Source::numSources];
    juce::StringArray eventCalls;
    AudioThread audioThread;

    for (const double rate : rates)
    {
        // prepareToPlay belongs to the message thread, with the audio thread stopped.
        instance->prepareToPlay (rate, maxBlock);
        RealtimeWatch::reset();
        {
            Automation automation (*instance, (int) rate);
            audioThread.run ([&]
            {
                // Noise in, every size in turn, and now and then a bypassed block, as when a
                // host bypasses the plug-in.
                juce::Random blockRandom ((juce::int64) rate);
                long seenBefore = 0;
                for (int k = 0; k < callsPerRate; ++k)
                {
                    const int slot = k % (int) std::size (sizes);
                    const int n = sizes[slot] > 0 ? sizes[slot] : 1 + blockRandom.nextInt (-sizes[slot]);
                    fillNoise (io, blockRandom, 0.25f, 0, n);
                    const bool bypassed = k % 50 == 49;
                    {
                        const RealtimeWatch::Scope audioCallback;
                        processRange (*instance, io, 0, n, bypassed);
                    }
                    // Which calls had events, for the evidence (counted outside the watch).
                    long seen = 0;
                    for (int s = 0; s < (int) Source::numSources; ++s)
                        seen += RealtimeWatch::countsFrom ((Source) s).total();
                    if (seen != seenBefore && eventCalls.size() < 12)
                        eventCalls.add (formatValue (rate) + " Hz call " + juce::String (k) + " (" + juce::String (n) + " samples"
                                        + (bypassed ? ", bypassed" : "") + "): " + juce::String (seen - seenBefore));
                    seenBefore = seen;
                    scan.add (io, 0, n);
                    samples += n;
                    ++calls;
                }
            });
            changes += automation.changes();
        }
        for (int s = 0; s < (int) Source::numSources; ++s)
            events[s].add (RealtimeWatch::countsFrom ((Source) s));
        if (RealtimeWatch::countsFrom (Source::product).total() > 0)
            break; // keep the recorded stacks of the first rate that showed events
    }

    const auto& product = events[(int) Source::product];
    const auto& wrapper = events[(int) Source::wrapper];
    const auto& host = events[(int) Source::host];
    const auto wrapperAllocations = wrapper.perKind[(int) RealtimeWatch::Kind::allocation]
                                    + wrapper.perKind[(int) RealtimeWatch::Kind::deallocation];

    Findings findings;
    findings.expect (scan.clean(), scan.describe());
    findings.expect (product.total() == 0, juce::String (product.total()) + " events in the product's code on the audio thread: " + product.describe());
    // Allocations are all JUCE's wrappers are known to force (see the report below the
    // line); anything else from them fails like the product's own.
    findings.expect (wrapper.total() == wrapperAllocations, "the JUCE wrapper in the plug-in: " + wrapper.describe());
    auto outcome = findings.outcome (juce::String (rates.size()) + " rates, " + juce::String (calls) + " calls of 1.." + juce::String (maxBlock)
                                     + " samples (" + juce::String (samples) + " in all), " + juce::String (changes)
                                     + " automation changes from another thread; in the product's code no allocation, lock wait, sleep, file access or thread start");

    // Shown on every run, not counted against the product: what JUCE 7.0.5's format wrappers
    // inside the plug-in binary do on the audio thread, and what JUCE's hosting code in this
    // executable does (no part of the plug-in). Known: the VST3 wrapper copies each input
    // bus's channel map, a std::vector, on every call (setUpInputChannels), and reaches its
    // thread_local flag through the loader, which allocates its storage on a thread's first
    // parameter change; the LV2 wrapper resizes its buffer keeping the content, which
    // reallocates whenever a block is longer than the one before.
    if (wrapper.total() > 0)
        outcome.detail << "; forced by JUCE's " << HostedPlugin::formatName (f) << " wrapper in the plug-in: " << wrapper.describe();
    if (host.total() > 0)
        outcome.detail << "; by JUCE's " << HostedPlugin::formatName (f) << " host here: " << host.describe();

    const bool trace = juce::SystemStats::getEnvironmentVariable ("VELMORA_TRACE_EVENTS", {}).isNotEmpty();
    const std::pair<Source, const char*> sources[] = { { Source::product, "in the product's code" },
                                                       { Source::wrapper, "in JUCE's wrapper, in the plug-in" },
                                                       { Source::host, "in JUCE's host, in this executable" } };
    for (const auto& [source, title] : sources)
        if (trace && events[(int) source].total() > 0)
            outcome.evidence << title << ":\n" << RealtimeWatch::describeRecordedStacks (source, 3);
    if (trace && eventCalls.size() > 0)
        outcome.evidence << "calls with events: " << eventCalls.joinIntoString ("; ") << "\n";
    if (! trace && product.total() + wrapper.total() + host.total() > 0)
        outcome.evidence = "(VELMORA_TRACE_EVENTS=1 prints their call stacks)";
    return outcome;
}

//==============================================================================
Outcome concurrency (Battery& battery, Format f)
{
    auto instance = battery.createPrepared (f, 48000.0, 256);
    auto& plugin = *instance;

    // States to restore: two random settings, saved up front.
    juce::MemoryBlock states[2];
    {
        juce::Random random (61);
        for (auto& s : states)
        {
            for (auto* p : HostedPlugin::productParameters (plugin))
                p->setValue (random.nextFloat());
            juce::Random noise (1);
            run (plugin, noise, 512, 256);
            s = saveState (plugin);
        }
    }

    const double seconds = battery.quick() ? 0.5 : 1.5;
    std::atomic<bool> stop { false };
    std::atomic<long> stateCalls { 0 }, unreadable { 0 };
    NoiseProcessing audio (plugin, 256, 67);

    // VST3 lets any thread save and restore (JUCE's host takes the message manager's lock
    // for it); JUCE's LV2 host wants those calls on the message thread only.
    std::atomic<bool> stateThreadDone { f != Format::vst3 };
    std::thread stateThread;
    if (f == Format::vst3)
        stateThread = std::thread ([&]
        {
            for (int i = 0; ! stop; ++i)
            {
                const auto saved = saveState (plugin);
                unreadable += productDocument (f, saved) == nullptr ? 1 : 0;
                plugin.setStateInformation (states[i % 2].getData(), (int) states[i % 2].getSize());
                stateCalls += 2;
            }
            stateThreadDone = true;
        });

    {
        Automation automation (plugin, 71);
        juce::Random random (73);
        const auto params = HostedPlugin::productParameters (plugin);
        const auto end = juce::Time::getMillisecondCounterHiRes() + seconds * 1000.0;
        for (int i = 0; juce::Time::getMillisecondCounterHiRes() < end; ++i)
        {
            // The message thread: what an editor and the host's own calls do.
            auto* p = params[(size_t) random.nextInt ((int) params.size())];
            p->setValue (random.nextFloat());
            (void) p->getCurrentValueAsText();
            if (i % 4 == 0)
            {
                const auto saved = saveState (plugin);
                unreadable += productDocument (f, saved) == nullptr ? 1 : 0;
                plugin.setStateInformation (states[i % 2].getData(), (int) states[i % 2].getSize());
                stateCalls += 2;
            }
            pumpMessages (1);
        }
        stop = true;
        while (! stateThreadDone)
            pumpMessages (1);
    }
    audio.stop();
    if (stateThread.joinable())
        stateThread.join();

    // At rest again: a restored state is the state. Changes the hosts still hold for the
    // next block go first, or they would land on top of the restored values.
    juce::Random noise (2);
    run (plugin, noise, 512, 256);
    pumpMessages (50);
    run (plugin, noise, 512, 256);
    plugin.setStateInformation (states[0].getData(), (int) states[0].getSize());
    run (plugin, noise, 512, 256);
    const bool settled = storedValues (f, plugin) == [&]
    {
        auto fresh = battery.createPrepared (f, 48000.0, 256);
        fresh->setStateInformation (states[0].getData(), (int) states[0].getSize());
        run (*fresh, noise, 512, 256);
        return storedValues (f, *fresh);
    }();

    Findings findings;
    findings.expect (audio.output().clean(), audio.output().describe());
    findings.expect (unreadable == 0, juce::String (unreadable.load()) + " saved states without a readable product document");
    findings.expect (settled, "after the storm, restoring a state does not give what a fresh instance gets from it");
    findings.expect (audio.blocks() > 0 && stateCalls > 0, "nothing ran");
    return findings.outcome (juce::String (audio.blocks()) + " blocks while two threads automated and " + juce::String (stateCalls.load())
                             + " state saves and restores ran" + (f == Format::vst3 ? " (message thread and another)" : " (message thread)")
                             + "; output finite");
}
} // namespace

void threadChecks (Battery& battery)
{
    for (const auto f : bothFormats)
        battery.check (f, "realtime", [&] { return realtime (battery, f); });
    for (const auto f : bothFormats)
        battery.check (f, "concurrency", [&] { return concurrency (battery, f); });
}
} // namespace Validate
