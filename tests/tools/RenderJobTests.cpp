#include "RenderJob.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

#include <cmath>

namespace
{
/** A folder under the system's temporary directory, removed with everything in it. */
struct TempFolder
{
    TempFolder() : holder ("velmora-render"), dir (holder.getFile()) { dir.createDirectory(); }
    ~TempFolder() { dir.deleteRecursively(); }

    juce::TemporaryFile holder;
    juce::File dir;
};

/** Writes a short test WAV: a decaying chirp that is still loud where the file ends. */
juce::File writeTestWav (const juce::File& file, double rate, int channels, int numSamples, bool distinctChannels = true)
{
    juce::AudioBuffer<float> buffer (channels, numSamples);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < numSamples; ++i)
        {
            const double t = i / rate;
            buffer.setSample (c, i, (float) (0.4 * std::sin (juce::MathConstants<double>::twoPi * (220.0 + 400.0 * t + (distinctChannels ? 50.0 * c : 0.0)) * t)));
        }

    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (file.createOutputStream().release(), rate, (unsigned) channels, 24, {}, 0));
    EXPECT_NE (writer, nullptr);
    if (writer != nullptr)
        writer->writeFromAudioSampleBuffer (buffer, 0, numSamples);
    return file;
}

struct ReadBack
{
    juce::AudioBuffer<float> audio;
    double rate = 0.0;
    int bits = 0;
    bool floatingPoint = false;
};

ReadBack readWav (const juce::File& file)
{
    ReadBack r;
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (file.createInputStream().release(), true));
    EXPECT_NE (reader, nullptr) << file.getFullPathName();
    if (reader == nullptr)
        return r;
    r.rate = reader->sampleRate;
    r.bits = (int) reader->bitsPerSample;
    r.floatingPoint = reader->usesFloatingPointData;
    r.audio.setSize ((int) reader->numChannels, (int) reader->lengthInSamples);
    reader->read (&r.audio, 0, (int) reader->lengthInSamples, 0, true, true);
    return r;
}

RenderOptions fileOptions (const juce::File& in, const juce::File& out, std::vector<ParameterAssignment> assignments = {})
{
    RenderOptions o;
    o.action = RenderOptions::Action::render;
    o.inputPath = in.getFullPathName();
    o.outputPath = out.getFullPathName();
    o.assignments = std::move (assignments);
    o.blockSize = 256;
    o.seed = 7;
    return o;
}

bool identical (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    if (a.getNumChannels() != b.getNumChannels() || a.getNumSamples() != b.getNumSamples())
        return false;
    for (int c = 0; c < a.getNumChannels(); ++c)
        if (std::memcmp (a.getReadPointer (c), b.getReadPointer (c), sizeof (float) * (size_t) a.getNumSamples()) != 0)
            return false;
    return true;
}

const float silence = juce::Decibels::decibelsToGain ((float) RenderSession::silenceThresholdDb);

float stereoLevel (const juce::AudioBuffer<float>& b, int i) { return juce::jmax (std::abs (b.getSample (0, i)), std::abs (b.getSample (1, i))); }
} // namespace

TEST (RenderJob, RendersAFileWithItsTailAndStopsOnceQuiet)
{
    TempFolder temp;
    const double rate = 48000.0;
    const int inputLength = 12000;
    const auto in = writeTestWav (temp.dir.getChildFile ("in.wav"), rate, 2, inputLength);
    const auto out = temp.dir.getChildFile ("out.wav");

    const auto report = renderFile (fileOptions (in, out, { { "Mode", "Rand" }, { "Mix", "100" } }));
    ASSERT_TRUE (report.ok()) << report.error;

    const auto result = readWav (out);
    EXPECT_EQ (result.rate, rate);
    EXPECT_EQ (result.bits, 32);
    EXPECT_TRUE (result.floatingPoint);
    ASSERT_EQ (result.audio.getNumChannels(), 2);
    const int length = result.audio.getNumSamples();
    EXPECT_EQ (length, report.outputSamples);

    const int quiet = (int) std::lround (RenderSession::silenceSeconds * rate);
    ASSERT_GE (length, inputLength + quiet);
    ASSERT_LT (length, inputLength + (int) (60.0 * rate));
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < length; ++i)
            ASSERT_TRUE (std::isfinite (result.audio.getSample (c, i))) << c << ", " << i;

    // Exactly the last half second is below -90 dBFS: the render stops the moment it has
    // been quiet that long, and not before.
    for (int i = length - quiet; i < length; ++i)
        ASSERT_LT (stereoLevel (result.audio, i), silence) << i;
    EXPECT_GE (stereoLevel (result.audio, length - quiet - 1), silence);
    EXPECT_GT (result.audio.getMagnitude (0, inputLength), 0.1f);
}

TEST (RenderJob, SameSeedSameSamplesOtherSeedOtherModulation)
{
    const double rate = 44100.0;
    juce::AudioBuffer<float> input (1, 44100); // mono: plays on both sides
    for (int i = 0; i < input.getNumSamples(); ++i)
        input.setSample (0, i, 0.3f * (float) std::sin (0.05 * i));

    RenderSettings settings;
    settings.sampleRate = rate;
    settings.blockSize = 100;
    settings.seed = 11;
    settings.assignments = { { "Mode", "Rand" }, { "Mix", "100" } };

    juce::AudioBuffer<float> first, second, otherSeed;
    ASSERT_TRUE (renderBuffer (input, settings, first).ok());
    ASSERT_TRUE (renderBuffer (input, settings, second).ok());
    settings.seed = 12;
    ASSERT_TRUE (renderBuffer (input, settings, otherSeed).ok());

    ASSERT_EQ (first.getNumChannels(), 2);
    EXPECT_GT (first.getNumSamples(), input.getNumSamples());
    EXPECT_TRUE (identical (first, second));
    EXPECT_FALSE (identical (first, otherSeed)) << "the seed does not reach the random modulation";
}

