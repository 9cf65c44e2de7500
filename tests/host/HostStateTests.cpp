// The host state as a host keeps it: saved and restored through the built VST3 and LV2,
// whose format wrappers put the product's document inside their own container.
//   VST3: JUCE's host stores <VST3PluginState><IComponent>base64</IComponent></VST3PluginState>
//         (copyXmlToBinary); the component stream is the product's binary block followed by
//         the wrapper's private data (bypass flag, "JUCEPrivateData" trailer).
//   LV2:  a Turtle preset whose state property ...:StateString holds the product's binary
//         block in JUCE's base64 form.
#include "HostedPlugin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

using HostedPlugin::Format;

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int block = 256;

const char* const parameterIDs[] = { "Mode",       "RetroRate",  "RetroDepth",  "RetroWidth",   "MultiRate",
                                     "MultiDepth", "MultiWidth", "DetuneRate",  "DetuneDepth",  "DetuneWidth",
                                     "RandRate",   "RandDepth",  "RandWidth",   "EchoFeedback", "EchoDelay",
                                     "EchoEnable", "OutputGain", "Hipass",      "Lowpass",      "Mix" };

/** A state that differs from a fresh instance's in everything the document holds. */
const char* const configuredDocument = R"(
<Velmora pluginEditorWidth="640" pluginEditorHeight="480" isMidiEnabled="1" isMidiProgramChangeEnabled="1" ccMidiChan="5">
  <instancePrefs theme="night" zoom="1.25" lastTab="echo"/>
  <frozenParams Mix="1" Hipass="1"/>
  <PARAMS Mode="1" MultiRate="12" MultiDepth="88" Mix="35" Lowpass="9000"/>
  <MIDImapping Mix="7" EchoFeedback="74"/>
</Velmora>)";

//==============================================================================
/** The product's binary block inside a saved host state, and the container around it. */
struct Unwrapped
{
    Format format;
    juce::String hostXml;                     // VST3 only: the host's own document
    juce::MemoryBlock before, payload, after; // LV2: the Turtle text around the base64 string;
                                              // VST3: the component stream around the block
};

std::optional<Unwrapped> unwrap (Format format, const juce::MemoryBlock& state)
{
    Unwrapped u { format, {}, {}, {}, {} };

    if (format == Format::lv2)
    {
        const auto text = juce::String::fromUTF8 (static_cast<const char*> (state.getData()), (int) state.getSize());
        const juce::String key (":StateString> \"");
        const auto start = text.indexOf (key);
        const auto end = start < 0 ? -1 : text.indexOfChar (start + key.length(), '"');
        if (end < 0 || ! u.payload.fromBase64Encoding (text.substring (start + key.length(), end)))
            return std::nullopt;
        const auto head = text.substring (0, start + key.length()), tail = text.substring (end);
        u.before.append (head.toRawUTF8(), head.getNumBytesAsUTF8());
        u.after.append (tail.toRawUTF8(), tail.getNumBytesAsUTF8());
        return u;
    }

    const auto xml = juce::AudioProcessor::getXmlFromBinary (state.getData(), (int) state.getSize());
    auto* component = xml != nullptr ? xml->getChildByName ("IComponent") : nullptr;
    juce::MemoryBlock stream;
    if (component == nullptr || ! stream.fromBase64Encoding (component->getAllSubText()))
        return std::nullopt;

    // The block starts with copyXmlToBinary's magic number and declares its text length.
    const juce::uint32 magic = juce::ByteOrder::swapIfBigEndian ((juce::uint32) 0x21324356);
    const auto* bytes = static_cast<const char*> (stream.getData());
    for (size_t i = 0; i + 8 <= stream.getSize(); ++i)
    {
        if (std::memcmp (bytes + i, &magic, 4) != 0)
            continue;
        const auto length = 9 + (size_t) juce::ByteOrder::littleEndianInt (bytes + i + 4);
        if (i + length > stream.getSize())
            break;
        u.hostXml = xml->toString();
        u.before.append (bytes, i);
        u.payload.append (bytes + i, length);
        u.after.append (bytes + i + length, stream.getSize() - i - length);
        return u;
    }
    return std::nullopt;
}

