// velmora-validate: loads the built VST3 and LV2 binaries through JUCE's plug-in hosting and
// puts them through what hosts and users do to a plug-in. One line per check; the exit code
// is non-zero when any check fails.
//
// The checks run in a child process. A plug-in that crashes takes its host down with it, so
// a crash fails the check that was running, and a new child carries on with the next one:
// every check gets its line, whatever happens before it.
#include "Battery.h"
#include "RealtimeWatch.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <iostream>
#include <thread>
#include <unistd.h>

namespace
{
// Hosts install an X error handler (their toolkit does); JUCE only does so in its own
// applications. Without one, Xlib's default exits on the first harmless error, such as a
// property JUCE sets with an atom a server without a window manager lacks.
void installXErrorHandler()
{
    if (auto* x11 = dlopen ("libX11.so.6", RTLD_LAZY | RTLD_LOCAL))
    {
        using Handler = int (*) (void*, void*);
        if (auto* setHandler = reinterpret_cast<Handler (*) (Handler)> (dlsym (x11, "XSetErrorHandler")))
            setHandler ([] (void*, void*) { return 0; });
    }
}

void printUsage()
{
    std::cout << "usage: velmora-validate [--vst3 PATH] [--lv2 PATH --lv2-uri URI] [--only PATTERN] [--quick]\n"
                 "  --vst3 PATH      the VST3 bundle (default: this build's)\n"
                 "  --lv2 PATH       the LV2 bundle folder (default: this build's)\n"
                 "  --lv2-uri URI    the plug-in's URI inside it\n"
                 "  --only PATTERN   checks whose \"FORMAT group/name\" contains PATTERN (or matches it, with * and ?);\n"
                 "                   several patterns separated by commas\n"
                 "  --quick          smaller tables of rates, sizes and corruptions\n"
                 "  --in-process     run the checks in this process (for a debugger; a crash ends the run)\n"
                 "Environment: VELMORA_TRACE_EVENTS=1 prints the call stacks of real-time events.\n";
}

// The crash report goes to the stderr the process started with, even while a check has
// pointed fd 2 elsewhere.
int crashFd = 2;

void writeText (const char* text)
{
    [[maybe_unused]] auto ignored = ::write (crashFd, text, std::strlen (text));
}

void onCrash (int signal)
{
    // "CRASH <signal> <check index> <label>|<input>": the supervisor reads it back.
    char head[64];
    std::snprintf (head, sizeof head, "\nCRASH %d %d ", signal, Validate::currentCheckIndex());
    writeText (head);
    writeText (Validate::currentCheckName());
    writeText ("|");
    writeText (Validate::currentStep());
    writeText ("\n");
    std::signal (signal, SIG_DFL);
    std::raise (signal);
}

/** Runs the checks here; returns the exit code. */
int runHere (const Validate::Options& options, bool child)
{
    // The plug-in writes preferences and presets under its data folders: a throw-away home
    // and folder root for every run.
    const char* tmp = std::getenv ("TMPDIR");
    std::string pattern = std::string (tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/velmora-validate-XXXXXX";
    if (mkdtemp (pattern.data()) == nullptr)
    {
        std::cerr << "velmora-validate: no temporary folder\n";
        return 2;
    }
    const juce::File home (pattern);
    home.getChildFile (".config").createDirectory();
    setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
    setenv ("XDG_CONFIG_HOME", home.getChildFile (".config").getFullPathName().toRawUTF8(), 1);
    setenv ("HALVEX_FOLDERS_ROOT", home.getChildFile ("folders").getFullPathName().toRawUTF8(), 1);

    // Two user presets, so that a format can list them as programs; they must exist before
    // the first instance scans the folders.
    const auto presets = home.getChildFile ("folders/user/Quarno/Velmora/presets/Validate");
    presets.createDirectory();
    for (const auto& [name, mix] : { std::pair<const char*, int> { "First", 20 }, { "Second", 80 } })
        presets.getChildFile (juce::String (name) + ".qopreset")
            .replaceWithText ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Velmora company=\"Quarno\" version=\"1.1.0\">\r\n"
                              "  <PARAMS Mix=\"" + juce::String (mix) + "\"/>\r\n</Velmora>\r\n");

    crashFd = dup (2);
    for (int s : { SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT })
        std::signal (s, onCrash);
    RealtimeWatch::prepareTracing();

    int passed = 0, failed = 0, unselected = 0;
    const auto start = juce::Time::getMillisecondCounterHiRes();
    {
        // Makes this thread the message thread, which VST3 and LV2 instantiation require.
        const juce::ScopedJuceInitialiser_GUI juce;
        installXErrorHandler();
        Validate::Battery battery (options);

        Validate::describeChecks (battery);
        Validate::audioChecks (battery);
        Validate::parameterChecks (battery);
        Validate::stateChecks (battery);
        Validate::threadChecks (battery);
        Validate::editorChecks (battery);

        passed = battery.passed();
        failed = battery.failed();
        unselected = battery.unselected();
    }
    home.deleteRecursively();

    if (! child && ! options.list)
    {
        if (unselected > 0)
            std::cout << unselected << " checks not selected by --only\n";
        std::cout << "time: " << juce::String ((juce::Time::getMillisecondCounterHiRes() - start) / 1000.0, 1) << " s\n";
        std::cout << "velmora-validate: " << passed << " passed, " << failed << " failed" << std::endl;
    }
    return failed == 0 ? 0 : 1;
}

//==============================================================================
/** Runs the checks in child processes, one after another, restarting after a crash. */
class Supervisor
{
public:
    Supervisor (juce::StringArray forwardedArgs) : args (std::move (forwardedArgs)) {}

