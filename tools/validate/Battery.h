#pragma once

#include "HostedPlugin.h"

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

namespace Validate
{
using HostedPlugin::Format;
constexpr Format bothFormats[] = { Format::vst3, Format::lv2 };

struct Options
{
    HostedPlugin::Location location = HostedPlugin::builtLocation();
    juce::String only;  // run the checks whose "FORMAT group/name" contains or matches this
    bool quick = false; // smaller tables, for a first look
    bool list = false;  // name the selected checks, one "index<TAB>label" line each, and run none
    int from = 0;       // skip the selected checks before this index (a restart after a crash)
};

/** What one check found: a line of the report. */
struct Outcome
{
    bool ok = true;
    juce::String detail;
    juce::String evidence; // printed under the line, indented (call stacks, say)

    static Outcome pass (const juce::String& d = {}) { return { true, d, {} }; }
    static Outcome fail (const juce::String& d) { return { false, d, {} }; }
};

/** Thrown when a check cannot go on (an instance that will not load, say); it fails the check. */
struct Broken : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

/** Names the input a check is about to try; a crash report shows the last one. */
void step (const juce::String& description);
const char* currentCheckName();
const char* currentStep();
int currentCheckIndex();

/** Collects failure reasons within one check and turns them into its outcome. */
class Findings
{
public:
    void add (const juce::String& reason) { reasons.add (reason); }
    void expect (bool condition, const juce::String& reason)
    {
        if (! condition)
            add (reason);
    }
    bool any() const { return ! reasons.isEmpty(); }
    Outcome outcome (const juce::String& summary) const;

private:
    juce::StringArray reasons;
};

class Battery
{
public:
    explicit Battery (const Options&);
    ~Battery();

    const Options& options() const noexcept { return opts; }
    bool quick() const noexcept { return opts.quick; }

    /** Runs one check when --only selects it and prints its line. */
    void check (const juce::String& formatLabel, const juce::String& name, const std::function<Outcome()>& body);
    void check (Format f, const juce::String& name, const std::function<Outcome()>& body)
    {
        check (HostedPlugin::formatName (f), name, body);
    }

    /** A new instance (scanned once per format); throws Broken when it cannot be made. */
    std::unique_ptr<juce::AudioPluginInstance> create (Format, double sampleRate = 48000.0, int maxBlock = 512);
    /** A new instance, already prepared. */
    std::unique_ptr<juce::AudioPluginInstance> createPrepared (Format, double sampleRate = 48000.0, int maxBlock = 512);

    int passed() const noexcept { return numPassed; }
    int failed() const noexcept { return numFailed; }
    int unselected() const noexcept { return numUnselected; }
    int selectedCount() const noexcept { return nextIndex; }

private:
    bool selected (const juce::String& formatLabel, const juce::String& name) const;

    Options opts;
    std::map<Format, std::unique_ptr<HostedPlugin::Scanner>> scanners;
    int numPassed = 0, numFailed = 0, numUnselected = 0, nextIndex = 0;
};

/** The label a report line and a crash report use: "VST3 rate/48000". */
juce::String checkLabel (const juce::String& formatLabel, const juce::String& name);

//==============================================================================
// The groups of checks, one file each.
void describeChecks (Battery&);
void audioChecks (Battery&);      // lifecycle, sample rates, block sizes, layouts, bypass, tail, bad audio
void parameterChecks (Battery&);  // bad values and texts, play heads
void stateChecks (Battery&);
void threadChecks (Battery&);     // real-time safety, concurrency
void editorChecks (Battery&);     // the editor opened and closed while processing

//==============================================================================
/** The product's parameters as a host sees them, by the product's IDs (the display names
    without spaces; the describe checks confirm both formats agree on that). */
class Parameters
{
public:
    explicit Parameters (juce::AudioPluginInstance&);

    juce::AudioProcessorParameter& operator[] (const juce::String& id) const;
    const std::vector<juce::AudioProcessorParameter*>& all() const noexcept { return list; }
    juce::String idOf (const juce::AudioProcessorParameter&) const;

    /** Sets a parameter whose range is linear (all but the two filter frequencies) by its
        plain value; both formats then mean the same by the normalised value. */
    void setPlain (const juce::String& id, float plain) const;

private:
    std::vector<juce::AudioProcessorParameter*> list;
};

/** The twenty IDs in the order a VST3 host lists them, with their plain ranges. */
struct ParameterInfo
{
    const char* id;
    float start, end;
};
extern const ParameterInfo parameterTable[20];
const ParameterInfo& infoFor (const juce::String& id);

//==============================================================================
/** Signals and measurements. */
void fillNoise (juce::AudioBuffer<float>&, juce::Random&, float level = 0.25f, int start = 0, int num = -1);

/** Running counts over everything an instance put out, sample positions counted from the
    first sample added. */
struct Scan
{
    juce::int64 samples = 0, nonFinite = 0, subnormals = 0;
    juce::int64 lastNonFinite = -1;
    float peak = 0.0f; // over the finite samples

    void add (const juce::AudioBuffer<float>&, int start = 0, int num = -1);
    bool clean() const noexcept { return nonFinite == 0 && subnormals == 0; }
    juce::String describe() const;
};

float maxDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b, int channels = -1);

/** One call of the instance's audio callback on num samples of buffer from start. */
void processRange (juce::AudioPluginInstance&, juce::AudioBuffer<float>& buffer, int start, int num, bool bypassed = false);

/** Renders the whole buffer in place in blocks of the given size. */
void processInBlocks (juce::AudioPluginInstance&, juce::AudioBuffer<float>& buffer, int blockSize);

/** Runs numSamples of noise (or silence) through the instance; the outputs' scan. */
Scan run (juce::AudioPluginInstance&, juce::Random&, int numSamples, int blockSize, bool silent = false);

/** Handles the message queue for about ms milliseconds (timers, async calls). */
void pumpMessages (int ms);

/** Runs work on another thread while this (message) thread keeps handling messages. */
void runPumping (const std::function<void()>& work);

/** Points stderr at /dev/null while alive: the LV2 host's Turtle parser prints a line for
    every error in the damaged documents the state checks feed it. */
class QuietStderr
{
public:
    QuietStderr();
    ~QuietStderr();
    QuietStderr (const QuietStderr&) = delete;
    QuietStderr& operator= (const QuietStderr&) = delete;

private:
    int saved = -1;
};

/** The product's own document inside a saved host state, or nullptr. */
std::unique_ptr<juce::XmlElement> productDocument (Format, const juce::MemoryBlock& state);
juce::MemoryBlock saveState (juce::AudioPluginInstance&);

/** The product's stored plain value of each parameter, from its saved document. */
std::map<juce::String, double> storedValues (Format, juce::AudioPluginInstance&);

juce::String formatValue (double);
} // namespace Validate