/** The same container holding another payload. */
juce::MemoryBlock rewrap (const Unwrapped& u, const juce::MemoryBlock& payload)
{
    juce::MemoryBlock inner (u.before), result;

    if (u.format == Format::lv2)
    {
        const auto text = payload.toBase64Encoding();
        inner.append (text.toRawUTF8(), text.getNumBytesAsUTF8());
        inner.append (u.after.getData(), u.after.getSize());
        return inner;
    }

    inner.append (payload.getData(), payload.getSize());
    inner.append (u.after.getData(), u.after.getSize());

    auto xml = juce::parseXML (u.hostXml);
    auto* component = xml->getChildByName ("IComponent");
    component->deleteAllChildElements();
    component->addTextElement (inner.toBase64Encoding());
    juce::AudioProcessor::copyXmlToBinary (*xml, result);
    return result;
}

juce::MemoryBlock binaryOf (const juce::String& xmlText)
{
    juce::MemoryBlock block;
    if (auto xml = juce::parseXML (xmlText))
        juce::AudioProcessor::copyXmlToBinary (*xml, block);
    else
        ADD_FAILURE() << "the test's document is not XML: " << xmlText;
    return block;
}

//==============================================================================
class HostState : public testing::TestWithParam<Format>
{
protected:
    HostedPlugin::Loaded load()
    {
        auto loaded = HostedPlugin::load (GetParam(), sampleRate, block);
        if (loaded.instance != nullptr)
            loaded.instance->prepareToPlay (sampleRate, block);
        return loaded;
    }

    /** A few blocks of noise: the LV2 wrapper passes parameter changes both ways only while
        it runs. False when any output sample was not finite or all of it was silent. */
    bool run (juce::AudioPluginInstance& plugin, int blocks = 4)
    {
        juce::AudioBuffer<float> io (2, block);
        juce::MidiBuffer midi;
        bool finite = true;
        float peak = 0.0f;
        for (int b = 0; b < blocks; ++b)
        {
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < block; ++i)
                    io.setSample (c, i, 0.25f * (2.0f * random.nextFloat() - 1.0f));
            plugin.processBlock (io, midi);
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < block; ++i)
                {
                    finite = finite && std::isfinite (io.getSample (c, i));
                    peak = std::max (peak, std::abs (io.getSample (c, i)));
                }
        }
        return finite && peak > 1e-3f;
    }

    static juce::MemoryBlock save (juce::AudioPluginInstance& plugin)
    {
        juce::MemoryBlock state;
        plugin.getStateInformation (state);
        return state;
    }

    /** The product's document inside the saved host state. */
    std::unique_ptr<juce::XmlElement> saveXml (juce::AudioPluginInstance& plugin)
    {
        const auto u = unwrap (GetParam(), save (plugin));
        if (! u.has_value())
            return nullptr;
        return juce::AudioProcessor::getXmlFromBinary (u->payload.getData(), (int) u->payload.getSize());
    }

    /** Hands the instance a host state in its format's container holding this payload. */
    void restorePayload (juce::AudioPluginInstance& plugin, const juce::MemoryBlock& payload)
    {
        const auto u = unwrap (GetParam(), save (plugin));
        ASSERT_TRUE (u.has_value()) << "no product document in the saved " << HostedPlugin::formatName (GetParam()) << " state";
        const auto state = rewrap (*u, payload);
        plugin.setStateInformation (state.getData(), (int) state.getSize());
        run (plugin);
    }

    void restoreXml (juce::AudioPluginInstance& plugin, const juce::String& xmlText)
    {
        restorePayload (plugin, binaryOf (xmlText));
    }

    static juce::AudioProcessorParameter* parameter (juce::AudioPluginInstance& plugin, const juce::String& id)
    {
        // Display names are the IDs with spaces.
        for (auto* p : HostedPlugin::productParameters (plugin))
            if (p->getName (100).removeCharacters (" ") == id)
                return p;
        return nullptr;
    }

    static std::string childTags (const juce::XmlElement& xml)
    {
        juce::StringArray tags;
        for (auto* child : xml.getChildIterator())
            tags.add (child->getTagName());
        return tags.joinIntoString (",").toStdString();
    }

    /** An attribute of the root (child == nullptr) or of its first child with that tag. */
    static std::string attribute (const juce::XmlElement& xml, const char* child, const char* name)
    {
        auto* element = child == nullptr ? &xml : xml.getChildByName (child);
        if (element == nullptr)
            return std::string ("<no ") + child + ">";
        return element->hasAttribute (name) ? element->getStringAttribute (name).toStdString() : "<none>";
    }

    /** Saved states compare as bytes; a failure shows the product documents. */
    ::testing::AssertionResult sameState (const juce::MemoryBlock& actual, const juce::MemoryBlock& expected)
    {
        if (actual == expected)
            return ::testing::AssertionSuccess();
        auto document = [this] (const juce::MemoryBlock& state) -> std::string
        {
            const auto u = unwrap (GetParam(), state);
            const auto xml = u.has_value() ? juce::AudioProcessor::getXmlFromBinary (u->payload.getData(), (int) u->payload.getSize()) : nullptr;
            return xml != nullptr ? xml->toString (juce::XmlElement::TextFormat().withoutHeader()).toStdString() : "<no product document>";
        };
        return ::testing::AssertionFailure() << "saved states differ (" << actual.getSize() << " and " << expected.getSize()
                                             << " bytes)\nnow:\n" << document (actual) << "\nexpected:\n" << document (expected);
    }

    static juce::File productFolder (const char* kind)
    {
        return juce::File (juce::SystemStats::getEnvironmentVariable ("HALVEX_FOLDERS_ROOT", {}))
            .getChildFile (kind).getChildFile ("Quarno/Velmora");
    }

    static void writePreset (const juce::File& file, const juce::String& params)
    {
        file.getParentDirectory().createDirectory();
        ASSERT_TRUE (file.replaceWithText ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Velmora company=\"Quarno\" version=\"1.1.0\">\r\n"
                                           "  <PARAMS " + params + "/>\r\n</Velmora>\r\n"));
    }

    juce::Random random { 0x5eed };
};

