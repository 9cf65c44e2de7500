#include "RenderPicture.h"

#include <kiss_fftr.h>

#include <array>
#include <cmath>
#include <vector>

namespace
{
constexpr int marginLeft = 46, marginRight = 14, titleHeight = 26, labelHeight = 18, waveHeight = 110, spectrumHeight = 250,
              innerGap = 4, panelGap = 10, axisHeight = 18;
constexpr int panelHeight = labelHeight + waveHeight + innerGap + spectrumHeight;

const juce::Colour background (0xff14161b), leftColour (0xff5ec8d8), rightColour (0xffe8a15a), gridColour (0x30ffffff),
    textColour (0xffd8dbe2), tailMarker (0xc0ff5a7a);

/** Without any installed typeface JUCE has nothing to draw text with; the picture then
    goes without labels rather than risking the renderer on a bare machine. */
bool canDrawText()
{
    static const bool available = ! juce::Font::findAllTypefaceNames().isEmpty();
    return available;
}

/** Seconds between grid lines: the first of 1, 2, 5, 10, 20, 30 s that keeps lines apart. */
int gridStep (double seconds, int pixels)
{
    for (int step : { 1, 2, 5, 10, 20, 30 })
        if (step / seconds * pixels >= 60.0)
            return step;
    return 60;
}

/** A perceptual dark-to-bright map: black, indigo, magenta, orange, pale yellow. */
const std::array<juce::PixelRGB, 256>& colourMap()
{
    static const auto table = []
    {
        juce::ColourGradient gradient (juce::Colour (0xff000004), 0.0f, 0.0f, juce::Colour (0xfffcffa4), 1.0f, 0.0f, false);
        gradient.addColour (0.25, juce::Colour (0xff3b0f70));
        gradient.addColour (0.5, juce::Colour (0xff8c2981));
        gradient.addColour (0.7, juce::Colour (0xffde4968));
        gradient.addColour (0.85, juce::Colour (0xfffe9f6d));
        std::array<juce::PixelRGB, 256> t {};
        for (size_t i = 0; i < t.size(); ++i)
        {
            const auto c = gradient.getColourAtPosition ((double) i / 255.0);
            t[i].setARGB (255, c.getRed(), c.getGreen(), c.getBlue());
        }
        return t;
    }();
    return table;
}

int fftSizeFor (double sampleRate)
{
    // About 85 ms whatever the rate: fine enough in frequency for the low strings.
    return juce::nextPowerOfTwo ((int) (sampleRate * 0.085));
}

/** Column-by-row levels in dB, the power of both channels averaged so that opposite
    channels do not cancel. */
std::vector<float> spectrogramDb (const juce::AudioBuffer<float>& audio, juce::int64 timelineLength, int columns, int rows,
                                  double sampleRate)
{
    const int fftSize = fftSizeFor (sampleRate);
    const int bins = fftSize / 2 + 1;
    const double binHz = sampleRate / fftSize;

    std::vector<float> window ((size_t) fftSize);
    double windowSum = 0.0;
    for (int i = 0; i < fftSize; ++i)
    {
        window[(size_t) i] = 0.5f - 0.5f * (float) std::cos (juce::MathConstants<double>::twoPi * i / fftSize);
        windowSum += window[(size_t) i];
    }
    // A full-scale sine peaks at 0 dB.
    const double reference = (windowSum * 0.5) * (windowSum * 0.5);

    // Each row takes the strongest bin inside its band, or interpolates where bins are wider than rows.
    struct RowBins
    {
        int first, last;
        double centre;
    };
    std::vector<RowBins> rowBins ((size_t) rows);
    for (int r = 0; r < rows; ++r)
    {
        const double lo = SpectrogramPicture::frequencyForRow (r + 0.5, rows, sampleRate) / binHz;
        const double hi = SpectrogramPicture::frequencyForRow (r - 0.5, rows, sampleRate) / binHz;
        const double centre = SpectrogramPicture::frequencyForRow (r, rows, sampleRate) / binHz;
        rowBins[(size_t) r] = { (int) std::ceil (lo), juce::jmin (bins - 1, (int) std::floor (hi)), centre };
    }

    kiss_fftr_cfg fft = kiss_fftr_alloc (fftSize, 0, nullptr, nullptr);
    std::vector<kiss_fft_scalar> frame ((size_t) fftSize);
    std::vector<kiss_fft_cpx> spectrum ((size_t) bins);
    std::vector<double> power ((size_t) bins);
    std::vector<float> levels ((size_t) columns * (size_t) rows, SpectrogramPicture::floorDb);

    const int channels = juce::jmin (2, audio.getNumChannels());
    const auto available = (juce::int64) audio.getNumSamples();
    for (int col = 0; col < columns; ++col)
    {
        const auto centre = (juce::int64) ((col + 0.5) * (double) timelineLength / columns);
        const auto start = centre - fftSize / 2;
        if (start >= available)
            break;

        std::fill (power.begin(), power.end(), 0.0);
        for (int c = 0; c < channels; ++c)
        {
            const float* data = audio.getReadPointer (c);
            for (int i = 0; i < fftSize; ++i)
            {
                const auto at = start + i;
                frame[(size_t) i] = (at >= 0 && at < available) ? data[at] * window[(size_t) i] : 0.0f;
            }
            kiss_fftr (fft, frame.data(), spectrum.data());
            for (int k = 0; k < bins; ++k)
                power[(size_t) k] += ((double) spectrum[(size_t) k].r * spectrum[(size_t) k].r
                                      + (double) spectrum[(size_t) k].i * spectrum[(size_t) k].i)
                                     / channels;
        }

        for (int r = 0; r < rows; ++r)
        {
            const auto& rb = rowBins[(size_t) r];
            double p = 0.0;
            if (rb.last >= rb.first)
                for (int k = rb.first; k <= rb.last; ++k)
                    p = juce::jmax (p, power[(size_t) k]);
            else
            {
                const int k = juce::jlimit (0, bins - 2, (int) rb.centre);
                const double frac = juce::jlimit (0.0, 1.0, rb.centre - k);
                p = power[(size_t) k] * (1.0 - frac) + power[(size_t) k + 1] * frac;
            }
            const double db = p > 0.0 ? 10.0 * std::log10 (p / reference) : (double) SpectrogramPicture::floorDb;
            levels[(size_t) col * (size_t) rows + (size_t) r] = (float) juce::jmax ((double) SpectrogramPicture::floorDb, db);
        }
    }
    kiss_fftr_free (fft);
    return levels;
}

void drawSpectrum (juce::Image& image, juce::Rectangle<int> area, const juce::AudioBuffer<float>& audio, juce::int64 timelineLength,
                   double sampleRate)
{
    const int columns = area.getWidth(), rows = area.getHeight();
    const auto levels = spectrogramDb (audio, timelineLength, columns, rows, sampleRate);
    const auto& map = colourMap();

    juce::Image::BitmapData pixels (image, area.getX(), area.getY(), columns, rows, juce::Image::BitmapData::writeOnly);
    for (int col = 0; col < columns; ++col)
        for (int r = 0; r < rows; ++r)
        {
            const float db = levels[(size_t) col * (size_t) rows + (size_t) r];
            const auto index = (size_t) juce::jlimit (0, 255, (int) std::lround ((1.0f - db / SpectrogramPicture::floorDb) * 255.0f));
            const auto& c = map[index];
            pixels.setPixelColour (col, r, juce::Colour (c.getRed(), c.getGreen(), c.getBlue()));
        }
}

void drawWave (juce::Graphics& g, juce::Rectangle<int> area, const juce::AudioBuffer<float>& audio, juce::int64 timelineLength)
{
    // Left channel in the upper half, right in the lower.
    const int halfHeight = area.getHeight() / 2;
    for (int c = 0; c < 2; ++c)
    {
        const float* data = audio.getReadPointer (juce::jmin (c, audio.getNumChannels() - 1));
        const float mid = (float) area.getY() + halfHeight * (c + 0.5f);
        const float scale = halfHeight * 0.48f;
        g.setColour (gridColour);
        g.drawHorizontalLine ((int) mid, (float) area.getX(), (float) area.getRight());
        g.setColour (c == 0 ? leftColour : rightColour);
        for (int x = 0; x < area.getWidth(); ++x)
        {
            const auto from = (juce::int64) ((double) x * timelineLength / area.getWidth());
            const auto to = juce::jmin ((juce::int64) audio.getNumSamples(), (juce::int64) ((double) (x + 1) * timelineLength / area.getWidth()));
            if (from >= to)
                continue;
            const auto range = juce::FloatVectorOperations::findMinAndMax (data + from, (int) (to - from));
            const float top = mid - juce::jlimit (-1.0f, 1.0f, range.getEnd()) * scale;
            const float bottom = mid - juce::jlimit (-1.0f, 1.0f, range.getStart()) * scale;
            g.drawVerticalLine (area.getX() + x, top, juce::jmax (top + 1.0f, bottom));
        }
    }
}

void drawGrid (juce::Graphics& g, juce::Rectangle<int> wave, juce::Rectangle<int> spectrum, juce::int64 timelineLength, double sampleRate)
{
    const double seconds = (double) timelineLength / sampleRate;
    g.setColour (gridColour);
    for (int s = gridStep (seconds, wave.getWidth()); s < seconds; s += gridStep (seconds, wave.getWidth()))
    {
        const float x = (float) wave.getX() + (float) (s / seconds * wave.getWidth());
        g.drawVerticalLine ((int) x, (float) wave.getY(), (float) wave.getBottom());
        g.drawVerticalLine ((int) x, (float) spectrum.getY(), (float) spectrum.getBottom());
    }
    for (double hz : { 100.0, 1000.0, 10000.0 })
        if (hz < sampleRate * 0.5)
        {
            const auto y = spectrum.getY() + (int) SpectrogramPicture::rowForFrequency (hz, spectrum.getHeight(), sampleRate);
            g.drawHorizontalLine (y, (float) spectrum.getX(), (float) spectrum.getRight());
            if (canDrawText())
            {
                g.setColour (textColour);
                g.drawText (hz >= 1000.0 ? juce::String ((int) (hz / 1000.0)) + "k" : juce::String ((int) hz),
                            juce::Rectangle<int> (0, y - 8, marginLeft - 6, 16), juce::Justification::centredRight);
                g.setColour (gridColour);
            }
        }
}

int panelTop (int panel) { return titleHeight + panel * (panelHeight + panelGap); }

} // namespace

