#pragma once

#include <juce_core/juce_core.h>

#include <vector>

/** One --set ID=VALUE as typed; the value is only understood once the processor exists. */
struct ParameterAssignment
{
    juce::String id, value;
};

enum class SampleFormat
{
    float32,
    int24
};

namespace RenderLimits
{
constexpr int minBlockSize = 1, maxBlockSize = 8192;
constexpr double minSampleRate = 22050.0, maxSampleRate = 192000.0;
constexpr double demoSampleRate = 48000.0;
} // namespace RenderLimits

struct RenderOptions
{
    enum class Action
    {
        demo,
        render,
        listParameters,
        help
    };

    Action action = Action::demo;
    juce::String inputPath, outputPath;
    std::vector<ParameterAssignment> assignments;
    juce::String presetPath, savePresetPath; // --preset is applied before the --set values
    int blockSize = 512;
    double sampleRate = 0.0; // 0: the input file's own rate (the demo's default for the demo)
    juce::int64 seed = 1;
    SampleFormat format = SampleFormat::float32;
};

struct ParsedArguments
{
    RenderOptions options;
    juce::String error; // empty when the arguments made sense

    bool ok() const { return error.isEmpty(); }
};

/** args excludes the program name. */
ParsedArguments parseRenderArguments (const juce::StringArray& args);

/** Empty when rate is a processing rate we support, otherwise a one-line reason. */
juce::String checkSampleRate (double rate);

juce::String renderUsage();