//==============================================================================
TEST_P (HostState, RoundTripsThroughAnotherInstance)
{
    struct Change { const char* id; float normalised; float plain; };
    const Change changes[] = {
        { "Mode", 2.0f / 15.0f, 2.0f },   { "RetroDepth", 0.125f, 12.5f },  { "DetuneDepth", 0.8f, 80.0f },
        { "EchoFeedback", 0.65f, 65.0f }, { "EchoDelay", 0.33f, 33.0f },    { "EchoEnable", 0.0f, 0.0f },
        { "OutputGain", 0.25f, -6.0f },   { "Hipass", 0.4123f, NAN },       { "Lowpass", 0.61f, NAN },
        { "Mix", 0.77f, 77.0f },
    };

    auto a = load();
    ASSERT_NE (a.instance, nullptr) << a.error;
    restoreXml (*a.instance, configuredDocument);
    for (const auto& change : changes)
    {
        auto* p = parameter (*a.instance, change.id);
        ASSERT_NE (p, nullptr) << change.id;
        p->setValueNotifyingHost (change.normalised);
    }
    ASSERT_TRUE (run (*a.instance));
    const auto saved = save (*a.instance);
    EXPECT_TRUE (sameState (save (*a.instance), saved)) << "two saves in a row";

    // The document: everything the host state carries, in order.
    const auto xml = saveXml (*a.instance);
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getTagName().toStdString(), "Velmora");
    EXPECT_EQ (childTags (*xml), "instancePrefs,frozenParams,PARAMS,MIDImapping");
    const std::pair<const char*, const char*> rootAttributes[] = {
        { "pluginEditorWidth", "640" }, { "pluginEditorHeight", "480" }, { "isMidiEnabled", "1" },
        { "isMidiProgramChangeEnabled", "1" }, { "ccMidiChan", "5" },
    };
    for (const auto& [name, value] : rootAttributes)
        EXPECT_EQ (attribute (*xml, nullptr, name), value) << name;

    auto* prefs = xml->getChildByName ("instancePrefs");
    auto* frozen = xml->getChildByName ("frozenParams");
    auto* params = xml->getChildByName ("PARAMS");
    auto* midi = xml->getChildByName ("MIDImapping");
    ASSERT_TRUE (prefs != nullptr && frozen != nullptr && params != nullptr && midi != nullptr);

    // The host's free pairs come back as they were, no more, no fewer.
    const std::pair<const char*, const char*> pairs[] = { { "theme", "night" }, { "zoom", "1.25" }, { "lastTab", "echo" } };
    for (const auto& [name, value] : pairs)
        EXPECT_EQ (attribute (*xml, "instancePrefs", name), value) << name;
    EXPECT_EQ (prefs->getNumAttributes(), 3);

    EXPECT_EQ (frozen->getNumAttributes(), (int) std::size (parameterIDs));
    EXPECT_EQ (params->getNumAttributes(), (int) std::size (parameterIDs));
    for (const auto* id : parameterIDs)
    {
        const bool expectedFrozen = juce::String (id) == "Mix" || juce::String (id) == "Hipass";
        EXPECT_EQ (attribute (*xml, "frozenParams", id), expectedFrozen ? "1" : "0") << id;
        EXPECT_TRUE (params->hasAttribute (id)) << id;
    }
    for (const auto& change : changes)
    {
        if (std::isnan (change.plain))
            continue; // the frequency skew is the product's business; the round trip covers it
        EXPECT_NEAR (params->getDoubleAttribute (change.id), change.plain, 1e-3) << change.id;
    }
    // Values the host did not touch come from the restored document.
    EXPECT_NEAR (params->getDoubleAttribute ("MultiDepth"), 88.0, 1e-3);
    EXPECT_EQ (attribute (*xml, "MIDImapping", "Mix"), "7");
    EXPECT_EQ (attribute (*xml, "MIDImapping", "EchoFeedback"), "74");
    EXPECT_EQ (midi->getNumAttributes(), 2);

    // A fresh instance, and one that had another state before, both give back the same bytes
    // and show the host the same parameters.
    for (const bool fresh : { true, false })
    {
        SCOPED_TRACE (fresh ? "fresh instance" : "instance with another state");
        auto b = load();
        ASSERT_NE (b.instance, nullptr) << b.error;
        if (! fresh)
        {
            restoreXml (*b.instance, R"(<Velmora pluginEditorWidth="300" pluginEditorHeight="200" ccMidiChan="9">
                                          <instancePrefs other="x"/><frozenParams Mode="1" OutputGain="1"/>
                                          <PARAMS Mode="3" Mix="5"/><MIDImapping Mode="1" Hipass="20"/></Velmora>)");
        }
        b.instance->setStateInformation (saved.getData(), (int) saved.getSize());
        EXPECT_TRUE (run (*b.instance));
        EXPECT_TRUE (sameState (save (*b.instance), saved));

        for (const auto* id : parameterIDs)
        {
            auto* pa = parameter (*a.instance, id);
            auto* pb = parameter (*b.instance, id);
            ASSERT_TRUE (pa != nullptr && pb != nullptr) << id;
            EXPECT_NEAR (pb->getValue(), pa->getValue(), 1e-6f) << id;
            EXPECT_EQ (pb->getCurrentValueAsText().toStdString(), pa->getCurrentValueAsText().toStdString()) << id;
        }
    }
}

