#include "plugin/processor/VelmoraParameterTexts.h"
#include "plugin/processor/VelmoraProcessor.h"

#include <gtest/gtest.h>

namespace
{
juce::RangedAudioParameter& param (VelmoraProcessor& p, const char* id)
{
    auto* r = p.getValueTreeState().getParameter (id);
    EXPECT_NE (r, nullptr) << id;
    return *r;
}

void setReal (VelmoraProcessor& p, const char* id, float value)
{
    auto& r = param (p, id);
    r.setValueNotifyingHost (r.convertTo0to1 (value));
}
} // namespace

TEST (Parameters, HostSeesTheTwentyInOrderWithRangesAndDefaults)
{
    struct Row
    {
        const char* id;
        const char* name;
        const char* label;
        float start, end, interval, skew, def;
        const char* defaultText;
    };
    const Row rows[] = {
        { "Mode", "Mode", "", 0, 15, 1, 1, 0, "Retro" },
        { "RetroRate", "Retro Rate", "%", 0, 100, 0, 1, 50, "50.00" },
        { "RetroDepth", "Retro Depth", "%", 0, 100, 0, 1, 50, "50.00" },
        { "RetroWidth", "Retro Width", "%", 0, 100, 0, 1, 50, "50.00" },
        { "MultiRate", "Multi Rate", "%", 0, 100, 0, 1, 50, "50.00" },
        { "MultiDepth", "Multi Depth", "%", 0, 100, 0, 1, 50, "50.00" },
        { "MultiWidth", "Multi Width", "%", 0, 100, 0, 1, 50, "50.00" },
        { "DetuneRate", "Detune Rate", "%", 0, 100, 0, 1, 50, "50.00" },
        { "DetuneDepth", "Detune Depth", "cents", 0, 100, 0, 1, 50, "0.00" },
        { "DetuneWidth", "Detune Width", "%", 0, 100, 0, 1, 50, "50.00" },
        { "RandRate", "Rand Rate", "%", 0, 100, 0, 1, 50, "50.00" },
        { "RandDepth", "Rand Depth", "%", 0, 100, 0, 1, 50, "50.00" },
        { "RandWidth", "Rand Width", "%", 0, 100, 0, 1, 50, "50.00" },
        { "EchoFeedback", "Echo Feedback", "%", 0, 100, 0, 1, 0, "0.00" },
        { "EchoDelay", "Echo Delay", "ms", 0, 100, 0, 1, 0, "0.1" },
        { "EchoEnable", "Echo Enable", "", 0, 1, 0, 1, 1, "Enabled" },
        { "OutputGain", "Output Gain", "dB", -12, 12, 0, 1, 0, "0.00" },
        { "Hipass", "Hipass", "Hz", 20, 20000, 0, 0.36427587f, 20, "20.00" },
        { "Lowpass", "Lowpass", "Hz", 20, 20000, 0, 0.36427587f, 20000, "20000.00" },
        { "Mix", "Mix", "%", 0, 100, 0, 1, 50, "50.00" },
    };

    VelmoraProcessor p;
    const auto& params = p.getParameters();
    ASSERT_EQ (params.size(), 20);

    for (int i = 0; i < 20; ++i)
    {
        const auto& row = rows[i];
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (params[i]);
        ASSERT_NE (ranged, nullptr);
        SCOPED_TRACE (row.id);
        EXPECT_EQ (ranged->getParameterID(), row.id);
        EXPECT_EQ (ranged->getVersionHint(), 1);
        EXPECT_EQ (ranged->getName (100), row.name);
        EXPECT_EQ (ranged->getLabel(), row.label);
        const auto& range = ranged->getNormalisableRange();
        EXPECT_EQ (range.start, row.start);
        EXPECT_EQ (range.end, row.end);
        EXPECT_EQ (range.interval, row.interval);
        EXPECT_FLOAT_EQ (range.skew, row.skew);
        EXPECT_FLOAT_EQ (ranged->convertFrom0to1 (ranged->getDefaultValue()), row.def);
        EXPECT_EQ (ranged->getCurrentValueAsText(), row.defaultText);
        EXPECT_TRUE (ranged->isAutomatable());
        EXPECT_FALSE (ranged->isMetaParameter());
    }
}

