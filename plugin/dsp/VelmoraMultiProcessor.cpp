#include "VelmoraMultiProcessor.h"

namespace
{
const GuardedBiquad::ShelfDesign multiShelf { 10053.096491487338, 0.8660253882408142, 0.930604875087738,
                                              -0.1339746117591858, 1.8660253882408142 };
}

VelmoraMultiProcessor::VelmoraMultiProcessor()
    : ChorusProcessorBase (4)
{
    const double phases[4] = { 0.0, 0.11, 0.25, 0.3 };
    for (int k = 0; k < 4; ++k)
        lfo[k] = std::make_unique<WavetableLfo> (phases[k]);
}

void VelmoraMultiProcessor::prepare (int blockSize, double fs)
{
    ChorusProcessorBase::prepare (blockSize, fs);
    for (auto& o : lfo)
        o->setSampleRate ((float) fs);
    const auto c = GuardedBiquad::highShelf (multiShelf, fs);
    for (auto& s : shelf)
        s.setCoefficientsAndReset (c);
}

void VelmoraMultiProcessor::reset()
{
    ChorusProcessorBase::reset();
    for (auto& s : shelf)
        s.resetState();
}

float VelmoraMultiProcessor::getMakeupGain (const ChorusParams& last) const
{
    return 1.0f + 2.0f * juce::jmin (2.0f * last.depth, 0.5f);
}

void VelmoraMultiProcessor::processSample (float* io[2], float* echoSend[2], const ChorusParams& p)
{
    const float d = p.depth;
    const float D = d * d * (2.0f - d);

    if (p.rate != lastRate)
    {
        lastRate = p.rate;
        const float f = rateRange.convertFrom0to1 (p.rate);
        for (int k = 3; k >= 0; --k)
            lfo[k]->setFrequency (f * lfoRatio[k]);
    }

    const float centre = baseDelayOffset + depthSpan * D;
    float sweep[4], tapL[4], tapR[4];
    for (int k = 3; k >= 0; --k)
        sweep[k] = lfo[k]->next();
    // Separate from the oscillators so that the four shapings (and their divisions) vectorise.
    for (int k = 0; k < 4; ++k)
    {
        const float m = shapeModulation (2.0f * sweep[k]) * 1.2375f * D * depthSpan;
        tapL[k] = centre + m;
        tapR[k] = centre - m;
    }

    if (p.width != lastWidth)
    {
        lastWidth = p.width;
        const float thetaL = (0.5f - 0.5f * p.width) * 1.5707964f;
        const float thetaR = (0.5f + 0.5f * p.width) * 1.5707964f;
        cosL = std::cos (thetaL);
        sinL = std::sin (thetaL);
        cosR = std::cos (thetaR);
        sinR = std::sin (thetaR);
    }

    const float fs = sampleRate;
    float sumL = 0.0f, sumR = 0.0f;
    float outL = 0.0f, outR = 0.0f;
    // Every left voice reads the shared left storage, every right one the right.
    float delayL[4], delayR[4], v[4], u[4];
    for (int k = 0; k < 4; ++k)
    {
        delayL[k] = tapL[k] * fs * 0.001f;
        delayR[k] = tapR[k] * fs * 0.001f;
    }
    ring->readInterpolated4 (0, delayL, v);
    ring->readInterpolated4 (1, delayR, u);
    v[0] = shelf[0].process (v[0]);
    u[1] = shelf[1].process (u[1]);
    for (int k = 0; k < 4; ++k)
    {
        sumL += v[k];
        outL += cosL * v[k];
        outR += sinL * v[k];
    }
    for (int k = 0; k < 4; ++k)
    {
        sumR += u[k];
        outL += cosR * u[k];
        outR += sinR * u[k];
    }

    *echoSend[0] = sumL * 0.25f;
    *echoSend[1] = sumR * 0.25f;
    *io[0] = outL * 0.25f;
    *io[1] = outR * 0.25f;
}

void VelmoraMultiProcessor::processBlock (float* left, float* right, const ChorusBlockParams& params, int n)
{
    runBlock (*this, left, right, params, n);
}
