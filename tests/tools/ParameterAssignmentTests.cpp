#include "ParameterAssignments.h"
#include "plugin/processor/VelmoraProcessor.h"

#include <gtest/gtest.h>

TEST (ParameterAssignments, ValuesLandOnTheRightRealValues)
{
    struct Case
    {
        const char* id;
        const char* text;
        float real;
        float tolerance;
    };
    const Case cases[] = {
        { "Mix", "70", 70.0f, 1e-4f },
        { "Mix", "70%", 70.0f, 1e-4f },
        { "EchoDelay", "50", 50.0f, 1e-4f },
        { "EchoDelay", "250ms", 49.99f, 0.01f },
        { "EchoDelay", "250 ms", 49.99f, 0.01f },
        { "DetuneDepth", "-15cents", 25.0f, 1e-3f },
        { "DetuneDepth", "25", 25.0f, 1e-4f },
        { "Mode", "Detune", 2.0f, 0.0f },
        { "Mode", "Rand", 3.0f, 0.0f },
        { "Mode", "rand", 3.0f, 0.0f },
        { "Mode", "7", 7.0f, 0.0f },
        { "EchoEnable", "Disabled", 0.0f, 0.0f },
        { "EchoEnable", "Enabled", 1.0f, 0.0f },
        { "OutputGain", "-12", -12.0f, 1e-4f },
        { "Hipass", "3000Hz", 3000.0f, 0.5f },
        { "Lowpass", "1e3", 1000.0f, 0.01f },
    };

    VelmoraProcessor processor;
    for (const auto& c : cases)
    {
        auto* p = findParameter (processor, c.id);
        ASSERT_NE (p, nullptr) << c.id;
        const auto r = resolveParameterValue (*p, c.text);
        EXPECT_TRUE (r.error.isEmpty()) << c.id << "=" << c.text << ": " << r.error;
        EXPECT_NEAR (r.real, c.real, c.tolerance) << c.id << "=" << c.text;
        EXPECT_NEAR (p->convertFrom0to1 (r.normalised), c.real, c.tolerance) << c.id << "=" << c.text;
    }
}

TEST (ParameterAssignments, RefusesWhatWouldSilentlyBecomeSomethingElse)
{
    struct Case
    {
        const char* id;
        const char* text;
        const char* errorContains;
    };
    const Case cases[] = {
        { "Mix", "150", "outside 0 to 100" },
        { "OutputGain", "-13", "outside -12 to 12" },
        { "EchoDelay", "5000ms", "outside the range" },
        { "EchoDelay", "250s", "unit 's'" },
        { "Mode", "2cents", "has no unit" },
        { "Mode", "retro", "not a value Mode understands" }, // the parameter itself would make it Rand
        { "EchoEnable", "on", "not a value" },
        { "Mix", "lots", "not a value" },
        { "Mix", " ", "empty value" },
    };

    VelmoraProcessor processor;
    for (const auto& c : cases)
    {
        const auto r = resolveParameterValue (*findParameter (processor, c.id), c.text);
        EXPECT_TRUE (r.error.contains (c.errorContains)) << c.id << "=" << c.text << " gave: " << r.error;
    }
}

TEST (ParameterAssignments, AppliesAllOrNothing)
{
    VelmoraProcessor processor;
    auto* mix = findParameter (processor, "Mix");
    auto* mode = findParameter (processor, "Mode");

    const auto unknown = applyAssignments (processor, { { "Mix", "90" }, { "mix", "10" } });
    EXPECT_TRUE (unknown.contains ("unknown parameter 'mix'")) << unknown;
    EXPECT_TRUE (unknown.contains ("did you mean Mix")) << unknown;
    EXPECT_FLOAT_EQ (mix->convertFrom0to1 (mix->getValue()), 50.0f) << "a bad assignment must leave the good ones unapplied";

    EXPECT_TRUE (applyAssignments (processor, { { "Mix", "90" }, { "Mode", "Multi" } }).isEmpty());
    EXPECT_FLOAT_EQ (mix->convertFrom0to1 (mix->getValue()), 90.0f);
    EXPECT_EQ (processor.getModeIndex(), 1);
    EXPECT_EQ (mode->getCurrentValueAsText(), "Multi");
}

TEST (ParameterAssignments, ListingHasOneLinePerHostParameterInOrder)
{
    VelmoraProcessor processor;
    const auto lines = juce::StringArray::fromLines (describeParameters (processor).trimEnd());
    ASSERT_EQ (lines.size(), 21);
    EXPECT_EQ (lines[0], "index\tID\tname\tlabel\tstart\tend\tdefault\tdefault text");
    EXPECT_EQ (lines[1], "0\tMode\tMode\t\t0\t15\t0\tRetro");
    EXPECT_EQ (lines[9], "8\tDetuneDepth\tDetune Depth\tcents\t0\t100\t50\t0.00");
    EXPECT_EQ (lines[15], "14\tEchoDelay\tEcho Delay\tms\t0\t100\t0\t0.1");
    EXPECT_EQ (lines[19], "18\tLowpass\tLowpass\tHz\t20\t20000\t20000\t20000.00");
    EXPECT_EQ (lines[20], "19\tMix\tMix\t%\t0\t100\t50\t50.00");
}
