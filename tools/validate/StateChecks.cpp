// Host state: saved, restored in another instance, and damaged in every way a file or a
// transfer can damage it.
#include "Battery.h"

#include <cmath>

namespace Validate
{
namespace
{
void randomise (juce::AudioPluginInstance& instance, juce::Random& random)
{
    // Values a host would show back: Mode moves in whole steps (the only stepped parameter).
    const Parameters params (instance);
    for (auto* p : params.all())
        p->setValue (params.idOf (*p) == "Mode" ? (float) random.nextInt (16) / 15.0f : random.nextFloat());
}

/** One short block: the LV2 wrapper passes values between host and product only while it runs. */
void settle (juce::AudioPluginInstance& instance)
{
    juce::Random random (1);
    run (instance, random, 64, 64);
}

/** The bytes a format hands the plug-in, inside the container its host keeps them in:
      VST3: JUCE's host stores <VST3PluginState><IComponent>base64</IComponent>...; the
            decoded component stream is what the plug-in binary receives (the product's
            block, then the JUCE wrapper's private trailer).
      LV2:  a Turtle document whose StateString property holds the product's block in
            JUCE's base64 form; the host's Turtle parser reads it before the plug-in does. */
struct Container
{
    Format format;
    std::unique_ptr<juce::XmlElement> hostXml; // VST3
    juce::String before, after;                // LV2: the text around the base64 string
    juce::MemoryBlock inner;
};

std::unique_ptr<Container> openContainer (Format f, const juce::MemoryBlock& state)
{
    auto c = std::make_unique<Container>();
    c->format = f;
    if (f == Format::lv2)
    {
        const auto text = juce::String::fromUTF8 (static_cast<const char*> (state.getData()), (int) state.getSize());
        const juce::String key (":StateString> \"");
        const auto start = text.indexOf (key);
        const auto end = start < 0 ? -1 : text.indexOfChar (start + key.length(), '"');
        if (end < 0 || ! c->inner.fromBase64Encoding (text.substring (start + key.length(), end)))
            return nullptr;
        c->before = text.substring (0, start + key.length());
        c->after = text.substring (end);
        return c;
    }
    c->hostXml = juce::AudioProcessor::getXmlFromBinary (state.getData(), (int) state.getSize());
    auto* component = c->hostXml != nullptr ? c->hostXml->getChildByName ("IComponent") : nullptr;
    if (component == nullptr || ! c->inner.fromBase64Encoding (component->getAllSubText()))
        return nullptr;
    return c;
}

juce::MemoryBlock closeContainer (const Container& c, const juce::MemoryBlock& inner)
{
    juce::MemoryBlock result;
    if (c.format == Format::lv2)
    {
        const auto text = c.before + inner.toBase64Encoding() + c.after;
        result.append (text.toRawUTF8(), text.getNumBytesAsUTF8());
        return result;
    }
    juce::XmlElement xml (*c.hostXml);
    auto* component = xml.getChildByName ("IComponent");
    component->deleteAllChildElements();
    component->addTextElement (inner.toBase64Encoding());
    juce::AudioProcessor::copyXmlToBinary (xml, result);
    return result;
}

juce::String describeDifference (const std::map<juce::String, double>& a, const std::map<juce::String, double>& b)
{
    for (const auto& [id, value] : a)
        if (! (std::abs (value - b.at (id)) <= 1e-4 * juce::jmax (1.0, std::abs (value))))
            return id + " " + formatValue (value) + " against " + formatValue (b.at (id));
    return "no parameter differs";
}

Outcome roundTrip (Battery& battery, Format f)
{
    Findings findings;
    juce::Random random (41);
    const int rounds = battery.quick() ? 2 : 5;
    size_t bytes = 0;

    for (int round = 0; round < rounds; ++round)
    {
        auto a = battery.createPrepared (f);
        randomise (*a, random);
        settle (*a);
        const auto saved = saveState (*a);
        bytes = saved.getSize();
        findings.expect (saveState (*a) == saved, "round " + juce::String (round) + ": two saves in a row differ");

        auto b = battery.createPrepared (f);
        b->setStateInformation (saved.getData(), (int) saved.getSize());
        settle (*b);
        const auto again = saveState (*b);
        findings.expect (again == saved, "round " + juce::String (round) + ": a fresh instance saves " + juce::String ((int) again.getSize())
                                             + " bytes that differ from the " + juce::String ((int) saved.getSize()) + " it was given");

        const auto va = storedValues (f, *a), vb = storedValues (f, *b);
        findings.expect (va == vb, "round " + juce::String (round) + ": stored values differ: " + describeDifference (va, vb));

        // What the host shows: the same normalised values and texts.
        const Parameters pa (*a), pb (*b);
        for (const auto& info : parameterTable)
        {
            const float x = pa[info.id].getValue(), y = pb[info.id].getValue();
            findings.expect (std::abs (x - y) <= 1e-5f, "round " + juce::String (round) + ": " + info.id + " shows "
                                                            + formatValue (y) + ", the saved instance " + formatValue (x));
        }
    }
    return findings.outcome (juce::String (rounds) + " random settings: saved, loaded into a fresh instance, saved again: the same "
                             + juce::String ((int) bytes) + " bytes and values");
}

//==============================================================================
/** Feeds damaged states to an instance that holds another state, and to one that holds a
    fresh instance's. Each must either ignore the input or load it wholly: then neither
    previous state may show through, and both save the same bytes. */
class DamageTest
{
public:
    DamageTest (Battery& b, Format format) : battery (b), f (format)
    {
        juce::Random random (43);
        target = battery.createPrepared (f);
        randomise (*target, random);
        settle (*target);
        targetState = saveState (*target);

        reference = battery.createPrepared (f);
        referenceState = saveState (*reference);

        auto source = battery.createPrepared (f);
        randomise (*source, random);
        settle (*source);
        valid = saveState (*source);
        container = openContainer (f, valid);
    }

