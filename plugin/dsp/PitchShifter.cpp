#include "PitchShifter.h"

#include "RealFft.h"

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
    for (int s = 0; s < n; ++s)
    {
        inFifo[(size_t) fifoPosition] = samples[s];
        if (++fifoPosition >= frameSize)
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

    const float pi = juce::MathConstants<float>::pi;
    for (int k = 0; k < bins; ++k)
    {
        const float re = X[k].real(), im = X[k].imag();
        const float magnitude = std::sqrt (re * re + im * im);
        const float phi = std::atan2 (im, re);
        float t = phi - lastPhase[(size_t) k];
        lastPhase[(size_t) k] = phi;
        t -= (float) k * expectedPhaseStep;
        int q = (int) (t / pi);
        if (q & 1)
            q += q >= 0 ? 1 : -1;
        t -= pi * (float) q;
        analysisFrequency[(size_t) k] = (t * oversamplingFactor + (float) k) * binWidth;
        analysisMagnitude[(size_t) k] = magnitude;
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

    for (int k = 0; k < bins; ++k)
    {
        const float t = (synthesisFrequency[(size_t) k] - (float) k * binWidth) / binWidth / oversamplingFactor
                        + (float) k * expectedPhaseStep;
        float sum = sumPhase[(size_t) k] + t;
        // Left alone the running phase grows by up to ~pi/2 per bin and hop, and within a
        // minute single precision can no longer resolve it: the high bins turn to noise.
        // Folding it back into one turn now and then keeps the angle and its precision.
        if (std::abs (sum) > phaseFoldLimit)
            sum = (float) std::remainder ((double) sum, juce::MathConstants<double>::twoPi);
        sumPhase[(size_t) k] = sum;
        const float angle = phaseSpread * randomPhase[(size_t) k] + sumPhase[(size_t) k];
        const float mag = synthesisMagnitude[(size_t) k];
        X[k] = { mag * std::cos (angle), mag * std::sin (angle) };
    }

    fft->inverse (X, w);

    for (int i = 0; i < N; ++i)
        outputAccumulator[(size_t) i] += w[i] * synthesisWindow[(size_t) i];

    finishHop();
}
