// Hostile input through every door state comes in by: the host's state blob, preset files
// and pasted text. Whatever arrives, the instance ends up either untouched or in a sane state
// that saves and restores to the same bytes. Nothing crashes or hangs, nothing on disk changes
// and no file outside the preset folders finds its way into the state.
#include "StateTestSupport.h"

#include <cmath>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace
{
using Bytes = std::string;

// Both live outside every preset folder; neither may ever reach an instance.
constexpr const char* secretMarker = "HOSTILE-SECRET-5c1e";
constexpr float secretMix = 13.25f;

enum class Outcome { refused, accepted, skipped };

/** Paths a case may point at, inside the test's own folder root. */
struct Places
{
    juce::File secretText;   // plain text holding the marker
    juce::File secretPreset; // a valid preset just above the user presets folder
};

struct HostileCase
{
    const char* name;
    std::function<Bytes (const Places&)> make;
    Outcome hostState, presetFile, clipboard;
};

void PrintTo (const HostileCase& c, std::ostream* os) { *os << c.name; }

Bytes fixture (const char* name)
{
    juce::MemoryBlock block;
    const auto file = juce::File (VELMORA_TEST_FIXTURES "/hostile").getChildFile (name);
    if (! file.loadFileAsData (block))
        ADD_FAILURE() << "missing fixture " << name;
    return { static_cast<const char*> (block.getData()), block.getSize() };
}

Bytes replaced (Bytes text, const Bytes& token, const Bytes& value)
{
    for (auto at = text.find (token); at != Bytes::npos; at = text.find (token, at + value.size()))
        text.replace (at, token.size(), value);
    return text;
}

Bytes repeated (const Bytes& piece, size_t count)
{
    Bytes out;
    out.reserve (piece.size() * count);
    for (size_t i = 0; i < count; ++i)
        out += piece;
    return out;
}

/** The valid document padded with a comment up to the given size. */
Bytes paddedTo (size_t size)
{
    const Bytes head = "<Velmora company=\"Quarno\"><PARAMS Mode=\"2\" Mix=\"70\"/><!--", tail = "--></Velmora>";
    return head + Bytes (size - head.size() - tail.size(), 'x') + tail;
}

/** A well-formed document with elements nested levels deep below its root. */
Bytes nested (size_t levels)
{
    return "<Velmora><PARAMS Mix=\"70\"/>" + repeated ("<a>", levels) + repeated ("</a>", levels) + "</Velmora>";
}

auto fromFixture (const char* name)
{
    return [name] (const Places&) { return fixture (name); };
}

auto withValue (const Bytes& value)
{
    return [value] (const Places&) { return replaced (fixture ("odd-value.xml"), "@VALUE@", value); };
}

auto reference (const Bytes& root, const Bytes& path)
{
    return [root, path] (const Places&)
    { return replaced (replaced (fixture ("preset-reference.xml"), "@ROOT@", root), "@PATH@", path); };
}

auto legacyReference (const Bytes& path)
{
    return [path] (const Places&) { return replaced (fixture ("legacy-reference.xml"), "@PATH@", path); };
}

constexpr auto R = Outcome::refused, A = Outcome::accepted, S = Outcome::skipped;

std::vector<HostileCase> corpus()
{
    // About three times what runs the 8 MB main stack out; a host's thread has less.
    const Bytes deepLevels = repeated ("<a>", 100000);
    const Bytes valid = "<Velmora><PARAMS Mix=\"70\"/>";

    // Expected outcome through the host state, a preset file, pasted text.
    return {
        { "Empty", fromFixture ("empty.xml"), R, R, R },
        { "Whitespace", fromFixture ("whitespace.xml"), R, R, R },
        { "NotXml", fromFixture ("not-xml.txt"), R, R, R },
        { "TruncatedInATag", fromFixture ("truncated.xml"), R, R, R },
        // Pasted text is not checked for its root tag; its PARAMS element applies.
        { "ForeignRootTag", fromFixture ("foreign-root.xml"), R, R, A },
        { "MissingAttributes", fromFixture ("missing-attributes.xml"), A, A, A },
        { "ValueLetters", withValue ("abc"), A, A, A },
        { "ValueEmpty", withValue (""), A, A, A },
        { "ValueMinusNan", withValue ("-nan"), A, A, A },
        { "ValueNan", withValue ("nan"), A, A, A },
        { "ValueHuge", withValue ("1e999"), A, A, A },
        { "ValueMinusHuge", withValue ("-1e999"), A, A, A },
        // JUCE's number reader overflows an int on exponents this long (found by fuzzing).
        { "ValueLongExponent", withValue ("1e99111111111"), A, A, A },
        { "ValueLongNegativeExponent", withValue ("-7e-99111111111"), A, A, A },
        { "Value4kB", withValue (Bytes (4096, '7')), A, A, A },
        { "BillionLaughs", fromFixture ("billion-laughs.xml"), R, R, R },
        { "ExternalEntity", [] (const Places& p)
          { return replaced (fixture ("external-entity.xml"), "@SECRET@", p.secretText.getFullPathName().toStdString()); },
          R, R, R },
        { "Nesting60", [] (const Places&) { return nested (60); }, A, A, A },
        { "Nesting100", [] (const Places&) { return nested (100); }, R, R, R },
        { "Nesting100000", [] (const Places&) { return nested (100000); }, R, R, R },
        { "FiveMegabytes", [] (const Places&) { return paddedTo (5 * 1024 * 1024); }, R, R, R },
        { "ThreeMegabytes", [] (const Places&) { return paddedTo (3 * 1024 * 1024); }, A, A, A },
        { "ReferenceClimbsOut", reference ("USER", "../../../../etc/passwd"), A, A, A },
        { "ReferenceAbsolute", reference ("USER", "/etc/passwd"), A, A, A },
        { "ReferenceToPresetAboveTheFolder", reference ("USER", "../secret.qopreset"), A, A, A },
        { "ReferenceToItself", reference ("USER", "Loop.qopreset"), A, A, A },
        { "LegacyDevZero", legacyReference ("/dev/zero"), A, A, A },
        { "LegacyEtcPasswd", legacyReference ("/etc/passwd"), A, A, A },
        { "LegacyMissingWindowsPath", legacyReference ("C:\\ProgramData\\Quarno\\Velmora\\presets\\x.qopreset"), A, A, A },
        { "LegacyWindowsPathClimbsOut",
          legacyReference ("C:\\ProgramData\\Quarno\\Velmora\\presets\\..\\..\\..\\..\\user\\Quarno\\Velmora\\secret.qopreset"),
          A, A, A },
        // The channel and the controllers are host state only.
        { "MidiChannel99", withValue ("99"), A, S, S },
        { "MidiChannelMinus5", withValue ("-5"), A, S, S },
        { "ControllersOutOfRange", fromFixture ("midi-mapping.xml"), A, S, S },
        { "ThousandsOfInstanceKeys", [] (const Places&)
          {
              Bytes text = "<Velmora><instancePrefs";
              for (int i = 0; i < 20000; ++i)
                  text += " k" + std::to_string (i) + "=\"" + std::to_string (i) + "\"";
              return text + "/><PARAMS Mix=\"40\"/></Velmora>";
          },
          A, S, S },
        // Only files come with a byte order mark; the host's blob and pasted text never do.
        { "ByteOrderMark", fromFixture ("byte-order-mark.xml"), R, A, R },
        // Files are read as Windows-1252 when they are not UTF-8; the blob and text are refused.
        { "InvalidUtf8", [] (const Places&)
          { return Bytes ("<Velmora><instancePrefs note=\"caf\xE9 \xFF\xFE end\"/><!-- \xC3\x28 -->"
                          "<PARAMS Mode=\"2\" Mix=\"70\"/></Velmora>"); },
          R, A, R },
        // JUCE's own string functions read past the end of malformed UTF-8 before any parsing.
        { "LoneUtf8LeadByte", [] (const Places&) { return Bytes ("\xE9"); }, R, R, R },
        { "CdataAndComments", fromFixture ("cdata-and-comments.xml"), A, A, A },
        // The parser skips the instruction, reads the text from before it, stops at it again.
        { "TextAfterAProcessingInstruction", [] (const Places&)
          { return Bytes ("<Velmora><PARAMS Mix=\"70\"/><?editor?> x</Velmora>"); }, R, R, R },

        // Deep nesting the parser would see but a scan by bytes would not.
        { "NestingBehindAStrayQuote", [=] (const Places&) { return valid + "<x \"/>" + deepLevels; }, R, R, R },
        { "NestingBehindACommentInATag", [=] (const Places&) { return "<Velmora <!-- \" -->><PARAMS Mix=\"70\"/>" + deepLevels; }, R, R, R },
        { "NestingBehindAnUnknownEntity", [=] (const Places&) { return valid + "&<x><!--;" + deepLevels + "--></Velmora>"; }, R, R, R },
        // A file that is not UTF-8 is read as Windows-1252 (InvalidUtf8 above): there these bytes
        // are only a hundred thousand siblings, slow to load over and over for nothing new.
        { "NestingBehindMalformedUtf8", [=] (const Places&) { return valid + repeated ("<a>\xE1</a>", 100000) + "</Velmora>"; }, R, S, R },
        { "NestingBehindOverlongUtf8", [=] (const Places&) { return valid + repeated ("\xC0\xBC" "a>", 100000) + "</Velmora>"; }, R, R, R },
    };
}

/** How copyXmlToBinary frames a document. */
juce::MemoryBlock framed (const Bytes& text, juce::uint32 magic = 0x21324356, juce::int64 declared = -1, bool terminated = true)
{
    juce::MemoryOutputStream out;
    out.writeInt ((int) magic);
    out.writeInt ((int) (declared >= 0 ? declared : (juce::int64) text.size() + 1));
    out.write (text.data(), text.size());
    if (terminated)
        out.writeByte (0);
    return out.getMemoryBlock();
}

/** Catches a load that hangs (quadratic work on a 4 MB document ran for hours). A guard, not
    a speed test: sanitizer builds run many times slower, so the bound is generous. */
class TimeBudget
{
public:
    ~TimeBudget() { EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, budgetMs) << "as good as a hang"; }

private:
    static constexpr double budgetMs = 60000.0;
    const double start = juce::Time::getMillisecondCounterHiRes();
};

