#pragma once

// Work that runs beside a check on threads of its own, as a host's automation and audio
// threads do.
#include "Battery.h"

#include <atomic>
#include <thread>
#include <vector>

namespace Validate
{
/** Sets random product parameters from its own thread until stopped, as host automation
    does; Mode changes restart voices and fades, so they come often. */
class Automation
{
public:
    Automation (juce::AudioPluginInstance& instance, int seed)
        : params (HostedPlugin::productParameters (instance)), random (seed), thread ([this] { loop(); })
    {
    }

    ~Automation()
    {
        stop = true;
        thread.join();
    }

    long changes() const noexcept { return count; }

private:
    void loop()
    {
        while (! stop)
        {
            auto* p = params[(size_t) random.nextInt ((int) params.size())];
            p->setValue (random.nextFloat());
            ++count;
            std::this_thread::sleep_for (std::chrono::microseconds (50));
        }
    }

    std::vector<juce::AudioProcessorParameter*> params;
    juce::Random random;
    std::atomic<bool> stop { false };
    std::atomic<long> count { 0 };
    std::thread thread;
};

/** Runs noise through the instance in blocks on its own thread, as a host's audio thread
    does during playback, until stopped; the output is scanned. */
class NoiseProcessing
{
public:
    NoiseProcessing (juce::AudioPluginInstance& instance, int blockSize, int seed)
        : plugin (instance), random (seed), io (2, blockSize), thread ([this] { loop(); })
    {
    }

    ~NoiseProcessing() { stop(); }

    void stop()
    {
        running = false;
        if (thread.joinable())
            thread.join();
    }

    long blocks() const noexcept { return count; }
    /** Read it after stop(). */
    const Scan& output() const noexcept { return scan; }

private:
    void loop()
    {
        while (running)
        {
            fillNoise (io, random);
            processRange (plugin, io, 0, io.getNumSamples());
            scan.add (io);
            ++count;
        }
    }

    juce::AudioPluginInstance& plugin;
    juce::Random random;
    juce::AudioBuffer<float> io;
    Scan scan;
    std::atomic<bool> running { true };
    std::atomic<long> count { 0 };
    std::thread thread;
};
} // namespace Validate