    int run()
    {
        const auto start = juce::Time::getMillisecondCounterHiRes();
        if (! listChecks())
            return 2;

        int next = 0;
        while (next < labels.size())
            next = runChild (next);

        const int unreported = labels.size() - passed - failed;
        if (unreported != 0)
        {
            std::cout << "FAIL  " << unreported << " checks gave no result" << std::endl;
            ++failed;
        }
        std::cout << "time: " << juce::String ((juce::Time::getMillisecondCounterHiRes() - start) / 1000.0, 1) << " s\n";
        // The closing line CI reads.
        std::cout << "velmora-validate: " << passed << " passed, " << failed << " failed" << std::endl;
        return failed == 0 && passed > 0 ? 0 : 1;
    }

private:
    juce::StringArray command (const juce::StringArray& extra) const
    {
        juce::StringArray c;
        c.add (juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFullPathName());
        c.add ("--in-process");
        c.addArray (extra);
        c.addArray (args);
        return c;
    }

    bool listChecks()
    {
        juce::ChildProcess child;
        if (! child.start (command ({ "--list" }), juce::ChildProcess::wantStdOut))
        {
            std::cout << "velmora-validate: cannot start itself\n";
            return false;
        }
        for (const auto& line : juce::StringArray::fromLines (child.readAllProcessOutput()))
            if (line.containsChar ('\t'))
                labels.add (line.fromFirstOccurrenceOf ("\t", false, false));
        if (child.getExitCode() != 0 || labels.isEmpty())
        {
            std::cout << "velmora-validate: no checks selected\n";
            return false;
        }
        return true;
    }