Bytes asBytes (const juce::MemoryBlock& block)
{
    return { static_cast<const char*> (block.getData()), block.getSize() };
}

class HostileBase : public StateTest
{
protected:
    Places places;

    void SetUp() override
    {
        places.secretText = folders.getRoot().getChildFile ("outside/secret.txt");
        places.secretText.getParentDirectory().createDirectory();
        places.secretText.replaceWithText ("13.25 " + juce::String (secretMarker));

        places.secretPreset = folders.user().getChildFile ("secret.qopreset");
        places.secretPreset.replaceWithText ("<Velmora description=\"" + juce::String (secretMarker)
                                             + "\"><PARAMS Mode=\"3\" Mix=\"13.25\"/></Velmora>");

        // A preset that names itself as the one to load.
        userPresets().createDirectory();
        userPresets().getChildFile ("Loop.qopreset").replaceWithText (reference ("USER", "Loop.qopreset") (places));
    }

    /** An instance away from its defaults, so that any change to it shows. */
    static std::unique_ptr<VelmoraProcessor> makeChangedInstance()
    {
        auto p = makeInstance();
        ProcessorHarness::set (*p, "Mode", 1.0f);
        ProcessorHarness::set (*p, "Mix", 33.0f);
        ProcessorHarness::set (*p, "Lowpass", 9000.0f);
        p->getMidiMapper().mapControllerToParam (20, "Mix");
        p->getInstancePreferences().setValue ("theme", "dark");
        p->setMidiEnabled (true);
        p->setCcMidiChannel (3);
        p->setEditorSize (640, 360);
        return p;
    }