int SpectrogramPicture::height() { return panelTop (2) - panelGap + axisHeight; }

juce::Rectangle<int> SpectrogramPicture::waveArea (int panel)
{
    return { marginLeft, panelTop (panel) + labelHeight, width - marginLeft - marginRight, waveHeight };
}

juce::Rectangle<int> SpectrogramPicture::spectrumArea (int panel)
{
    return { marginLeft, waveArea (panel).getBottom() + innerGap, width - marginLeft - marginRight, spectrumHeight };
}

double SpectrogramPicture::rowForFrequency (double hz, int rows, double sampleRate)
{
    const double top = sampleRate * 0.5;
    const double position = std::log (hz / lowestHz) / std::log (top / lowestHz); // 0 bottom .. 1 top
    return (1.0 - position) * (rows - 1);
}

double SpectrogramPicture::frequencyForRow (double row, int rows, double sampleRate)
{
    const double top = sampleRate * 0.5;
    const double position = 1.0 - row / (rows - 1);
    return lowestHz * std::pow (top / lowestHz, position);
}

juce::Image SpectrogramPicture::draw (const juce::AudioBuffer<float>& input, const juce::AudioBuffer<float>& output, double sampleRate,
                                      const juce::String& title)
{
    juce::Image image (juce::Image::RGB, width, height(), true);
    juce::Graphics g (image);
    g.fillAll (background);

    // The output is the longer (it carries the tail): both panels share its time axis.
    const auto timeline = (juce::int64) juce::jmax (input.getNumSamples(), output.getNumSamples(), 1);
    const juce::AudioBuffer<float>* sources[2] = { &input, &output };

    for (int panel = 0; panel < 2; ++panel)
    {
        const auto wave = waveArea (panel), spectrum = spectrumArea (panel);
        drawSpectrum (image, spectrum, *sources[panel], timeline, sampleRate);
        drawWave (g, wave, *sources[panel], timeline);
        drawGrid (g, wave, spectrum, timeline, sampleRate);

        if (panel == 1 && input.getNumSamples() < timeline)
        {
            // Where the input stops and the tail begins.
            const int x = wave.getX() + (int) ((double) input.getNumSamples() / timeline * wave.getWidth());
            g.setColour (tailMarker);
            g.drawVerticalLine (x, (float) wave.getY(), (float) spectrum.getBottom());
        }

        if (canDrawText())
        {
            g.setColour (textColour);
            g.setFont (13.0f);
            g.drawText (panel == 0 ? "input" : "output (the red line marks where the tail begins)",
                        juce::Rectangle<int> (marginLeft, panelTop (panel), width - marginLeft - marginRight, labelHeight),
                        juce::Justification::centredLeft);
        }
    }

    if (canDrawText())
    {
        g.setColour (textColour);
        g.setFont (juce::Font (16.0f, juce::Font::bold));
        g.drawText (title, juce::Rectangle<int> (marginLeft, 0, width - marginLeft - marginRight, titleHeight),
                    juce::Justification::centredLeft);

        g.setFont (12.0f);
        const double seconds = (double) timeline / sampleRate;
        const auto axis = spectrumArea (1).getBottom() + 2;
        const int step = gridStep (seconds, waveArea (1).getWidth());
        for (int s = 0; s < seconds; s += step)
        {
            const int x = marginLeft + (int) (s / seconds * waveArea (1).getWidth());
            g.drawText (juce::String (s) + " s", juce::Rectangle<int> (x + 2, axis, 40, axisHeight - 2), juce::Justification::centredLeft);
        }
    }
    return image;
}

juce::String SpectrogramPicture::writePng (const juce::Image& image, const juce::File& target)
{
    juce::TemporaryFile temp (target);
    {
        auto stream = temp.getFile().createOutputStream();
        if (stream == nullptr || ! juce::PNGImageFormat().writeImageToStream (image, *stream))
            return "cannot write " + target.getFullPathName().quoted ('\'');
    }
    if (! temp.overwriteTargetFileWithTemporary())
        return "cannot replace " + target.getFullPathName().quoted ('\'');
    return {};
}