    /** Runs the checks from index first on; returns the index to go on from. */
    int runChild (int first)
    {
        juce::ChildProcess child;
        if (! child.start (command ({ "--child", "--from", juce::String (first) }),
                           juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        {
            std::cout << "FAIL  " << labels[first] << "  could not start a child process" << std::endl;
            ++failed;
            return first + 1;
        }

        // A check that hangs is killed after this long without a line of output.
        std::atomic<double> lastProgress { juce::Time::getMillisecondCounterHiRes() };
        std::atomic<bool> finished { false }, killed { false };
        std::thread watchdog ([&]
        {
            while (! finished)
            {
                std::this_thread::sleep_for (std::chrono::milliseconds (200));
                if (juce::Time::getMillisecondCounterHiRes() - lastProgress > hangSeconds * 1000.0 && ! finished)
                {
                    killed = true;
                    child.kill();
                    return;
                }
            }
        });

        int next = first;
        juce::String pending, crash;
        char buffer[4096];
        for (;;)
        {
            const int n = child.readProcessOutput (buffer, sizeof buffer);
            if (n <= 0)
                break;
            pending += juce::String::fromUTF8 (buffer, n);
            for (int end = pending.indexOfChar ('\n'); end >= 0; end = pending.indexOfChar ('\n'))
            {
                const auto line = pending.substring (0, end);
                pending = pending.substring (end + 1);
                lastProgress = juce::Time::getMillisecondCounterHiRes();
                if (line.startsWith ("CRASH "))
                {
                    crash = line;
                    continue;
                }
                if (line.startsWith ("PASS ") || line.startsWith ("FAIL "))
                {
                    (line.startsWith ("PASS ") ? passed : failed) += 1;
                    ++next;
                }
                if (line.isNotEmpty())
                    std::cout << line << std::endl;
            }
        }
        finished = true;
        watchdog.join();
        child.waitForProcessToFinish (10000);

        if (next >= labels.size())
            return next;

        // The child ended before reporting every check: the one it was running failed.
        juce::String reason;
        if (crash.isNotEmpty())
        {
            const auto tokens = juce::StringArray::fromTokens (crash.upToFirstOccurrenceOf ("|", false, false), " ", {});
            const auto input = crash.fromFirstOccurrenceOf ("|", false, false);
            reason = "crashed (signal " + tokens[1] + ")" + (input.isNotEmpty() ? ", trying " + input : juce::String());
        }
        else if (killed)
            reason = "no progress for " + juce::String (hangSeconds) + " s: killed";
        else
            reason = "the process ended (exit code " + juce::String ((int) child.getExitCode()) + ") without a result";
        std::cout << "FAIL  " << labels[next].paddedRight (' ', 36) << "  " << reason << std::endl;
        ++failed;
        return next + 1;
    }

    static constexpr int hangSeconds = 90;
    juce::StringArray args, labels;
    int passed = 0, failed = 0;
};
} // namespace

int main (int argc, char** argv)
{
    Validate::Options options;
    bool inProcess = false, child = false;
    juce::StringArray forwarded;
    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg (argv[i]);
        auto value = [&]() -> juce::String
        {
            if (i + 1 >= argc)
            {
                std::cerr << "velmora-validate: " << arg << " needs a value\n";
                std::exit (2);
            }
            return argv[++i];
        };

        if (arg == "--vst3") forwarded.add (arg), forwarded.add (options.location.vst3Bundle = value());
        else if (arg == "--lv2") forwarded.add (arg), forwarded.add (options.location.lv2Bundle = value());
        else if (arg == "--lv2-uri") forwarded.add (arg), forwarded.add (options.location.lv2Uri = value());
        else if (arg == "--only") forwarded.add (arg), forwarded.add (options.only = value());
        else if (arg == "--quick") forwarded.add (arg), options.quick = true;
        else if (arg == "--in-process") inProcess = true;
        // Between the supervisor and its children: --list names the checks, --child leaves out
        // the header and summary, --from skips the checks already reported.
        else if (arg == "--child") child = true;
        else if (arg == "--list") options.list = true;
        else if (arg == "--from") options.from = value().getIntValue();
        else if (arg == "--help" || arg == "-h") { printUsage(); return 0; }
        else
        {
            std::cerr << "velmora-validate: unknown argument " << arg << "\n";
            printUsage();
            return 2;
        }
    }

    if (! child && ! options.list)
        std::cout << "velmora-validate" << (options.quick ? " (quick)" : "") << "\n"
                  << "  VST3 " << options.location.vst3Bundle << "\n"
                  << "  LV2  " << options.location.lv2Bundle << " <" << options.location.lv2Uri << ">" << std::endl;

    if (inProcess)
        return runHere (options, child);
    return Supervisor (forwarded).run();
}
