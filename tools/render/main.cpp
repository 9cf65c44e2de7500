// velmora-render: runs audio files (or the built-in demo) through Velmora offline.
#include "DemoSession.h"
#include "ParameterAssignments.h"
#include "RenderJob.h"
#include "halvex/state/AppFolders.h"
#include "plugin/processor/VelmoraProcessor.h"

#include <juce_events/juce_events.h>

#include <iostream>
#include <unistd.h>

namespace
{
/** A percentage line on stderr, redrawn in place; only for terminals or renders long
    enough that silence would look like a hang. */
class ProgressLine
{
public:
    ProgressLine (double sampleRate, juce::int64 inputLength)
        : rate (sampleRate), enabled (isatty (STDERR_FILENO) != 0 || (double) inputLength / sampleRate > 10.0)
    {
    }

    ~ProgressLine()
    {
        if (shown)
            std::cerr << "\r" << std::string (40, ' ') << "\r" << std::flush;
    }

    void update (juce::int64 done, juce::int64 inputLength)
    {
        if (! enabled)
            return;
        juce::String text;
        if (done < inputLength)
            text = "rendering " + juce::String ((int) (100 * done / juce::jmax<juce::int64> (1, inputLength))) + "%";
        else
            text = "ringing out " + juce::String ((double) (done - inputLength) / rate, 1) + " s";
        if (text != last)
        {
            std::cerr << "\r" << text.paddedRight (' ', 30) << std::flush;
            last = text;
            shown = true;
        }
    }

private:
    const double rate;
    const bool enabled;
    bool shown = false;
    juce::String last;
};

int fail (const juce::String& message)
{
    std::cerr << "velmora-render: " << message << std::endl;
    return 1;
}

juce::String dbText (double v) { return std::isfinite (v) ? juce::String (v, 1) : juce::String ("-inf"); }

int renderOneFile (const RenderOptions& options)
{
    std::unique_ptr<ProgressLine> progress;
    const auto report = renderFile (options,
                                    [&progress] (juce::int64 done, juce::int64 inputLength, double rate)
                                    {
                                        if (progress == nullptr)
                                            progress = std::make_unique<ProgressLine> (rate, inputLength);
                                        progress->update (done, inputLength);
                                    });
    progress.reset();
    if (! report.ok())
        return fail (report.error);

    const auto& s = report.stats;
    std::cout << "wrote " << options.outputPath << ": " << juce::String ((double) report.outputSamples / report.sampleRate, 2) << " s ("
              << juce::String ((double) (report.outputSamples - report.inputSamples) / report.sampleRate, 2) << " s tail) at "
              << report.sampleRate << " Hz, peak " << dbText (s.peakDb()) << " dBFS, RMS " << dbText (s.rmsDb()) << " dBFS, L/R correlation "
              << juce::String (s.correlation(), 3) << ", " << juce::String (report.speed(), 1) << "x real time" << std::endl;
    if (s.numNonFinite() > 0)
        std::cerr << "velmora-render: warning: " << s.numNonFinite() << " output frames were NaN or infinite" << std::endl;
    return 0;
}

int renderDemo (const RenderOptions& options)
{
    const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile ("velmora-demo");
    const bool terminal = isatty (STDERR_FILENO) != 0;
    const auto result = runDemo (folder, options,
                                 [terminal] (const juce::String& name)
                                 {
                                     if (terminal)
                                         std::cerr << "\rrendering " << name.paddedRight (' ', 20) << std::flush;
                                 });
    if (terminal)
        std::cerr << "\r" << std::string (32, ' ') << "\r" << std::flush;
    if (result.error.isNotEmpty())
        return fail (result.error);

    std::cout << "demo written to " << folder.getFullPathName() << " (input.wav, and a .wav and .png per render)\n\n"
              << formatDemoTable (result.rows);
    return 0;
}
} // namespace

int main (int argc, char* argv[])
{
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));

    const auto parsed = parseRenderArguments (args);
    if (! parsed.ok())
        return fail (parsed.error);
    const auto& options = parsed.options;

    // The parameter tree wants a message manager.
    const juce::ScopedJuceInitialiser_GUI juceInitialiser;

    // Offline renders start from the built-in defaults and leave the user's preferences and
    // preset folders alone: the processor's data folders go to a scratch directory.
    const juce::TemporaryFile scratch;
    if (halvex::AppFolders::getRoot() == juce::File())
        halvex::AppFolders::setRootOverride (scratch.getFile());
    struct Cleanup
    {
        juce::File folder;
        ~Cleanup() { folder.deleteRecursively(); }
    } cleanup { scratch.getFile() };

    switch (options.action)
    {
        case RenderOptions::Action::help:
            std::cout << renderUsage();
            return 0;
        case RenderOptions::Action::listParameters:
        {
            VelmoraProcessor processor;
            std::cout << describeParameters (processor);
            return 0;
        }
        case RenderOptions::Action::render:
            return renderOneFile (options);
        case RenderOptions::Action::demo:
            break;
    }
    return renderDemo (options);
}
