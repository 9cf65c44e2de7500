#include "DemoSession.h"
#include "DemoSignal.h"
#include "RenderPicture.h"

#include <gtest/gtest.h>

#include <cmath>

TEST (DemoSignal, DeterministicStereoAtMinusSixDb)
{
    const auto a = makeDemoSignal (48000.0);
    const auto b = makeDemoSignal (48000.0);
    ASSERT_EQ (a.getNumChannels(), 2);
    EXPECT_EQ (a.getNumSamples(), 6 * 48000);
    for (int c = 0; c < 2; ++c)
        EXPECT_EQ (std::memcmp (a.getReadPointer (c), b.getReadPointer (c), sizeof (float) * (size_t) a.getNumSamples()), 0);
    EXPECT_NEAR (juce::Decibels::gainToDecibels (a.getMagnitude (0, a.getNumSamples())), -6.0f, 0.01f);

    // Genuinely stereo, and not silent in either half.
    const int half = a.getNumSamples() / 2;
    EXPECT_GT (a.getRMSLevel (0, 0, half), 0.01f);
    EXPECT_GT (a.getRMSLevel (1, half, half), 0.01f);
    EXPECT_FALSE (std::memcmp (a.getReadPointer (0), a.getReadPointer (1), sizeof (float) * (size_t) half) == 0);
}

TEST (SpectrogramPicture, ASineLightsTheRowOfItsFrequency)
{
    const double rate = 48000.0;
    for (double hz : { 100.0, 1000.0, 8000.0 })
    {
        juce::AudioBuffer<float> sine (2, 24000);
        for (int i = 0; i < sine.getNumSamples(); ++i)
            for (int c = 0; c < 2; ++c)
                sine.setSample (c, i, 0.5f * (float) std::sin (juce::MathConstants<double>::twoPi * hz * i / rate));

        const auto image = SpectrogramPicture::draw (sine, sine, rate, "sine");
        ASSERT_EQ (image.getWidth(), SpectrogramPicture::width);
        ASSERT_EQ (image.getHeight(), SpectrogramPicture::height());

        for (int panel = 0; panel < 2; ++panel)
        {
            const auto area = SpectrogramPicture::spectrumArea (panel);
            const int x = area.getCentreX();
            int brightest = -1;
            int best = -1;
            for (int row = 0; row < area.getHeight(); ++row)
            {
                const auto c = image.getPixelAt (x, area.getY() + row);
                const int sum = c.getRed() + c.getGreen() + c.getBlue();
                if (sum > best)
                {
                    best = sum;
                    brightest = row;
                }
            }
            EXPECT_NEAR (brightest, SpectrogramPicture::rowForFrequency (hz, area.getHeight(), rate), 2.0) << hz << " Hz";
        }
    }
    EXPECT_NEAR (SpectrogramPicture::frequencyForRow (SpectrogramPicture::rowForFrequency (440.0, 250, rate), 250, rate), 440.0, 1e-6);
}

TEST (Demo, WritesEveryRenderWithPictureAndSaneFigures)
{
    // runDemo creates the folder; this removes it whatever the outcome.
    struct Cleanup
    {
        juce::TemporaryFile holder { "velmora-demo" };
        ~Cleanup() { holder.getFile().deleteRecursively(); }
    } cleanup;
    const auto folder = cleanup.holder.getFile();

    RenderOptions options;
    options.blockSize = 1000;
    const auto result = runDemo (folder, options, {}, 1.0);
    ASSERT_TRUE (result.error.isEmpty()) << result.error;

    const auto renders = demoRenders();
    ASSERT_EQ (result.rows.size(), renders.size() + 1);
    EXPECT_EQ (result.rows[0].name, "input");
    EXPECT_TRUE (folder.getChildFile ("input.wav").existsAsFile());

    for (size_t i = 0; i < renders.size(); ++i)
    {
        const auto& row = result.rows[i + 1];
        EXPECT_EQ (row.name, renders[i].name);
        EXPECT_TRUE (folder.getChildFile (row.name + ".wav").existsAsFile()) << row.name;
        const auto picture = juce::ImageFileFormat::loadFrom (folder.getChildFile (row.name + ".png"));
        EXPECT_EQ (picture.getWidth(), SpectrogramPicture::width) << row.name;
        EXPECT_EQ (picture.getHeight(), SpectrogramPicture::height()) << row.name;

        EXPECT_EQ (row.stats.numNonFinite(), 0) << row.name;
        EXPECT_NEAR (row.stats.rmsDb(), result.rows[0].stats.rmsDb(), 10.0) << row.name;
        EXPECT_LE (row.stats.peakDb(), 0.1) << row.name;
        EXPECT_GE (row.stats.correlation(), -1.0) << row.name;
        EXPECT_LE (row.stats.correlation(), 1.0) << row.name;
        EXPECT_GT (row.seconds, 1.0) << row.name;
    }

    const auto table = juce::StringArray::fromLines (formatDemoTable (result.rows).trimEnd());
    EXPECT_EQ (table.size(), (int) renders.size() + 2);
}
