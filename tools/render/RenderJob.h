#pragma once

#include "RenderOptions.h"
#include "SignalStats.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <functional>
#include <memory>

class VelmoraProcessor;

struct RenderSettings
{
    double sampleRate = RenderLimits::demoSampleRate;
    int blockSize = 512;
    juce::int64 seed = 1;
    std::vector<ParameterAssignment> assignments;
    juce::File preset, savePreset;  // loaded before the assignments; written with the state rendered
    double tailLimitSeconds = 0.0; // 0: the processor's own tail length
};

struct RenderReport
{
    juce::String error; // empty on success
    juce::int64 inputSamples = 0, outputSamples = 0;
    double sampleRate = 0.0;
    double wallSeconds = 0.0;
    SignalStats stats; // of the output

    bool ok() const { return error.isEmpty(); }
    /** Seconds of output rendered per second of wall time. */
    double speed() const { return wallSeconds > 0.0 ? (double) outputSamples / sampleRate / wallSeconds : 0.0; }
};

/** Called after every block: samples done so far, the input's length (the tail comes after) and the rate. */
using RenderProgress = std::function<void (juce::int64 done, juce::int64 inputLength, double sampleRate)>;

/** Hands each output block over; returns false to abandon the render (a write failed). */
using RenderSink = std::function<bool (const juce::AudioBuffer<float>&, int numSamples)>;

/** One processor set up as a host would: fixed seeds, parameters applied, prepared, and a
    playing transport at 120 BPM. Construct, check error(), then run() once. Message thread. */
class RenderSession
{
public:
    explicit RenderSession (const RenderSettings&);
    ~RenderSession();

    const juce::String& error() const { return setupError; }

    /** Feeds inputLength samples from source (stereo, at the session's rate), then silence until the
        output stays below -90 dBFS for half a second (longer than the echo time when the echo
        repeats), or for at most the processor's tail length. */
    RenderReport run (juce::AudioSource& source, juce::int64 inputLength, const RenderSink&, const RenderProgress& = {});

    /** Sample level below which the tail counts as silent, and for how long it must stay there. */
    static constexpr double silenceThresholdDb = -90.0;
    static constexpr double silenceSeconds = 0.5;

private:
    class Transport;
    RenderSettings settings;
    std::unique_ptr<VelmoraProcessor> processor;
    std::unique_ptr<Transport> transport;
    juce::String setupError;
};

/** Renders a whole buffer in memory; output gets input length + tail, stereo. */
RenderReport renderBuffer (const juce::AudioBuffer<float>& input, const RenderSettings&, juce::AudioBuffer<float>& output,
                           const RenderProgress& = {});

/** The IN OUT use: reads any basic format, resamples to options.sampleRate if set and different,
    writes OUT as WAV through a temporary file so OUT is replaced only on success. */
RenderReport renderFile (const RenderOptions&, const RenderProgress& = {});

/** Writes buffer as WAV next to target and renames it over target only once complete. */
juce::String writeWavAtomically (const juce::File& target, const juce::AudioBuffer<float>&, double sampleRate, SampleFormat);