    const juce::MemoryBlock& validState() const noexcept { return valid; }

    /** What the plug-in binary receives of the valid state (see Container). */
    const juce::MemoryBlock& validInner() const
    {
        if (container == nullptr)
            throw Broken ("no plug-in data found in the saved state");
        return container->inner;
    }

    void tryInner (const juce::String& name, const juce::MemoryBlock& inner)
    {
        const auto state = closeContainer (*container, inner);
        tryInput (name, state.getData(), state.getSize());
    }

    void tryInput (const juce::String& name, const void* data, size_t size)
    {
        if (broken)
            return;
        step (name);
        ++tried;
        {
            const std::unique_ptr<QuietStderr> quiet (f == Format::lv2 ? new QuietStderr() : nullptr);
            target->setStateInformation (data, (int) size);
            reference->setStateInformation (data, (int) size);
        }
        settle (*target);
        settle (*reference);
        const auto t = saveState (*target), r = saveState (*reference);
        const bool ignoredByBoth = t == targetState && r == referenceState;

        if (ignoredByBoth)
            ++ignored;
        else if (t == r)
            ++loaded;
        else
        {
            findings.add (name + ": " + (t == targetState ? "ignored by one instance, not by the other"
                                                          : (r == referenceState ? "ignored by the fresh instance only"
                                                                                 : "loaded differently depending on the previous state")));
            if (evidence.isEmpty())
                evidence = describeMismatch (name, data, size, t, r);
        }

        if (! ignoredByBoth)
        {
            target->setStateInformation (targetState.getData(), (int) targetState.getSize());
            reference->setStateInformation (referenceState.getData(), (int) referenceState.getSize());
            settle (*target);
            settle (*reference);
            const auto t2 = saveState (*target), r2 = saveState (*reference);
            if (t2 != targetState || r2 != referenceState)
            {
                findings.add ("after " + name + ", restoring the instances' own saved states does not give them back");
                if (evidence.isEmpty())
                    evidence = describeMismatch ("restoring after " + name, t2 != targetState ? targetState.getData() : referenceState.getData(),
                                                 t2 != targetState ? targetState.getSize() : referenceState.getSize(), t2, r2);
                broken = true; // what follows would only repeat it
            }
        }
    }

    /** The damaged product document, and what the two instances kept of it. */
    juce::String describeMismatch (const juce::String& name, const void* data, size_t size,
                                   const juce::MemoryBlock& t, const juce::MemoryBlock& r) const
    {
        auto documentText = [this] (const juce::MemoryBlock& state)
        {
            const auto xml = productDocument (f, state);
            return xml != nullptr ? xml->toString (juce::XmlElement::TextFormat().withoutHeader().singleLine()) : juce::String ("(no document)");
        };
        juce::String text;
        text << name << ":\n";
        if (const auto damaged = openContainer (f, juce::MemoryBlock (data, size)))
            text << "  given:      " << juce::String::fromUTF8 (static_cast<const char*> (damaged->inner.getData()), (int) damaged->inner.getSize())
                                            .replaceCharacters (juce::String::charToString (0), " ").substring (0, 1500) << "\n";
        text << "  other state before, saves: " << documentText (t) << "\n";
        text << "  fresh before, saves:       " << documentText (r) << "\n";
        return text;
    }

