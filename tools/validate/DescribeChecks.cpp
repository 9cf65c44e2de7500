// What each format tells a host about the plug-in, and whether the two tell the same story.
//
// JUCE's LV2 host knows less than its VST3 host: the Turtle files declare every parameter as
// a plain float with a minimum, maximum and default, so the LV2 side has no value texts (it
// prints the plain number), no units, no step counts, and lists parameters sorted by URI.
// The VST3 side has the product's texts and steps but no plain values: only normalised ones.
// What both can show is compared: names, IDs, and the plain value each format's normalised
// value stores in the product (read back from the product's document in a saved state).
#include "Battery.h"

#include <cmath>
#include <set>

namespace Validate
{
namespace
{
/** Sets every product parameter, lets one block carry the changes to the product, and reads
    the plain values it stored. */
std::map<juce::String, double> storedAfter (Format f, juce::AudioPluginInstance& instance,
                                            const std::function<float (const juce::String& id, juce::AudioProcessorParameter&)>& normalised)
{
    const Parameters params (instance);
    for (auto* p : params.all())
        p->setValue (normalised (params.idOf (*p), *p));
    juce::Random random (1);
    run (instance, random, 512, 512);
    return storedValues (f, instance);
}

bool near (double a, double b)
{
    return std::abs (a - b) <= 1e-4 * juce::jmax (1.0, std::abs (b));
}

/** The plain number JUCE's LV2 host prints for a normalised value. */
double lv2Plain (juce::AudioProcessorParameter& p, float normalised)
{
    return p.getText (normalised, 64).getDoubleValue();
}
} // namespace

void describeChecks (Battery& battery)
{
    for (const auto f : bothFormats)
        battery.check (f, "describe/load", [&]
        {
            const auto start = juce::Time::getMillisecondCounterHiRes();
            auto instance = battery.create (f);
            const auto ms = juce::Time::getMillisecondCounterHiRes() - start;
            const Parameters params (*instance);

            Findings findings;
            findings.expect (instance->getName() == "Velmora", "name is \"" + instance->getName() + "\"");
            findings.expect (instance->getTotalNumInputChannels() == 2 && instance->getTotalNumOutputChannels() == 2,
                             "channels " + juce::String (instance->getTotalNumInputChannels()) + " in, "
                                 + juce::String (instance->getTotalNumOutputChannels()) + " out");
            findings.expect (instance->getBypassParameter() != nullptr, "no bypass switch");
            return findings.outcome ("\"" + instance->getName() + "\", 20 parameters, stereo in and out, bypass switch; loaded in "
                                     + juce::String (juce::roundToInt (ms)) + " ms");
        });

    for (const auto f : bothFormats)
        battery.check (f, "describe/programs", [&]
        {
            auto instance = battery.create (f);
            const int n = instance->getNumPrograms();
            juce::StringArray names;
            Findings findings;
            for (int i = 0; i < n; ++i)
                names.add ("\"" + instance->getProgramName (i) + "\"");
            // The product lists the preset files as programs. The VST3 wrapper publishes them
            // from the instance's folders (two user presets are there for this run); JUCE's
            // LV2 host reads presets from the bundle's Turtle files only, and the bundle ships
            // none, so it has one nameless program.
            if (f == Format::vst3)
                findings.expect (names.contains ("\"First\"") && names.contains ("\"Second\""),
                                 "the user presets First and Second are not among the programs");
            else
                findings.expect (n == 1, "expected one program from a bundle without presets, got " + juce::String (n));
            // Hosts ask for indices out of range too: an empty name, not a crash.
            findings.expect (instance->getProgramName (-1).isEmpty() && instance->getProgramName (n + 5).isEmpty(),
                             "a name for an index out of range");
            return findings.outcome (juce::String (n) + " program" + (n == 1 ? ": " : "s: ") + names.joinIntoString (", "));
        });

    battery.check ("both", "describe/names-and-ids", [&]
    {
        auto vst3 = battery.create (Format::vst3);
        auto lv2 = battery.create (Format::lv2);
        const Parameters pv (*vst3), pl (*lv2);
        Findings findings;

        // The order a VST3 host shows (and sessions address by index) is the product's.
        for (size_t i = 0; i < std::size (parameterTable); ++i)
            findings.expect (pv.idOf (*pv.all()[i]) == parameterTable[i].id,
                             "VST3 index " + juce::String ((int) i) + " is " + pv.all()[i]->getName (100));

        std::set<juce::String> namesV, namesL;
        for (auto* p : pv.all())
            namesV.insert (p->getName (100));
        for (auto* p : pl.all())
            namesL.insert (p->getName (100));
        findings.expect (namesV == namesL && namesV.size() == std::size (parameterTable), "the formats list different names");

        for (const auto& info : parameterTable)
        {
            // VST3 numbers a parameter by the 31-bit hash the wrapper takes of the product's
            // string ID; LV2 names it by a URI that ends in that ID.
            const auto expectedVst3 = juce::String ((juce::uint32) juce::String (info.id).hashCode() & 0x7fffffffu);
            const auto idV = dynamic_cast<juce::AudioPluginInstance::HostedParameter&> (pv[info.id]).getParameterID();
            const auto idL = dynamic_cast<juce::AudioPluginInstance::HostedParameter&> (pl[info.id]).getParameterID();
            findings.expect (idV == expectedVst3, juce::String (info.id) + ": VST3 ID " + idV + ", expected " + expectedVst3);
            const auto tail = idL.fromLastOccurrenceOf (":", false, false).fromLastOccurrenceOf ("#", false, false);
            findings.expect (tail == info.id, juce::String (info.id) + ": LV2 ID " + idL);
        }
        return findings.outcome ("20 names alike; VST3 IDs are the hashes of the LV2 IDs' product names");
    });

    battery.check ("both", "describe/ranges-and-defaults", [&]
    {
        Findings findings;
        std::map<Format, std::map<juce::String, double>> fresh, low, high, declaredDefault;
        for (const auto f : bothFormats)
        {
            auto instance = battery.createPrepared (f);
            fresh[f] = storedValues (f, *instance);
            // Each format's own declared default must be what a fresh instance holds.
            declaredDefault[f] = storedAfter (f, *instance, [] (const juce::String&, auto& p) { return p.getDefaultValue(); });
            low[f] = storedAfter (f, *instance, [] (const juce::String&, auto&) { return 0.0f; });
            high[f] = storedAfter (f, *instance, [] (const juce::String&, auto&) { return 1.0f; });

            if (f == Format::lv2)
            {
                // The Turtle's own numbers, as JUCE's LV2 host prints them.
                const Parameters params (*instance);
                for (const auto& info : parameterTable)
                {
                    auto& p = params[info.id];
                    findings.expect (near (lv2Plain (p, 0.0f), info.start) && near (lv2Plain (p, 1.0f), info.end),
                                     juce::String ("LV2 declares ") + info.id + " " + p.getText (0.0f, 64) + ".." + p.getText (1.0f, 64));
                    findings.expect (near (lv2Plain (p, p.getDefaultValue()), fresh[f][info.id]),
                                     juce::String ("LV2 declares ") + info.id + " default " + p.getText (p.getDefaultValue(), 64)
                                         + ", a fresh instance holds " + formatValue (fresh[f][info.id]));
                }
            }
        }

        for (const auto& info : parameterTable)
        {
            const juce::String id (info.id);
            for (const auto f : bothFormats)
            {
                const juce::String where = juce::String (HostedPlugin::formatName (f)) + " " + id;
                findings.expect (near (low[f][id], info.start), where + " at 0 stores " + formatValue (low[f][id]) + ", expected " + formatValue (info.start));
                findings.expect (near (high[f][id], info.end), where + " at 1 stores " + formatValue (high[f][id]) + ", expected " + formatValue (info.end));
                findings.expect (near (declaredDefault[f][id], fresh[f][id]),
                                 where + " declared default stores " + formatValue (declaredDefault[f][id]) + ", fresh holds " + formatValue (fresh[f][id]));
            }
            findings.expect (near (fresh[Format::vst3][id], fresh[Format::lv2][id]),
                             id + " default: VST3 " + formatValue (fresh[Format::vst3][id]) + ", LV2 " + formatValue (fresh[Format::lv2][id]));
        }
        return findings.outcome ("plain ends and defaults agree between the formats, the Turtle and the product's stored values");
    });

    battery.check ("both", "describe/value-texts", [&]
    {
        Findings findings;
        auto vst3 = battery.createPrepared (Format::vst3);
        auto lv2 = battery.createPrepared (Format::lv2);
        const Parameters pv (*vst3), pl (*lv2);
        const float points[] = { 0.0f, 0.1f, 0.25f, 0.5f, 0.7f, 0.9f, 1.0f };
        juce::StringArray samples;

        for (const float t : points)
        {
            // The product's texts (VST3) read back to the value they describe.
            for (auto* p : pv.all())
            {
                const auto text = p->getText (t, 64);
                const auto again = p->getText (p->getValueForText (text), 64);
                findings.expect (text.isNotEmpty() && again == text,
                                 pv.idOf (*p) + " at " + formatValue (t) + ": \"" + text + "\" reads back as \"" + again + "\"");
            }
            samples.add (formatValue (t) + ": " + pv["EchoDelay"].getText (t, 64) + " ms");

            // The same plain value through either format stores the same in the product.
            const auto byVst3 = storedAfter (Format::vst3, *vst3, [t] (const juce::String&, auto&) { return t; });
            const auto byLv2 = storedAfter (Format::lv2, *lv2, [&] (const juce::String& id, auto&)
            {
                const auto& info = infoFor (id);
                return (float) ((byVst3.at (id) - info.start) / (info.end - info.start));
            });
            for (const auto& info : parameterTable)
            {
                const juce::String id (info.id);
                findings.expect (near (byLv2.at (id), byVst3.at (id)),
                                 id + " at " + formatValue (t) + ": VST3 stores " + formatValue (byVst3.at (id)) + ", LV2 " + formatValue (byLv2.at (id)));
                const auto printed = lv2Plain (pl[id], (float) ((byVst3.at (id) - info.start) / (info.end - info.start)));
                findings.expect (near (printed, byVst3.at (id)), id + ": LV2 host prints " + formatValue (printed) + " for " + formatValue (byVst3.at (id)));
            }
        }
        return findings.outcome (juce::String ((int) std::size (points)) + " points per parameter; Echo Delay " + samples.joinIntoString (", "));
    });
}
} // namespace Validate
