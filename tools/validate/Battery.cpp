#include "Battery.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <thread>
#include <unistd.h>

namespace juce
{
// JUCE's own loop step (juce_linux_Messaging.cpp); the modal-loop helpers that would wrap it
// are compiled out of this build.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce

namespace Validate
{
// Plain ranges as the product declares them; the describe checks hold both formats to them.
const ParameterInfo parameterTable[20] = {
    { "Mode", 0, 15 },          { "RetroRate", 0, 100 },   { "RetroDepth", 0, 100 },  { "RetroWidth", 0, 100 },
    { "MultiRate", 0, 100 },    { "MultiDepth", 0, 100 },  { "MultiWidth", 0, 100 },  { "DetuneRate", 0, 100 },
    { "DetuneDepth", 0, 100 },  { "DetuneWidth", 0, 100 }, { "RandRate", 0, 100 },    { "RandDepth", 0, 100 },
    { "RandWidth", 0, 100 },    { "EchoFeedback", 0, 100 },{ "EchoDelay", 0, 100 },   { "EchoEnable", 0, 1 },
    { "OutputGain", -12, 12 },  { "Hipass", 20, 20000 },   { "Lowpass", 20, 20000 },  { "Mix", 0, 100 },
};

const ParameterInfo& infoFor (const juce::String& id)
{
    for (const auto& info : parameterTable)
        if (id == info.id)
            return info;
    throw Broken ("no parameter " + id.toStdString());
}

//==============================================================================
Outcome Findings::outcome (const juce::String& summary) const
{
    if (reasons.isEmpty())
        return Outcome::pass (summary);
    // The first few reasons carry the numbers; a count says how many more there were.
    juce::StringArray shown;
    for (int i = 0; i < juce::jmin (4, reasons.size()); ++i)
        shown.add (reasons[i]);
    auto text = shown.joinIntoString ("; ");
    if (reasons.size() > shown.size())
        text << "; and " << (reasons.size() - shown.size()) << " more";
    return Outcome::fail (text);
}

//==============================================================================
Battery::Battery (const Options& o) : opts (o) {}

Battery::~Battery() = default;

bool Battery::selected (const juce::String& formatLabel, const juce::String& name) const
{
    if (opts.only.isEmpty())
        return true;
    const auto full = formatLabel + " " + name;
    for (const auto& pattern : juce::StringArray::fromTokens (opts.only, ",", {}))
    {
        if (pattern.containsAnyOf ("*?") ? full.matchesWildcard (pattern, true) || name.matchesWildcard (pattern, true)
                                         : full.containsIgnoreCase (pattern))
            return true;
    }
    return false;
}

namespace
{
// What a crash report can name: the check that was running, and the input it was trying.
char runningCheck[160] = "(between checks)";
char runningStep[200] = "";
int runningIndex = -1;
} // namespace

const char* currentCheckName() { return runningCheck; }
const char* currentStep() { return runningStep; }
int currentCheckIndex() { return runningIndex; }

juce::String checkLabel (const juce::String& formatLabel, const juce::String& name)
{
    return formatLabel.paddedRight (' ', 5) + name;
}

void step (const juce::String& description)
{
    std::snprintf (runningStep, sizeof runningStep, "%s", description.toRawUTF8());
}

void Battery::check (const juce::String& formatLabel, const juce::String& name, const std::function<Outcome()>& body)
{
    if (! selected (formatLabel, name))
    {
        ++numUnselected;
        return;
    }

    const int index = nextIndex++;
    const auto label = checkLabel (formatLabel, name);
    if (opts.list)
    {
        std::cout << index << "\t" << label << std::endl;
        return;
    }
    if (index < opts.from)
        return;

    std::snprintf (runningCheck, sizeof runningCheck, "%s", label.toRawUTF8());
    runningStep[0] = '\0';
    runningIndex = index;

    Outcome outcome;
    const auto start = juce::Time::getMillisecondCounterHiRes();
    try
    {
        outcome = body();
    }
    catch (const std::exception& e)
    {
        outcome = Outcome::fail (juce::String ("could not run: ") + e.what());
    }
    const auto seconds = (juce::Time::getMillisecondCounterHiRes() - start) / 1000.0;

    (outcome.ok ? numPassed : numFailed) += 1;
    auto line = juce::String (outcome.ok ? "PASS  " : "FAIL  ") + label.paddedRight (' ', 36);
    if (outcome.detail.isNotEmpty())
        line << "  " << outcome.detail;
    if (seconds >= 1.0)
        line << "  [" << juce::String (seconds, 1) << " s]";
    std::cout << line << std::endl;
    for (const auto& evidenceLine : juce::StringArray::fromLines (outcome.evidence.trimEnd()))
        std::cout << "    " << evidenceLine << "\n";
    std::cout << std::flush;
    std::snprintf (runningCheck, sizeof runningCheck, "(between checks, after %s)", label.toRawUTF8());
    runningIndex = -1;
}

std::unique_ptr<juce::AudioPluginInstance> Battery::create (Format f, double sampleRate, int maxBlock)
{
    auto& scanner = scanners[f];
    if (scanner == nullptr)
        scanner = std::make_unique<HostedPlugin::Scanner> (f, opts.location);

    juce::String error;
    auto instance = scanner->create (sampleRate, maxBlock, error);
    if (instance == nullptr)
        throw Broken (juce::String (HostedPlugin::formatName (f)) .toStdString() + " instance not created: " + error.toStdString());
    return instance;
}

std::unique_ptr<juce::AudioPluginInstance> Battery::createPrepared (Format f, double sampleRate, int maxBlock)
{
    auto instance = create (f, sampleRate, maxBlock);
    instance->prepareToPlay (sampleRate, maxBlock);
    return instance;
}

//==============================================================================
Parameters::Parameters (juce::AudioPluginInstance& instance)
    : list (HostedPlugin::productParameters (instance))
{
    if (list.size() != std::size (parameterTable))
        throw Broken ("expected 20 product parameters, the host lists " + std::to_string (list.size()));
    for (const auto& info : parameterTable)
        (void) operator[] (info.id);
}

juce::AudioProcessorParameter& Parameters::operator[] (const juce::String& id) const
{
    for (auto* p : list)
        if (p->getName (100).removeCharacters (" ") == id)
            return *p;
    throw Broken ("the host lists no parameter " + id.toStdString());
}

juce::String Parameters::idOf (const juce::AudioProcessorParameter& p) const
{
    return p.getName (100).removeCharacters (" ");
}

void Parameters::setPlain (const juce::String& id, float plain) const
{
    const auto& info = infoFor (id);
    jassert (id != "Hipass" && id != "Lowpass");
    (*this)[id].setValue ((plain - info.start) / (info.end - info.start));
}

//==============================================================================
void fillNoise (juce::AudioBuffer<float>& buffer, juce::Random& random, float level, int start, int num)
{
    if (num < 0)
        num = buffer.getNumSamples() - start;
    for (int c = 0; c < buffer.getNumChannels(); ++c)
    {
        auto* data = buffer.getWritePointer (c, start);
        for (int i = 0; i < num; ++i)
            data[i] = level * (2.0f * random.nextFloat() - 1.0f);
    }
}

void Scan::add (const juce::AudioBuffer<float>& buffer, int start, int num)
{
    if (num < 0)
        num = buffer.getNumSamples() - start;
    for (int c = 0; c < buffer.getNumChannels(); ++c)
    {
        const auto* data = buffer.getReadPointer (c, start);
        for (int i = 0; i < num; ++i)
        {
            const float x = data[i];
            switch (std::fpclassify (x))
            {
                case FP_NAN:
                case FP_INFINITE:
                    ++nonFinite;
                    lastNonFinite = juce::jmax (lastNonFinite, samples + i);
                    break;
                case FP_SUBNORMAL:
                    ++subnormals;
                    break;
                default:
                    peak = juce::jmax (peak, std::abs (x));
            }
        }
    }
    samples += num;
}

juce::String Scan::describe() const
{
    juce::String text;
    if (nonFinite > 0)
        text << nonFinite << " non-finite samples (last at " << lastNonFinite << ")";
    if (subnormals > 0)
        text << (text.isEmpty() ? "" : ", ") << subnormals << " subnormal samples";
    return text.isEmpty() ? juce::String ("clean, peak " + formatValue (peak)) : text;
}

float maxDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b, int channels)
{
    if (channels < 0)
        channels = juce::jmin (a.getNumChannels(), b.getNumChannels());
    float worst = 0.0f;
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < juce::jmin (a.getNumSamples(), b.getNumSamples()); ++i)
        {
            const float d = std::abs (a.getSample (c, i) - b.getSample (c, i));
            worst = std::isnan (d) ? INFINITY : juce::jmax (worst, d);
        }
    return worst;
}