    /** Every path under the folder root with its content, bar the preferences file, which
        records the recent list after each load. */
    std::map<juce::String, Bytes> disk() const
    {
        std::map<juce::String, Bytes> files;

        for (const auto& f : folders.getRoot().findChildFiles (juce::File::findFilesAndDirectories, true))
        {
            if (f.getFileName() == "Velmora.settings")
                continue;

            juce::MemoryBlock content;
            if (f.existsAsFile())
                f.loadFileAsData (content);
            files[f.getFullPathName()] = asBytes (content);
        }

        return files;
    }

    static juce::StringArray changes (const std::map<juce::String, Bytes>& before, const std::map<juce::String, Bytes>& after)
    {
        juce::StringArray changed;
        for (const auto& [path, content] : before)
            if (auto found = after.find (path); found == after.end() || found->second != content)
                changed.add (path);
        for (const auto& [path, content] : after)
            if (before.count (path) == 0)
                changed.add (path);
        return changed;
    }

    /** What must hold after any input, taken or not. */
    void expectSane (VelmoraProcessor& p, const juce::MemoryBlock& state) const
    {
        for (auto* parameter : p.getParameters())
        {
            auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter);
            ASSERT_NE (ranged, nullptr);
            SCOPED_TRACE (ranged->paramID);

            const auto normalised = ranged->getValue();
            ASSERT_TRUE (std::isfinite (normalised));
            EXPECT_GE (normalised, 0.0f);
            EXPECT_LE (normalised, 1.0f);

            const auto& range = ranged->getNormalisableRange();
            const auto value = ranged->convertFrom0to1 (normalised);
            EXPECT_GE (value, range.start);
            EXPECT_LE (value, range.end);

            const auto controller = p.getMidiMapper().controllerForParam (ranged->paramID);
            EXPECT_TRUE (controller == -1 || juce::isPositiveAndBelow (controller, 128)) << controller;
        }