TEST (Parameters, ValueTexts)
{
    struct Case
    {
        const char* id;
        float value;
        const char* text;
    };
    const Case cases[] = {
        { "Mode", 1, "Multi" }, { "Mode", 2, "Detune" }, { "Mode", 7, "Rand" }, { "Mode", 15, "Rand" },
        { "DetuneDepth", 25, "-15.00" }, { "DetuneDepth", 0, "-30.00" }, { "DetuneDepth", 100, "30.00" },
        { "EchoDelay", 0, "0.1" }, { "EchoDelay", 100, "1000" }, { "EchoDelay", 31.6f, "100.0" }, { "EchoDelay", 31.7f, "101" },
        { "EchoEnable", 0.5f, "Enabled" }, { "EchoEnable", 0.49f, "Disabled" },
        { "OutputGain", -12, "-12.00" }, { "Mix", 33.333f, "33.33" },
    };
    VelmoraProcessor p;
    for (const auto& c : cases)
    {
        auto& r = param (p, c.id);
        EXPECT_EQ (r.getText (r.convertTo0to1 (c.value), 100), c.text) << c.id << " " << c.value;
    }
}

TEST (Parameters, TextToValue)
{
    struct Case
    {
        const char* id;
        const char* text;
        float value;
    };
    const Case cases[] = {
        { "Mode", "Retro", 0 }, { "Mode", "Multi", 1 }, { "Mode", "Detune", 2 }, { "Mode", "Rand", 3 },
        { "Mode", "rand", 3 }, { "Mode", "retro", 3 }, { "Mode", "", 3 },
        { "DetuneDepth", "10", 66.666664f }, { "DetuneDepth", "-15cents", 25 },
        { "EchoDelay", "250ms", 49.99f }, { "EchoDelay", "0.05", 0 }, { "EchoDelay", "abc", 0 },
        { "EchoEnable", "Enabled", 1 }, { "EchoEnable", "enabled", 0 },
        { "Mix", "70", 70 }, { "Mix", "150", 100 }, { "Mix", "  42.5 %", 42.5f }, { "Mix", "abc", 0 },
        { "Mix", "1e999", 100 }, { "Mix", "-nan", 0 },
        { "OutputGain", "-3.5dB", -3.5f }, { "Hipass", "1.5 kHz", 20.0f },
    };
    VelmoraProcessor p;
    for (const auto& c : cases)
    {
        auto& r = param (p, c.id);
        EXPECT_NEAR (r.convertFrom0to1 (r.getValueForText (c.text)), c.value, 1.0e-3f) << c.id << " '" << c.text << "'";
    }

    // 3000 Hz sits at the middle of the frequency travel.
    auto& hipass = param (p, "Hipass");
    EXPECT_NEAR (hipass.convertTo0to1 (3000.0f), 0.5f, 1.0e-4f);
}

TEST (Parameters, ChangesReachTheAtomicFields)
{
    VelmoraProcessor p;
    // Defaults after registration.
    EXPECT_EQ (p.getModeIndex(), 0);
    EXPECT_TRUE (p.getEchoEnabled());
    EXPECT_FLOAT_EQ (p.getWetGain(), std::sqrt (0.5f));
    EXPECT_FLOAT_EQ (p.getDryGain(), std::sqrt (0.5f));
    EXPECT_FLOAT_EQ (p.getLowpassHz(), 20000.0f);
    EXPECT_FLOAT_EQ (p.getRate (3), 0.5f);

    setReal (p, "Mode", 7);
    EXPECT_EQ (p.getModeIndex(), 3);
    setReal (p, "Mix", 100);
    EXPECT_FLOAT_EQ (p.getWetGain(), 1.0f);
    EXPECT_FLOAT_EQ (p.getDryGain(), 0.0f);
    setReal (p, "Mix", 0);
    EXPECT_FLOAT_EQ (p.getWetGain(), 0.0f);
    EXPECT_FLOAT_EQ (p.getDryGain(), 1.0f);
    setReal (p, "OutputGain", -12);
    EXPECT_NEAR (p.getOutputGain(), 0.25119f, 1.0e-4f);
    setReal (p, "EchoEnable", 0.5f);
    EXPECT_FALSE (p.getEchoEnabled()); // needs more than 0.5
    setReal (p, "EchoDelay", 50);
    EXPECT_FLOAT_EQ (p.getEchoDelay(), 0.5f);
    setReal (p, "DetuneWidth", 20);
    EXPECT_FLOAT_EQ (p.getWidth (2), 0.2f);
    setReal (p, "Hipass", 3000);
    EXPECT_NEAR (p.getHipassHz(), 3000.0f, 0.5f);
}