void processRange (juce::AudioPluginInstance& instance, juce::AudioBuffer<float>& buffer, int start, int num, bool bypassed)
{
    // A view of the host's larger buffer, as a host hands out the part of a period it renders.
    juce::AudioBuffer<float> view (buffer.getArrayOfWritePointers(), buffer.getNumChannels(), start, num);
    juce::MidiBuffer midi;
    if (bypassed)
        instance.processBlockBypassed (view, midi);
    else
        instance.processBlock (view, midi);
}

void processInBlocks (juce::AudioPluginInstance& instance, juce::AudioBuffer<float>& buffer, int blockSize)
{
    for (int start = 0; start < buffer.getNumSamples(); start += blockSize)
        processRange (instance, buffer, start, juce::jmin (blockSize, buffer.getNumSamples() - start));
}

Scan run (juce::AudioPluginInstance& instance, juce::Random& random, int numSamples, int blockSize, bool silent)
{
    juce::AudioBuffer<float> io (juce::jmax (2, instance.getTotalNumOutputChannels()), blockSize);
    Scan scan;
    for (int done = 0; done < numSamples; done += blockSize)
    {
        const int n = juce::jmin (blockSize, numSamples - done);
        if (silent)
            io.clear();
        else
            fillNoise (io, random, 0.25f, 0, n);
        processRange (instance, io, 0, n);
        scan.add (io, 0, n);
    }
    return scan;
}