TEST (RenderJob, TailStopsAtItsLimitEvenWhenStillRinging)
{
    // A 99 % echo at a second's delay is still loud long after the limit.
    const double rate = 22050.0;
    juce::AudioBuffer<float> input (2, 2205);
    for (int i = 0; i < input.getNumSamples(); ++i)
        for (int c = 0; c < 2; ++c)
            input.setSample (c, i, 0.5f * (float) std::sin (0.07 * i));

    RenderSettings settings;
    settings.sampleRate = rate;
    settings.blockSize = 4096;
    settings.tailLimitSeconds = 3.0;
    settings.assignments = { { "EchoDelay", "100" }, { "EchoFeedback", "99" }, { "Mix", "100" } };

    juce::AudioBuffer<float> output;
    const auto report = renderBuffer (input, settings, output);
    ASSERT_TRUE (report.ok()) << report.error;
    EXPECT_EQ (output.getNumSamples(), input.getNumSamples() + (int) (3.0 * rate));
    EXPECT_GT (output.getMagnitude (output.getNumSamples() - (int) rate, (int) rate), silence) << "the echo should still ring";
}

TEST (RenderJob, FormatsRatesAndMonoFiles)
{
    TempFolder temp;
    const auto mono = writeTestWav (temp.dir.getChildFile ("mono.wav"), 44100.0, 1, 4410);
    const auto dual = writeTestWav (temp.dir.getChildFile ("dual.wav"), 44100.0, 2, 4410, false);

    // A mono file plays exactly as the same signal on both sides would.
    auto monoOptions = fileOptions (mono, temp.dir.getChildFile ("mono-out.wav"), { { "Mode", "Multi" } });
    auto dualOptions = fileOptions (dual, temp.dir.getChildFile ("dual-out.wav"), { { "Mode", "Multi" } });
    monoOptions.format = dualOptions.format = SampleFormat::int24;
    ASSERT_TRUE (renderFile (monoOptions).ok());
    ASSERT_TRUE (renderFile (dualOptions).ok());
    const auto monoOut = readWav (temp.dir.getChildFile ("mono-out.wav"));
    EXPECT_EQ (monoOut.bits, 24);
    EXPECT_FALSE (monoOut.floatingPoint);
    EXPECT_EQ (monoOut.audio.getNumChannels(), 2);
    EXPECT_TRUE (identical (monoOut.audio, readWav (temp.dir.getChildFile ("dual-out.wav")).audio));

    // Another rate is resampled to it, so the output length follows the new rate.
    auto resampled = fileOptions (mono, temp.dir.getChildFile ("resampled.wav"));
    resampled.sampleRate = 96000.0;
    const auto report = renderFile (resampled);
    ASSERT_TRUE (report.ok()) << report.error;
    EXPECT_EQ (report.inputSamples, 9600);
    const auto up = readWav (temp.dir.getChildFile ("resampled.wav"));
    EXPECT_EQ (up.rate, 96000.0);
    EXPECT_GT (up.audio.getMagnitude (0, 9600), 0.1f);
}

TEST (RenderJob, FailuresLeaveOutAloneAndSayWhy)
{
    TempFolder temp;
    const auto in = writeTestWav (temp.dir.getChildFile ("in.wav"), 48000.0, 2, 4800);
    const auto out = temp.dir.getChildFile ("out.wav");
    const auto garbage = temp.dir.getChildFile ("garbage.wav");
    garbage.replaceWithText ("not audio at all");
    const auto slow = writeTestWav (temp.dir.getChildFile ("slow.wav"), 8000.0, 2, 800);

    struct Case
    {
        juce::File input;
        std::vector<ParameterAssignment> assignments;
        const char* errorContains;
    };
    const Case cases[] = {
        { in, { { "Mix", "50" }, { "Depth", "10" } }, "unknown parameter 'Depth'" },
        { in, { { "Mix", "lots" } }, "not a value" },
        { temp.dir.getChildFile ("missing.wav"), {}, "no such file" },
        { garbage, {}, "not a WAV, AIFF, FLAC or Ogg file" },
        { slow, {}, "unsupported rate" },
    };

    for (bool outExists : { false, true })
        for (const auto& c : cases)
        {
            if (outExists)
                out.replaceWithText ("earlier render");
            else
                out.deleteFile();

            const auto report = renderFile (fileOptions (c.input, out, c.assignments));
            EXPECT_TRUE (report.error.contains (c.errorContains)) << report.error;
            if (outExists)
                EXPECT_EQ (out.loadFileAsString(), "earlier render") << c.errorContains;
            else
                EXPECT_FALSE (out.exists()) << c.errorContains;

            // Nothing half-written lies around either.
            EXPECT_EQ (temp.dir.getNumberOfChildFiles (juce::File::findFilesAndDirectories), outExists ? 4 : 3) << c.errorContains;
        }
}

TEST (RenderJob, OutputIntoAMissingFolderFails)
{
    TempFolder temp;
    const auto in = writeTestWav (temp.dir.getChildFile ("in.wav"), 48000.0, 2, 480);
    const auto report = renderFile (fileOptions (in, temp.dir.getChildFile ("no/such/folder/out.wav")));
    EXPECT_TRUE (report.error.contains ("cannot write output")) << report.error;
}