TEST_P (HostState, PresetReferenceRestoresTheSessionValuesAndComesBack)
{
    // The file disagrees with the session on every value it names; it must exist before an
    // instance scans the preset folders.
    writePreset (productFolder ("user").getChildFile ("presets/Bank/Hostless.qopreset"),
                 R"(Mode="2" Mix="70" EchoFeedback="40" RetroRate="90" Hipass="500" Lowpass="3000" OutputGain="6")");

    for (const char* dirty : { "0", "1" })
    {
        SCOPED_TRACE (juce::String ("dirty=") + dirty);
        auto loaded = load();
        ASSERT_NE (loaded.instance, nullptr) << loaded.error;
        auto& plugin = *loaded.instance;

        restoreXml (plugin, juce::String (R"(<Velmora pluginEditorWidth="-1" pluginEditorHeight="-1" isMidiEnabled="0"
                                                isMidiProgramChangeEnabled="0" ccMidiChan="0">
                                               <instancePrefs/><frozenParams/>
                                               <PARAMS Mode="1" Mix="25" EchoFeedback="10" RetroRate="30" OutputGain="-3"/>
                                               <lastPreset root="USER" path="Bank/Hostless.qopreset" dirty="DIRTY"/>
                                               <MIDImapping/></Velmora>)").replace ("DIRTY", dirty));

        // The session's values, and defaults for the ones it leaves out: nothing from the file.
        const std::pair<const char*, float> expected[] = {
            { "Mode", 1.0f / 15.0f }, { "Mix", 0.25f }, { "EchoFeedback", 0.1f }, { "RetroRate", 0.3f }, { "OutputGain", 0.375f },
        };
        for (const auto* id : parameterIDs)
        {
            auto* p = parameter (plugin, id);
            ASSERT_NE (p, nullptr) << id;
            auto value = p->getDefaultValue();
            for (const auto& [expectedID, normalised] : expected)
                if (juce::String (expectedID) == id)
                    value = normalised;
            EXPECT_NEAR (p->getValue(), value, 1e-5f) << id;
        }

        const auto xml = saveXml (plugin);
        ASSERT_NE (xml, nullptr);
        EXPECT_EQ (childTags (*xml), "instancePrefs,frozenParams,PARAMS,lastPreset,MIDImapping");
        EXPECT_EQ (attribute (*xml, "lastPreset", "root"), "USER");
        EXPECT_EQ (attribute (*xml, "lastPreset", "path"), "Bank/Hostless.qopreset");
        EXPECT_EQ (attribute (*xml, "lastPreset", "dirty"), dirty);
        EXPECT_EQ (attribute (*xml, "PARAMS", "Mix"), "25");
    }
}

TEST_P (HostState, OlderDocumentAppliesItsValues)
{
    writePreset (productFolder ("shared").getChildFile ("presets/Bank/Old.qopreset"), R"(Mode="0" Mix="90" RandDepth="5")");

    // Where the old absolute path leads: a factory preset that is there, or nothing.
    struct Case { const char* file; const char* expectedPath; };
    const Case cases[] = { { "Old", "Bank/Old.qopreset" }, { "Gone", nullptr } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.file);
        auto loaded = load();
        ASSERT_NE (loaded.instance, nullptr) << loaded.error;
        auto& plugin = *loaded.instance;
        restoreXml (plugin, configuredDocument); // editor size and freeze flags that must go

        restoreXml (plugin, juce::String (R"(<Velmora isMidiEnabled="0" ccMidiChan="0">
                                               <PARAMS Mode="3" RandRate="20" RandDepth="70" Mix="60"/>
                                               <PARAMSLastLoadedPreset preset="C:\ProgramData\Quarno\Velmora\presets\Bank\NAME.qopreset" dirty="1"/>
                                             </Velmora>)").replace ("NAME", c.file));

        EXPECT_TRUE (run (plugin));
        const std::pair<const char*, float> expected[] = {
            { "Mode", 3.0f / 15.0f }, { "RandRate", 0.2f }, { "RandDepth", 0.7f }, { "Mix", 0.6f }, // Mix was frozen
        };
        for (const auto& [id, normalised] : expected)
        {
            auto* p = parameter (plugin, id);
            ASSERT_NE (p, nullptr) << id;
            EXPECT_NEAR (p->getValue(), normalised, 1e-5f) << id;
        }

        const auto xml = saveXml (plugin);
        ASSERT_NE (xml, nullptr);
        EXPECT_EQ (attribute (*xml, nullptr, "pluginEditorWidth"), "-1");
        EXPECT_EQ (attribute (*xml, nullptr, "pluginEditorHeight"), "-1");
        EXPECT_EQ (attribute (*xml, nullptr, "isMidiProgramChangeEnabled"), "0");
        for (const auto* id : parameterIDs)
            EXPECT_EQ (attribute (*xml, "frozenParams", id), "0") << id;

        if (c.expectedPath == nullptr)
        {
            EXPECT_EQ (childTags (*xml), "instancePrefs,frozenParams,PARAMS,MIDImapping");
            continue;
        }
        EXPECT_EQ (childTags (*xml), "instancePrefs,frozenParams,PARAMS,lastPreset,MIDImapping");
        EXPECT_EQ (attribute (*xml, "lastPreset", "root"), "FACTORY");
        EXPECT_EQ (attribute (*xml, "lastPreset", "path"), c.expectedPath);
        EXPECT_EQ (attribute (*xml, "lastPreset", "dirty"), "1");
    }
}

TEST_P (HostState, GarbageLeavesTheStateAndTheAudioAlone)
{
    auto loaded = load();
    ASSERT_NE (loaded.instance, nullptr) << loaded.error;
    auto& plugin = *loaded.instance;
    restoreXml (plugin, configuredDocument);
    const auto before = save (plugin);
    const auto valid = unwrap (GetParam(), before);
    ASSERT_TRUE (valid.has_value());

    auto randomBytes = [this] (size_t n, const char* head = "")
    {
        juce::MemoryBlock bytes (head, std::strlen (head));
        while (bytes.getSize() < n)
        {
            const auto byte = (char) random.nextInt (256);
            bytes.append (&byte, 1);
        }
        return bytes;
    };
    auto truncated = [] (const juce::MemoryBlock& whole, size_t length) { return juce::MemoryBlock (whole.getData(), length); };
    const auto payload = valid->payload;

    struct Case { const char* name; juce::MemoryBlock bytes; bool inContainer; };
    const Case cases[] = {
        // What the host call itself gets: the format wrapper has to cope.
        { "empty", {}, false },
        { "random bytes", randomBytes (1000), false },
        { "host state cut in half", truncated (before, before.getSize() / 2), false },
        // A valid container around a bad product block: the product has to cope.
        { "empty block", {}, true },
        { "random block", randomBytes (1000), true },
        { "magic number, then noise", randomBytes (600, "VC2!\xff\xff\xff\x7f"), true },
        { "block cut at a quarter", truncated (payload, payload.getSize() / 4), true },
        { "block cut in half", truncated (payload, payload.getSize() / 2), true },
        { "block cut before its closing tag", truncated (payload, payload.getSize() - 12), true },
        { "another product's document", binaryOf ("<Other><PARAMS Mix=\"3\"/></Other>"), true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto state = c.inContainer ? rewrap (*valid, c.bytes) : c.bytes;
        plugin.setStateInformation (state.getData(), (int) state.getSize());
        EXPECT_TRUE (run (plugin, 8)) << "output not finite or silent";
        EXPECT_TRUE (sameState (save (plugin), before));
    }
}

TEST_P (HostState, PresetThatNamesItselfLoadsOnce)
{
    // A preset file is not a host state, but nothing stops it carrying a reference; one that
    // names itself must not send the loader round in circles inside the host's process.
    const auto loop = productFolder ("user").getChildFile ("presets/Bank/Loop.qopreset");
    loop.getParentDirectory().createDirectory();
    ASSERT_TRUE (loop.replaceWithText (R"(<Velmora><PARAMS Mode="3" Mix="90"/><lastPreset root="USER" path="Bank/Loop.qopreset" dirty="0"/></Velmora>)"));

    auto loaded = load();
    ASSERT_NE (loaded.instance, nullptr) << loaded.error;
    restoreXml (*loaded.instance, R"(<Velmora><PARAMS Mode="1" Mix="25"/><lastPreset root="USER" path="Bank/Loop.qopreset" dirty="1"/></Velmora>)");

    EXPECT_TRUE (run (*loaded.instance));
    auto* mix = parameter (*loaded.instance, "Mix");
    ASSERT_NE (mix, nullptr);
    EXPECT_NEAR (mix->getValue(), 0.25f, 1e-5f);
    const auto xml = saveXml (*loaded.instance);
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (attribute (*xml, "lastPreset", "path"), "Bank/Loop.qopreset");
    EXPECT_EQ (attribute (*xml, "lastPreset", "dirty"), "1");
}

std::string formatName (const testing::TestParamInfo<Format>& info)
{
    return HostedPlugin::formatName (info.param);
}

INSTANTIATE_TEST_SUITE_P (Formats, HostState, testing::Values (Format::vst3, Format::lv2), formatName);
} // namespace