        // What the audio thread reads.
        for (const auto v : { p.getOutputGain(), p.getEchoDelay(), p.getEchoFeedback(), p.getWetGain(), p.getDryGain(),
                              p.getLowpassHz(), p.getHipassHz() })
            EXPECT_TRUE (std::isfinite (v));
        for (int m = 0; m < VelmoraProcessor::numModes; ++m)
            EXPECT_TRUE (std::isfinite (p.getRate (m)) && std::isfinite (p.getDepth (m)) && std::isfinite (p.getWidth (m)));

        EXPECT_GE (p.getCcMidiChannel(), 0);
        EXPECT_LE (p.getCcMidiChannel(), 16);

        // Nothing from outside the folders.
        EXPECT_EQ (asBytes (state).find (secretMarker), Bytes::npos);
        EXPECT_NE (plain (p, "Mix"), secretMix);

        auto* presets = p.getPresetManager();
        EXPECT_FALSE (presets->getDescription().contains (secretMarker));
        const auto current = presets->getCurrentPreset();
        EXPECT_TRUE (current.isEmpty() || juce::File (current).isAChildOf (userPresets())) << current;
        for (const auto& recent : presets->getRecentFiles())
            EXPECT_TRUE (juce::File (recent).isAChildOf (userPresets())) << recent;
    }

    /** A state taken in must give the same bytes back from a fresh instance. */
    static void expectRoundTrip (const juce::MemoryBlock& state)
    {
        auto fresh = makeInstance();
        fresh->setStateInformation (state.getData(), (int) state.getSize());
        EXPECT_EQ (asBytes (saveState (*fresh)), asBytes (state));
    }

    void runHostState (const juce::MemoryBlock& blob, Outcome expected)
    {
        auto p = makeChangedInstance();
        const auto before = saveState (*p);
        const auto diskBefore = disk();

        juce::MemoryBlock after;
        {
            const TimeBudget budget;
            p->setStateInformation (blob.getData(), (int) blob.getSize());
            after = saveState (*p);
        }

        if (expected == Outcome::refused)
        {
            EXPECT_EQ (asBytes (after), asBytes (before));
        }
        else
        {
            EXPECT_NE (asBytes (after), asBytes (before)) << "not taken";
            expectRoundTrip (after);
        }

        expectSane (*p, after);
        EXPECT_EQ (changes (diskBefore, disk()).joinIntoString ("\n"), "");
    }
};

class HostileCorpus : public HostileBase, public ::testing::WithParamInterface<HostileCase>
{
};

TEST_P (HostileCorpus, HostState)
{
    const auto& c = GetParam();
    if (c.hostState == Outcome::skipped)
        return; // the case does not apply to this entry point

    runHostState (framed (c.make (places)), c.hostState);
}

TEST_P (HostileCorpus, PresetFile)
{
    const auto& c = GetParam();
    if (c.presetFile == Outcome::skipped)
        return; // the case does not apply to this entry point

    const auto text = c.make (places);

    for (const auto* folder : { "", "Bank/" })
    {
        for (const bool withUndo : { true, false })
        {
            SCOPED_TRACE (juce::String (folder) + (withUndo ? " with undo" : " without undo"));

            const auto file = userPresets().getChildFile (juce::String (folder) + c.name + ".qopreset");
            ASSERT_TRUE (file.getParentDirectory().createDirectory());
            ASSERT_TRUE (file.replaceWithData (text.data(), text.size()));

            auto p = makeChangedInstance();
            auto* presets = p->getPresetManager();
            const auto before = saveState (*p);
            const auto diskBefore = disk();

            {
                const TimeBudget budget;
                EXPECT_EQ (presets->isValidPresetFile (file.getFullPathName()), c.presetFile == Outcome::accepted);
                presets->loadPresetFile (file.getFullPathName(), withUndo ? &p->getUndoManager() : nullptr);
            }

            const auto after = saveState (*p);
            if (c.presetFile == Outcome::refused)
            {
                EXPECT_EQ (asBytes (after), asBytes (before));
                EXPECT_EQ (presets->getCurrentPreset(), "");
            }
            else
            {
                EXPECT_EQ (presets->getCurrentPreset(), file.getFullPathName());
                expectRoundTrip (after);
            }

            expectSane (*p, after);
            EXPECT_EQ (changes (diskBefore, disk()).joinIntoString ("\n"), "");

            p.reset();
            file.deleteFile();
        }
    }
}

