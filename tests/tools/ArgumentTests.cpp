#include "RenderOptions.h"

#include <gtest/gtest.h>

namespace
{
ParsedArguments parse (const char* line) { return parseRenderArguments (juce::StringArray::fromTokens (line, " ", "")); }
} // namespace

TEST (RenderArguments, GoodCommandLines)
{
    using Action = RenderOptions::Action;
    const auto none = parse ("");
    ASSERT_TRUE (none.ok()) << none.error;
    EXPECT_EQ (none.options.action, Action::demo);
    EXPECT_EQ (none.options.blockSize, 512);
    EXPECT_EQ (none.options.sampleRate, 0.0);
    EXPECT_EQ (none.options.format, SampleFormat::float32);

    const auto full = parse ("in.flac out.wav --set Mix=70 --set=EchoDelay=250ms --block 1 --rate 96000 --seed -3 --format 24");
    ASSERT_TRUE (full.ok()) << full.error;
    const auto& o = full.options;
    EXPECT_EQ (o.action, Action::render);
    EXPECT_EQ (o.inputPath, "in.flac");
    EXPECT_EQ (o.outputPath, "out.wav");
    ASSERT_EQ (o.assignments.size(), 2u);
    EXPECT_EQ (o.assignments[0].id, "Mix");
    EXPECT_EQ (o.assignments[0].value, "70");
    EXPECT_EQ (o.assignments[1].id, "EchoDelay");
    EXPECT_EQ (o.assignments[1].value, "250ms");
    EXPECT_EQ (o.blockSize, 1);
    EXPECT_EQ (o.sampleRate, 96000.0);
    EXPECT_EQ (o.seed, -3);
    EXPECT_EQ (o.format, SampleFormat::int24);

    struct Case
    {
        const char* line;
        Action action;
    };
    for (const auto& c : { Case { "--list-parameters", Action::listParameters }, Case { "--help in.wav", Action::help },
                           Case { "-h", Action::help }, Case { "--block 8192 --rate 22050", Action::demo },
                           Case { "--rate 192000 --format float", Action::demo } })
    {
        const auto r = parse (c.line);
        EXPECT_TRUE (r.ok()) << c.line << ": " << r.error;
        EXPECT_EQ (r.options.action, c.action) << c.line;
    }
}

TEST (RenderArguments, BadCommandLinesNameTheProblem)
{
    struct Case
    {
        const char* line;
        const char* errorContains;
    };
    const Case cases[] = {
        { "in.wav", "missing OUT" },
        { "a.wav b.wav c.wav", "too many files" },
        { "--set Mix", "expected ID=VALUE" },
        { "--set Mix=", "empty value for Mix" },
        { "--set =70", "missing parameter ID" },
        { "in.wav out.wav --set", "--set needs a value" },
        { "--block 0", "1 to 8192" },
        { "--block 8193", "1 to 8192" },
        { "--block 12x", "1 to 8192" },
        { "--block 2.5", "1 to 8192" },
        { "--rate 8000", "unsupported rate" },
        { "--rate 384000", "unsupported rate" },
        { "--rate fast", "not a number" },
        { "--rate nan", "not a number" },
        { "--seed x", "whole number" },
        { "--format 16", "float or 24" },
        { "--frobnicate", "unknown option" },
    };
    for (const auto& c : cases)
    {
        const auto r = parse (c.line);
        EXPECT_FALSE (r.ok()) << c.line;
        EXPECT_TRUE (r.error.contains (c.errorContains)) << c.line << " gave: " << r.error;
        EXPECT_FALSE (r.error.containsChar ('\n')) << c.line;
    }
}