    Outcome outcome (const juce::String& what)
    {
        // Damage must not have broken the audio either.
        juce::Random random (47);
        const auto scan = run (*target, random, 24000, 512);
        findings.expect (scan.clean() && scan.peak > 1e-3f, "afterwards " + scan.describe());
        auto result = findings.outcome (what + ": " + juce::String (ignored) + " ignored, " + juce::String (loaded) + " loaded whole, of "
                                        + juce::String (tried));
        result.evidence = evidence;
        return result;
    }

private:
    Battery& battery;
    Format f;
    std::unique_ptr<juce::AudioPluginInstance> target, reference;
    juce::MemoryBlock targetState, referenceState, valid;
    std::unique_ptr<Container> container;
    Findings findings;
    juce::String evidence;
    bool broken = false;
    int tried = 0, ignored = 0, loaded = 0;
};

// The damage goes into what the plug-in binary receives, inside an intact container: the
// containers' own parsers are the host's business. (JUCE's LV2 host parses the Turtle with
// its copy of lilv, which crashes on some truncated documents before the plug-in sees a
// byte: a host's fault, not the plug-in's.)
const char* innerName (Format f)
{
    return f == Format::vst3 ? "component stream" : "state string";
}

Outcome truncations (Battery& battery, Format f)
{
    DamageTest test (battery, f);
    const auto& valid = test.validInner();
    const int size = (int) valid.getSize();

    // Every length when that is affordable; otherwise a stride through the middle, with
    // every length near both ends, where the blocks keep their headers and trailers.
    const int budget = battery.quick() ? 300 : 1200;
    const int stride = juce::jmax (1, size / budget);
    juce::SortedSet<int> lengths;
    for (int n = 0; n < size; n += stride)
        lengths.add (n);
    for (int n = 0; n < juce::jmin (64, size); ++n)
    {
        lengths.add (n);
        lengths.add (size - 1 - n);
    }
    for (const int n : lengths)
        test.tryInner ("the " + juce::String (innerName (f)) + " cut to " + juce::String (n) + " of " + juce::String (size) + " bytes",
                       juce::MemoryBlock (valid.getData(), (size_t) n));

    const juce::String what = juce::String (innerName (f)) + " of " + juce::String (size) + " bytes";
    return test.outcome (stride == 1 ? "every truncation of the " + what
                                     : juce::String (lengths.size()) + " truncations of the " + what + " (every " + juce::String (stride)
                                           + "th length, and every length within 64 of either end)");
}

Outcome bitFlips (Battery& battery, Format f)
{
    DamageTest test (battery, f);
    const auto& valid = test.validInner();

    // The VST3 component stream is the product's block followed by JUCE's private data. JUCE's
    // wrapper trusts the 8-byte size inside that trailer and reads past the end of the data when
    // a flip makes it larger (a crash in the wrapper before any product code runs; it cannot be
    // mended without patching JUCE). Truncations still cover the trailer; flips stay inside the
    // product's block: magic, length, text and terminating zero.
    auto flippable = (int) valid.getSize();
    if (f == Format::vst3 && valid.getSize() > 8 && juce::ByteOrder::littleEndianInt (valid.getData()) == 0x21324356)
        flippable = juce::jmin (flippable, 9 + (int) juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (valid.getData(), 4)));

    const int bits = 8 * flippable;
    const int budget = battery.quick() ? 300 : 1200;
    const int count = juce::jmin (bits, budget);

    // Evenly spread over the bytes; the bit within the byte turns with each flip.
    for (int k = 0; k < count; ++k)
    {
        const int byte = (int) ((juce::int64) k * (bits / 8) / count);
        const int bit = k % 8;
        juce::MemoryBlock damaged (valid);
        static_cast<juce::uint8*> (damaged.getData())[byte] ^= (juce::uint8) (1u << bit);
        test.tryInner ("bit " + juce::String (bit) + " of byte " + juce::String (byte) + " of the " + innerName (f) + " flipped", damaged);
    }
    const juce::String what = juce::String (innerName (f)) + " of " + juce::String ((int) valid.getSize()) + " bytes"
                              + (flippable < (int) valid.getSize() ? " (the product's first " + juce::String (flippable) + " bytes)" : juce::String());
    return test.outcome (count == bits ? "every single-bit flip of the " + what
                                       : juce::String (count) + " single-bit flips spread evenly over the " + what + " (of "
                                             + juce::String (bits) + " possible)");
}

Outcome garbage (Battery& battery, Format f)
{
    DamageTest test (battery, f);
    juce::Random random (53);
    juce::MemoryBlock noise (3 * 1024 * 1024);
    random.fillBitsRandomly (noise.getData(), noise.getSize());

    test.tryInput ("an empty state (null)", nullptr, 0);
    test.tryInput ("an empty state", "", 0);
    test.tryInput ("3 MB of random bytes", noise.getData(), noise.getSize());
    // The valid state with 3 MB of noise after it, and in front of it.
    juce::MemoryBlock appended (test.validState());
    appended.append (noise.getData(), noise.getSize());
    test.tryInput ("a valid state followed by 3 MB of noise", appended.getData(), appended.getSize());
    juce::MemoryBlock prefixed (noise);
    prefixed.append (test.validState().getData(), test.validState().getSize());
    test.tryInput ("3 MB of noise, then a valid state", prefixed.getData(), prefixed.getSize());
    // And the host's whole saved state, cut in half.
    test.tryInput ("the host state cut in half", test.validState().getData(), test.validState().getSize() / 2);
    return test.outcome ("empty, 3 MB of noise, noise around a valid state, half a state (as the host passes them)");
}
} // namespace

void stateChecks (Battery& battery)
{
    for (const auto f : bothFormats)
    {
        battery.check (f, "state/round-trip", [&] { return roundTrip (battery, f); });
        battery.check (f, "state/truncations", [&] { return truncations (battery, f); });
        battery.check (f, "state/bit-flips", [&] { return bitFlips (battery, f); });
        battery.check (f, "state/garbage", [&] { return garbage (battery, f); });
    }
}
} // namespace Validate
