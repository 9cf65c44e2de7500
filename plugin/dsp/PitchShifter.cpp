#include "PitchShifter.h"

#include "RealFft.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr float phaseFoldLimit = 1024.0f * juce::MathConstants<float>::pi;
}

PitchShifter::PitchShifter (int amountSeed, int phaseSeed, float scale)
    : outputScale (scale), amountSource (amountSeed), phaseSource (phaseSeed)
{
    setFrameSize (512);
}

PitchShifter::~PitchShifter() = default;

void PitchShifter::setFrameSize (int N)
{
    if (N == frameSize && fft != nullptr)
        return;

    frameSize = N;
    half = N / 2;
    bins = half + 1;
    hop = N / oversampling;
    fifoLatency = N - hop;
    fifoPosition = fifoLatency;
    expectedPhaseStep = juce::MathConstants<float>::twoPi * (float) hop / (float) N;

    for (auto* v : { &inFifo, &outFifo, &work, &window, &synthesisWindow })
        v->assign ((size_t) N, 0.0f);
    outputAccumulator.assign ((size_t) (2 * N), 0.0f);
    for (auto* v : { &lastPhase, &sumPhase, &analysisMagnitude, &analysisFrequency, &synthesisMagnitude,
                     &synthesisFrequency, &randomPhase, &randomAmount })
        v->assign ((size_t) bins, 0.0f);
    spectrum.assign ((size_t) bins, {});

    for (int i = 0; i < N; ++i)
    {
        window[(size_t) i] = (1.0f - std::cos (juce::MathConstants<float>::twoPi * (float) i / (float) (N - 1))) * 0.5f;
        synthesisWindow[(size_t) i] = window[(size_t) i] * outputScale / (float) (oversampling * half);
    }

    for (int k = 0; k < bins; ++k)
    {
        const float u = phaseSource.nextFloat();
        randomPhase[(size_t) k] = u >= 1.0f ? 3.141592f : (2.0f * u - 1.0f) * juce::MathConstants<float>::pi;
        const float a = amountSource.nextFloat();
        randomAmount[(size_t) k] = a >= 1.0f ? 0.9999999f : a;
    }

    fft = std::make_unique<RealFft> (N);

    if (sampleRate > 0.0f)
        setSampleRate (sampleRate);
}

void PitchShifter::setSampleRate (float fs)
{
    sampleRate = fs;
    binWidth = fs / (float) frameSize;
    std::fill (sumPhase.begin(), sumPhase.end(), 0.0f);
    std::fill (lastPhase.begin(), lastPhase.end(), 0.0f);
    std::fill (outputAccumulator.begin(), outputAccumulator.end(), 0.0f);
    std::fill (inFifo.begin(), inFifo.end(), 0.0f);
    std::fill (outFifo.begin(), outFifo.end(), 0.0f);
}

void PitchShifter::feedIdle (const float* samples, int n) noexcept
{
    for (int s = 0; s < n;)
    {
        const int m = std::min (n - s, frameSize - fifoPosition);
        std::copy (samples + s, samples + s + m, inFifo.begin() + fifoPosition);
        s += m;
        fifoPosition += m;
        if (fifoPosition >= frameSize)
        {
            fifoPosition = fifoLatency;
            for (int i = 0; i < frameSize; ++i)
            {
                const float w = inFifo[(size_t) i] * window[(size_t) i];
                outputAccumulator[(size_t) i] += w * synthesisWindow[(size_t) i];
            }
            finishHop();
        }
    }
}

void PitchShifter::finishHop() noexcept
{
    std::copy (outputAccumulator.begin(), outputAccumulator.begin() + hop, outFifo.begin());
    std::copy (outputAccumulator.begin() + hop, outputAccumulator.begin() + hop + frameSize, outputAccumulator.begin());
    std::copy (inFifo.begin() + hop, inFifo.end(), inFifo.begin());
}

