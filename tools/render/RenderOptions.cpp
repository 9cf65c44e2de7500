#include "RenderOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace
{
bool parseWholeNumber (const juce::String& text, juce::int64& out)
{
    const auto s = text.trim();
    if (s.isEmpty())
        return false;
    errno = 0;
    char* end = nullptr;
    const auto value = std::strtoll (s.toRawUTF8(), &end, 10);
    if (errno != 0 || end == nullptr || *end != 0)
        return false;
    out = (juce::int64) value;
    return true;
}

bool parseReal (const juce::String& text, double& out)
{
    const auto s = text.trim();
    if (s.isEmpty())
        return false;
    char* end = nullptr;
    const double value = std::strtod (s.toRawUTF8(), &end);
    if (end == nullptr || *end != 0 || ! std::isfinite (value))
        return false;
    out = value;
    return true;
}

juce::String quoted (const juce::String& s) { return "'" + s + "'"; }
} // namespace

juce::String checkSampleRate (double rate)
{
    if (rate >= RenderLimits::minSampleRate && rate <= RenderLimits::maxSampleRate)
        return {};
    return "unsupported rate " + juce::String (rate, 0) + " Hz (supported: "
           + juce::String ((int) RenderLimits::minSampleRate) + " to " + juce::String ((int) RenderLimits::maxSampleRate) + " Hz)";
}

ParsedArguments parseRenderArguments (const juce::StringArray& args)
{
    ParsedArguments result;
    auto& o = result.options;
    juce::StringArray positional;
    bool listParameters = false, help = false;

    for (int i = 0; i < args.size(); ++i)
    {
        auto arg = args[i];
        if (! arg.startsWith ("--") || arg == "--")
        {
            if (arg == "-h")
                help = true;
            else
                positional.add (arg);
            continue;
        }

        // Both "--block 256" and "--block=256".
        juce::String name = arg, value;
        bool hasValue = false;
        if (arg.containsChar ('='))
        {
            name = arg.upToFirstOccurrenceOf ("=", false, false);
            value = arg.fromFirstOccurrenceOf ("=", false, false);
            hasValue = true;
        }

        if (name == "--help") { help = true; continue; }
        if (name == "--list-parameters") { listParameters = true; continue; }

        const bool takesValue = name == "--set" || name == "--block" || name == "--rate" || name == "--seed" || name == "--format"
                                || name == "--preset" || name == "--save-preset";
        if (! takesValue)
        {
            result.error = "unknown option " + quoted (name) + " (try --help)";
            return result;
        }
        if (! hasValue)
        {
            if (i + 1 >= args.size())
            {
                result.error = name + " needs a value";
                return result;
            }
            value = args[++i];
        }

        if (name == "--set")
        {
            if (! value.containsChar ('='))
            {
                result.error = "--set " + quoted (value) + ": expected ID=VALUE";
                return result;
            }
            const auto id = value.upToFirstOccurrenceOf ("=", false, false).trim();
            const auto v = value.fromFirstOccurrenceOf ("=", false, false).trim();
            if (id.isEmpty())
            {
                result.error = "--set " + quoted (value) + ": missing parameter ID before '='";
                return result;
            }
            if (v.isEmpty())
            {
                result.error = "--set " + quoted (value) + ": empty value for " + id;
                return result;
            }
            o.assignments.push_back ({ id, v });
        }
        else if (name == "--block")
        {
            juce::int64 n = 0;
            if (! parseWholeNumber (value, n) || n < RenderLimits::minBlockSize || n > RenderLimits::maxBlockSize)
            {
                result.error = "--block " + quoted (value) + ": expected a whole number from "
                               + juce::String (RenderLimits::minBlockSize) + " to " + juce::String (RenderLimits::maxBlockSize);
                return result;
            }
            o.blockSize = (int) n;
        }
        else if (name == "--rate")
        {
            double rate = 0.0;
            if (! parseReal (value, rate))
            {
                result.error = "--rate " + quoted (value) + ": not a number";
                return result;
            }
            if (auto problem = checkSampleRate (rate); problem.isNotEmpty())
            {
                result.error = "--rate: " + problem;
                return result;
            }
            o.sampleRate = rate;
        }
        else if (name == "--seed")
        {
            if (! parseWholeNumber (value, o.seed))
            {
                result.error = "--seed " + quoted (value) + ": expected a whole number";
                return result;
            }
        }
        else if (name == "--preset")
        {
            o.presetPath = value;
        }
        else if (name == "--save-preset")
        {
            o.savePresetPath = value;
        }
        else if (name == "--format")
        {
            if (value == "float")
                o.format = SampleFormat::float32;
            else if (value == "24")
                o.format = SampleFormat::int24;
            else
            {
                result.error = "--format " + quoted (value) + ": expected float or 24";
                return result;
            }
        }
    }

    if (help)
        o.action = RenderOptions::Action::help;
    else if (listParameters)
        o.action = RenderOptions::Action::listParameters;
    else if (positional.isEmpty())
    {
        o.action = RenderOptions::Action::demo;
        if (o.presetPath.isNotEmpty() || o.savePresetPath.isNotEmpty())
            result.error = "--preset and --save-preset work on a file render: give IN and OUT";
    }
    else if (positional.size() == 1)
        result.error = "missing OUT: give both an input and an output file (or no file for the demo)";
    else if (positional.size() > 2)
        result.error = "too many files: " + positional.joinIntoString (" ") + " (expected IN OUT)";
    else
    {
        o.action = RenderOptions::Action::render;
        o.inputPath = positional[0];
        o.outputPath = positional[1];
    }
    return result;
}

juce::String renderUsage()
{
    return "usage: velmora-render [IN OUT] [--preset FILE] [--set ID=VALUE ...] [--save-preset FILE]\n"
           "                     [--block N] [--rate HZ] [--seed N] [--format float|24]\n"
           "       velmora-render --list-parameters\n"
           "\n"
           "Runs IN (WAV, AIFF, FLAC or Ogg) through Velmora and writes OUT as WAV, tail included.\n"
           "Without files it renders the demo into ./velmora-demo/ (WAVs, PNG pictures and a summary).\n"
           "\n"
           "  --set ID=VALUE   a plain number is in the parameter's own units (Mix=70, EchoDelay=50);\n"
           "                   anything else is read as the parameter's text (Mode=Detune, EchoDelay=250ms)\n"
           "  --preset FILE    load a preset file first; --set values then change it\n"
           "  --save-preset F  write the settings the render used as a preset file\n"
           "  --block N        processing block size, 1 to 8192 (default 512)\n"
           "  --rate HZ        processing rate, 22050 to 192000; a file at another rate is resampled\n"
           "  --seed N         seed of the chorus' random generators (default 1)\n"
           "  --format F       float (32-bit, default) or 24 (24-bit integer)\n";
}