TEST_P (HostileCorpus, ClipboardText)
{
    const auto& c = GetParam();
    if (c.clipboard == Outcome::skipped)
        return; // the case does not apply to this entry point

    const auto bytes = c.make (places);
    auto p = makeChangedInstance();
    const auto before = saveState (*p);
    const auto diskBefore = disk();

    // Raw bytes, as a text handed over from elsewhere may hold them.
    const auto text = juce::String::fromUTF8 (bytes.data(), (int) bytes.size());
    {
        const TimeBudget budget;
        EXPECT_EQ (p->getPresetManager()->loadStateFromClipboardText (text), c.clipboard == Outcome::accepted);
    }

    const auto after = saveState (*p);
    if (c.clipboard == Outcome::refused)
        EXPECT_EQ (asBytes (after), asBytes (before));
    else
        expectRoundTrip (after);

    expectSane (*p, after);
    EXPECT_EQ (changes (diskBefore, disk()).joinIntoString ("\n"), "");
}

INSTANTIATE_TEST_SUITE_P (HostileInputs, HostileCorpus, ::testing::ValuesIn (corpus()),
                          [] (const ::testing::TestParamInfo<HostileCase>& row) { return std::string (row.param.name); });

class HostileBlob : public HostileBase
{
};

TEST_F (HostileBlob, FramingThatIsBrokenIsRefusedAndSlackFramingStillReads)
{
    const auto valid = fixture ("valid-params.xml");

    juce::MemoryBlock random (50 * 1024 * 1024);
    juce::Random generator (7);
    generator.fillBitsRandomly (random.getData(), random.getSize());
    const auto header = framed ({}, 0x21324356, (juce::int64) random.getSize() - 8, false);
    random.copyFrom (header.getData(), 0, header.getSize());

    auto cut = framed (valid);
    cut.setSize (cut.getSize() / 2);

    const struct
    {
        const char* name;
        juce::MemoryBlock blob;
        Outcome outcome;
    } cases[] = {
        { "empty", {}, R },
        { "three bytes", juce::MemoryBlock (framed (valid).getData(), 3), R },
        { "wrong magic", framed (valid, 0x21324357), R },
        { "length beyond the data, document whole", framed (valid, 0x21324356, (juce::int64) valid.size() + 1000), A },
        { "length beyond the data, document cut", cut, R },
        { "length zero", framed (valid, 0x21324356, 0), R },
        { "50 MB of random bytes behind a header", std::move (random), R },
        { "no terminating zero", framed (valid, 0x21324356, (juce::int64) valid.size(), false), A },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        runHostState (c.blob, c.outcome);
    }
}

// Numbers in documents: what JUCE's reader gives, without its overflow on long exponents.
TEST (UntrustedNumbers, ReadLikeJuceAndSaturateLongExponents)
{
    const struct
    {
        const char* text;
        double expected;
    } ordinary[] = {
        { "70", 70.0 }, { "-3.5", -3.5 }, { "  +2.25", 2.25 }, { ".5", 0.5 }, { "1e3", 1000.0 },
        { "12abc", 12.0 }, { "abc", 0.0 }, { "", 0.0 }, { "-", 0.0 }, { "+-5", 0.0 }, { "1e999", HUGE_VAL },
    }, longExponents[] = { // undefined behaviour in JUCE's reader: not compared with it
        { "1e99111111111", HUGE_VAL }, { "-1e99111111111", -HUGE_VAL }, { "1e-99111111111", 0.0 },
    };

    for (const auto& c : ordinary)
    {
        EXPECT_EQ (halvex::SafeXml::readNumber (c.text), c.expected) << '"' << c.text << '"';
        EXPECT_EQ (halvex::SafeXml::readNumber (c.text), juce::String (c.text).getDoubleValue()) << '"' << c.text << '"';
    }
    for (const auto& c : longExponents)
        EXPECT_EQ (halvex::SafeXml::readNumber (c.text), c.expected) << '"' << c.text << '"';

    EXPECT_TRUE (std::isnan (halvex::SafeXml::readNumber ("nan")));
}
} // namespace
