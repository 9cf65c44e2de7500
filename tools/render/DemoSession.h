#pragma once

#include "RenderJob.h"

/** One demo render: a name for its files and the settings it applies. */
struct DemoRender
{
    juce::String name;
    std::vector<ParameterAssignment> assignments;
};

/** Each mode at its defaults, then Multi with the echo engaged. */
std::vector<DemoRender> demoRenders();

struct DemoRow
{
    juce::String name;
    SignalStats stats;
    double seconds = 0.0;
    double speed = 0.0; // x real time; 0 for the dry input
};

struct DemoResult
{
    juce::String error;
    std::vector<DemoRow> rows; // the dry input first
};

/** Writes input.wav and, per render, NAME.wav and NAME.png into folder. options supplies
    rate, block size, seed, format and any --set applied on top of each render's own. */
DemoResult runDemo (const juce::File& folder, const RenderOptions& options, const std::function<void (const juce::String&)>& onStart = {},
                    double seconds = 6.0);

/** The summary printed after the demo, one row per render. */
juce::String formatDemoTable (const std::vector<DemoRow>&);
