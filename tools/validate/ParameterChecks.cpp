// What hosts send besides audio: parameter values outside 0..1, texts typed by users, and
// transport positions from play heads good and bad.
#include "Battery.h"

#include <cmath>
#include <limits>

namespace Validate
{
namespace
{
/** Every stored value finite and inside its plain range; the reasons otherwise. */
void expectValidStore (Findings& findings, Format f, juce::AudioPluginInstance& instance, const juce::String& after)
{
    for (const auto& [id, value] : storedValues (f, instance))
    {
        const auto& info = infoFor (id);
        findings.expect (std::isfinite (value) && value >= info.start && value <= info.end,
                         "after " + after + ", " + id + " stores " + formatValue (value));
    }
}

Outcome outOfRangeValues (Battery& battery, Format f)
{
    const float values[] = { -1.0f, -1e-3f, 1.001f, 2.0f, 1e9f, -1e9f, std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN() };
    auto instance = battery.createPrepared (f);
    const Parameters params (*instance);
    juce::Random random (29);
    Findings findings;

    for (const float v : values)
        for (auto* p : params.all())
        {
            const auto what = params.idOf (*p) + " = " + formatValue (v);
            step ("setValue (" + formatValue (v) + ") on " + params.idOf (*p));
            p->setValue (v);
            const auto scan = run (*instance, random, 1024, 512);
            findings.expect (scan.clean(), what + ": " + scan.describe());
            expectValidStore (findings, f, *instance, what);
            // Texts for such values come from the product on VST3: they must not crash.
            (void) p->getText (v, 64);
            p->setValue (p->getDefaultValue());
        }

    // Everything at once, then back: the chain still works.
    for (auto* p : params.all())
        p->setValue (std::numeric_limits<float>::quiet_NaN());
    run (*instance, random, 1024, 512);
    for (auto* p : params.all())
        p->setValue (p->getDefaultValue());
    const auto scan = run (*instance, random, 24000, 512);
    findings.expect (scan.clean() && scan.peak > 1e-3f, "all NaN, then defaults: " + scan.describe());
    return findings.outcome (juce::String ((int) std::size (values)) + " bad values x 20 parameters: output finite, stored values in range");
}

Outcome texts (Battery& battery, Format f)
{
    const juce::String texts[] = {
        "", "abc", "1e999", "-1e999", "1e-999", "-nan", "nan", "inf", "-inf", "0x1p3", "  42  ", "12abc",
        "Enabled", "Detune", "\xc3\xa9\xe2\x82\xac", juce::String::repeatedString ("9", 4096), juce::String::repeatedString ("x", 4096),
        juce::String::repeatedString ("-", 4096),
    };
    auto instance = battery.createPrepared (f);
    const Parameters params (*instance);
    juce::Random random (31);
    Findings findings;
    juce::StringArray hostParsed;

    for (const auto& text : texts)
    {
        const auto shown = text.length() > 12 ? text.substring (0, 6) + "... (" + juce::String (text.length()) + " chars)" : "\"" + text + "\"";
        for (auto* p : params.all())
        {
            const float v = p->getValueForText (text);
            const bool valid = std::isfinite (v) && v >= 0.0f && v <= 1.0f;
            // VST3 asks the product to read the text; JUCE's LV2 host reads it itself (a plain
            // number, no product code involved), so only a VST3 answer is the product's.
            if (f == Format::vst3)
                findings.expect (valid, params.idOf (*p) + " reads " + shown + " as " + formatValue (v));
            else if (! valid)
                hostParsed.addIfNotAlreadyThere (shown + " -> " + formatValue (v));
            p->setValue (v);
        }
        const auto scan = run (*instance, random, 1024, 512);
        findings.expect (scan.clean(), "after " + shown + ": " + scan.describe());
        expectValidStore (findings, f, *instance, "reading " + shown);
    }

    auto summary = juce::String ((int) std::size (texts)) + " texts x 20 parameters: values in 0..1, stored values in range, output finite";
    if (hostParsed.size() > 0)
        summary << "; JUCE's LV2 host itself reads " << hostParsed.joinIntoString (", ") << " (set anyway)";
    return findings.outcome (summary);
}

//==============================================================================
/** A play head whose position the test sets before every block. */
class ScriptedPlayHead : public juce::AudioPlayHead
{
public:
    juce::Optional<PositionInfo> getPosition() const override { return position; }
    juce::Optional<PositionInfo> position;
};

struct Transport
{
    const char* name;
    // block index, block size -> where the host says it is (nullopt: it cannot say)
    std::function<juce::Optional<juce::AudioPlayHead::PositionInfo> (int, int)> at;
    bool noPlayHead = false;
};

juce::AudioPlayHead::PositionInfo playing (double bpm, juce::int64 samples, double rate = 48000.0)
{
    juce::AudioPlayHead::PositionInfo info;
    info.setIsPlaying (true);
    info.setBpm (bpm);
    info.setTimeInSamples (samples);
    info.setTimeInSeconds ((double) samples / rate);
    info.setPpqPosition ((double) samples / rate * bpm / 60.0);
    info.setTimeSignature (juce::AudioPlayHead::TimeSignature { 4, 4 });
    return info;
}

Outcome playHead (Battery& battery, Format f, const Transport& transport)
{
    auto instance = battery.createPrepared (f);
    const Parameters params (*instance);
    params.setPlain ("EchoFeedback", 60);
    params.setPlain ("EchoDelay", 20);

    ScriptedPlayHead head;
    instance->setPlayHead (transport.noPlayHead ? nullptr : &head);

    juce::Random random (37);
    juce::AudioBuffer<float> io (2, 512);
    Scan scan, late;
    for (int b = 0; b < 100; ++b)
    {
        head.position = transport.at (b, 512);
        fillNoise (io, random);
        processRange (*instance, io, 0, 512);
        scan.add (io);
        if (b >= 50)
            late.add (io);
    }
    instance->setPlayHead (nullptr);

    Findings findings;
    findings.expect (scan.clean(), scan.describe());
    findings.expect (late.peak > 1e-2f, "nearly silent: peak " + formatValue (late.peak));
    return findings.outcome ("100 blocks, " + scan.describe());
}
} // namespace

void parameterChecks (Battery& battery)
{
    for (const auto f : bothFormats)
    {
        battery.check (f, "params/out-of-range", [&] { return outOfRangeValues (battery, f); });
        battery.check (f, "params/texts", [&] { return texts (battery, f); });
    }

    using Info = juce::AudioPlayHead::PositionInfo;
    using Position = juce::Optional<Info>;
    const auto nan = std::numeric_limits<double>::quiet_NaN();
    const auto maxTime = std::numeric_limits<juce::int64>::max();
    const Transport transports[] = {
        { "none", [] (int, int) { return Position(); }, true },
        { "unknown-position", [] (int, int) { return Position(); } },
        { "stopped", [] (int, int) { Info i; i.setBpm (120.0); i.setTimeInSamples (0); return Position (i); } },
        { "tempo-0", [] (int b, int n) { return Position (playing (0.0, (juce::int64) b * n)); } },
        { "tempo-negative", [] (int b, int n) { return Position (playing (-120.0, (juce::int64) b * n)); } },
        { "tempo-nan", [=] (int b, int n) { return Position (playing (nan, (juce::int64) b * n)); } },
        { "tempo-huge", [] (int b, int n) { return Position (playing (1e300, (juce::int64) b * n)); } },
        { "tempo-every-block", [] (int b, int n) { return Position (playing (20.0 + (b * 37) % 280, (juce::int64) b * n)); } },
        { "times-huge", [=] (int b, int n) { return Position (playing (120.0, maxTime - 1000000 + (juce::int64) b * n)); } },
        { "times-negative", [] (int b, int n) { return Position (playing (120.0, -100000000 + (juce::int64) b * n)); } },
        { "times-extremes", [=] (int b, int) { return Position (playing (120.0, b % 2 == 0 ? maxTime : std::numeric_limits<juce::int64>::min())); } },
        { "jumps", [] (int b, int n) { return Position (playing (120.0, (b % 3 == 0 ? 10 : (b % 3 == 1 ? 1000000 : 0)) * (juce::int64) n + b)); } },
        { "looping", [] (int b, int n)
          {
              auto info = playing (120.0, (juce::int64) (b % 8) * n);
              info.setIsLooping (true);
              info.setLoopPoints (juce::AudioPlayHead::LoopPoints { 0.0, 8.0 * n / 48000.0 * 2.0 });
              return Position (info);
          } },
        { "start-stop", [] (int b, int n)
          {
              auto info = playing (120.0, (juce::int64) b * n);
              info.setIsPlaying (b % 4 < 2);
              return Position (info);
          } },
    };
    for (const auto f : bothFormats)
        for (const auto& t : transports)
            battery.check (f, juce::String ("playhead/") + t.name, [&] { return playHead (battery, f, t); });
}
} // namespace Validate