void pumpMessages (int ms)
{
    const auto end = juce::Time::getMillisecondCounterHiRes() + ms;
    while (juce::Time::getMillisecondCounterHiRes() < end)
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
}

void runPumping (const std::function<void()>& work)
{
    std::atomic<bool> done { false };
    std::exception_ptr failure;
    std::thread worker ([&]
    {
        try
        {
            work();
        }
        catch (...)
        {
            failure = std::current_exception();
        }
        done = true;
    });
    while (! done)
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
    worker.join();
    if (failure)
        std::rethrow_exception (failure);
}

QuietStderr::QuietStderr()
{
    std::fflush (stderr);
    saved = dup (2);
    const int null = ::open ("/dev/null", O_WRONLY);
    if (null >= 0)
    {
        dup2 (null, 2);
        ::close (null);
    }
}

QuietStderr::~QuietStderr()
{
    std::fflush (stderr);
    if (saved >= 0)
    {
        dup2 (saved, 2);
        ::close (saved);
    }
}

//==============================================================================
std::unique_ptr<juce::XmlElement> productDocument (Format format, const juce::MemoryBlock& state)
{
    juce::MemoryBlock inner;

    if (format == Format::lv2)
    {
        // A Turtle document; the product's block is one base64 string property.
        const auto text = juce::String::fromUTF8 (static_cast<const char*> (state.getData()), (int) state.getSize());
        const juce::String key (":StateString> \"");
        const auto start = text.indexOf (key);
        const auto end = start < 0 ? -1 : text.indexOfChar (start + key.length(), '"');
        if (end < 0 || ! inner.fromBase64Encoding (text.substring (start + key.length(), end)))
            return nullptr;
    }
    else
    {
        // JUCE's host keeps the component stream as base64 inside its own XML; the product's
        // block starts with copyXmlToBinary's magic number somewhere in that stream.
        const auto xml = juce::AudioProcessor::getXmlFromBinary (state.getData(), (int) state.getSize());
        auto* component = xml != nullptr ? xml->getChildByName ("IComponent") : nullptr;
        if (component == nullptr || ! inner.fromBase64Encoding (component->getAllSubText()))
            return nullptr;
    }

    const juce::uint32 magic = juce::ByteOrder::swapIfBigEndian ((juce::uint32) 0x21324356);
    const auto* bytes = static_cast<const char*> (inner.getData());
    for (size_t i = 0; i + 8 <= inner.getSize(); ++i)
        if (std::memcmp (bytes + i, &magic, 4) == 0)
            return juce::AudioProcessor::getXmlFromBinary (bytes + i, (int) (inner.getSize() - i));
    return nullptr;
}

juce::MemoryBlock saveState (juce::AudioPluginInstance& instance)
{
    juce::MemoryBlock state;
    instance.getStateInformation (state);
    return state;
}

std::map<juce::String, double> storedValues (Format format, juce::AudioPluginInstance& instance)
{
    const auto document = productDocument (format, saveState (instance));
    auto* params = document != nullptr ? document->getChildByName ("PARAMS") : nullptr;
    if (params == nullptr)
        throw Broken ("no product document with PARAMS in the saved state");
    std::map<juce::String, double> values;
    for (const auto& info : parameterTable)
    {
        // A value the product wrote as text: "nan" or "inf" must show up as such.
        const auto text = params->getStringAttribute (info.id);
        auto chars = text.getCharPointer();
        values[info.id] = text.isEmpty() ? std::nan ("") : juce::CharacterFunctions::readDoubleValue (chars);
        if (text.containsIgnoreCase ("nan"))
            values[info.id] = std::nan ("");
        else if (text.containsIgnoreCase ("inf"))
            values[info.id] = text.startsWithChar ('-') ? -INFINITY : INFINITY;
    }
    return values;
}

juce::String formatValue (double v)
{
    if (! std::isfinite (v))
        return std::isnan (v) ? "nan" : (v > 0 ? "inf" : "-inf");
    if (v != 0.0 && (std::abs (v) < 1e-3 || std::abs (v) >= 1e6))
    {
        char text[32];
        std::snprintf (text, sizeof text, "%.3g", v);
        return text;
    }
    return juce::String (v, 4).trimCharactersAtEnd ("0").trimCharactersAtEnd (".");
}
} // namespace Validate