void PitchShifter::processFrame() noexcept
{
    const int N = frameSize;
    float* w = work.data();
    for (int i = 0; i < N; ++i)
        w[i] = inFifo[(size_t) i] * window[(size_t) i];

    auto* X = spectrum.data();
    fft->forward (w, X);

    // The per-bin work runs as separate passes so that everything but the atan2 and
    // sincos calls vectorises; each bin's arithmetic is unchanged.
    const float pi = juce::MathConstants<float>::pi;
    float* magnitudes = analysisMagnitude.data();
    float* frequencies = analysisFrequency.data();
    float* previous = lastPhase.data();
    for (int k = 0; k < bins; ++k)
    {
        const float re = X[k].real(), im = X[k].imag();
        magnitudes[k] = std::sqrt (re * re + im * im);
    }
    for (int k = 0; k < bins; ++k)
        frequencies[k] = std::atan2 (X[k].imag(), X[k].real());
    for (int k = 0; k < bins; ++k)
    {
        const float phi = frequencies[k];
        float t = phi - previous[k];
        previous[k] = phi;
        t -= (float) k * expectedPhaseStep;
        // A NaN (from a non-finite input sample) must not reach the int conversion, where it
        // is undefined: std::max maps it to the bound. The bin stays NaN either way and the
        // processor's guard resets the chain. Finite values are far inside the bounds, and
        // this form still vectorises.
        int q = (int) std::max (-1.0e9f, std::min (t / pi, 1.0e9f));
        if (q & 1)
            q += q >= 0 ? 1 : -1;
        t -= pi * (float) q;
        frequencies[k] = (t * oversamplingFactor + (float) k) * binWidth;
    }

    if (pitch == 1.0f && jitter == 0.0f)
    {
        std::copy (analysisMagnitude.begin(), analysisMagnitude.end(), synthesisMagnitude.begin());
        std::copy (analysisFrequency.begin(), analysisFrequency.end(), synthesisFrequency.begin());
    }
    else
    {
        std::fill (synthesisMagnitude.begin(), synthesisMagnitude.end(), 0.0f);
        std::fill (synthesisFrequency.begin(), synthesisFrequency.end(), 0.0f);
        for (int k = 0; k < bins; ++k)
        {
            const int j = (int) ((float) k * pitch);
            if (j <= half)
            {
                synthesisMagnitude[(size_t) j] += analysisMagnitude[(size_t) k];
                synthesisFrequency[(size_t) j] = randomAmount[(size_t) k] * jitter + analysisFrequency[(size_t) k] * pitch;
            }
        }
    }

    float* sums = sumPhase.data();
    float* angles = synthesisFrequency.data();
    int needsFold = 0; // an int, not a bool: the reduction then vectorises
    for (int k = 0; k < bins; ++k)
    {
        const float t = (angles[k] - (float) k * binWidth) / binWidth / oversamplingFactor + (float) k * expectedPhaseStep;
        const float sum = sums[k] + t;
        needsFold |= std::abs (sum) > phaseFoldLimit;
        sums[k] = sum;
    }
    // Left alone the running phase grows by up to ~pi/2 per bin and hop, and within a
    // minute single precision can no longer resolve it: the high bins turn to noise.
    // Folding it back into one turn now and then keeps the angle and its precision.
    if (needsFold)
        for (int k = 0; k < bins; ++k)
            if (std::abs (sums[k]) > phaseFoldLimit)
                sums[k] = (float) std::remainder ((double) sums[k], juce::MathConstants<double>::twoPi);
    for (int k = 0; k < bins; ++k)
        angles[k] = phaseSpread * randomPhase[(size_t) k] + sums[k];
    for (int k = 0; k < bins; ++k)
    {
        const float mag = synthesisMagnitude[(size_t) k];
        X[k] = { mag * std::cos (angles[k]), mag * std::sin (angles[k]) };
    }

    fft->inverse (X, w);

    for (int i = 0; i < N; ++i)
        outputAccumulator[(size_t) i] += w[i] * synthesisWindow[(size_t) i];

    finishHop();
}
