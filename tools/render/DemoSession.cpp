#include "DemoSession.h"

#include "DemoSignal.h"
#include "RenderPicture.h"

std::vector<DemoRender> demoRenders()
{
    return {
        { "retro", { { "Mode", "Retro" } } },
        { "multi", { { "Mode", "Multi" } } },
        { "detune", { { "Mode", "Detune" } } },
        { "rand", { { "Mode", "Rand" } } },
        { "echo", { { "Mode", "Multi" }, { "EchoFeedback", "45" }, { "EchoDelay", "55" }, { "Mix", "50" } } },
    };
}

DemoResult runDemo (const juce::File& folder, const RenderOptions& options, const std::function<void (const juce::String&)>& onStart,
                    double seconds)
{
    DemoResult result;
    const double rate = options.sampleRate > 0.0 ? options.sampleRate : RenderLimits::demoSampleRate;

    if (! folder.isDirectory() && ! folder.createDirectory())
    {
        result.error = "cannot create folder " + folder.getFullPathName().quoted ('\'');
        return result;
    }

    const auto input = makeDemoSignal (rate, 20240, seconds);
    if (auto problem = writeWavAtomically (folder.getChildFile ("input.wav"), input, rate, options.format); problem.isNotEmpty())
    {
        result.error = problem;
        return result;
    }
    DemoRow dry { "input", {}, (double) input.getNumSamples() / rate, 0.0 };
    dry.stats.add (input, input.getNumSamples());
    result.rows.push_back (dry);

    for (const auto& render : demoRenders())
    {
        if (onStart)
            onStart (render.name);

        RenderSettings settings;
        settings.sampleRate = rate;
        settings.blockSize = options.blockSize;
        settings.seed = options.seed;
        settings.assignments = render.assignments;
        settings.assignments.insert (settings.assignments.end(), options.assignments.begin(), options.assignments.end());

        juce::AudioBuffer<float> output;
        const auto report = renderBuffer (input, settings, output);
        if (! report.ok())
        {
            result.error = render.name + ": " + report.error;
            return result;
        }

        if (auto problem = writeWavAtomically (folder.getChildFile (render.name + ".wav"), output, rate, options.format); problem.isNotEmpty())
        {
            result.error = problem;
            return result;
        }

        juce::String title ("Velmora " + render.name + ":");
        for (const auto& a : render.assignments)
            title << " " << a.id << "=" << a.value;
        const auto picture = SpectrogramPicture::draw (input, output, rate, title);
        if (auto problem = SpectrogramPicture::writePng (picture, folder.getChildFile (render.name + ".png")); problem.isNotEmpty())
        {
            result.error = problem;
            return result;
        }

        result.rows.push_back ({ render.name, report.stats, (double) report.outputSamples / rate, report.speed() });
    }
    return result;
}

juce::String formatDemoTable (const std::vector<DemoRow>& rows)
{
    auto db = [] (double v) { return std::isfinite (v) ? juce::String (v, 1) : juce::String ("-inf"); };
    auto column = [] (const juce::String& s, int w) { return s.paddedLeft (' ', w); };

    juce::String out;
    out << juce::String ("render").paddedRight (' ', 8) << column ("length s", 9) << column ("peak dBFS", 11) << column ("RMS dBFS", 10)
        << column ("L/R corr", 10) << column ("speed", 10) << "\n";
    for (const auto& row : rows)
    {
        out << row.name.paddedRight (' ', 8) << column (juce::String (row.seconds, 2), 9) << column (db (row.stats.peakDb()), 11)
            << column (db (row.stats.rmsDb()), 10) << column (juce::String (row.stats.correlation(), 3), 10)
            << column (row.speed > 0.0 ? juce::String (row.speed, 1) + "x" : juce::String ("-"), 10);
        if (row.stats.numNonFinite() > 0)
            out << "  " << row.stats.numNonFinite() << " frames NaN/inf!";
        out << "\n";
    }
    return out;
}
