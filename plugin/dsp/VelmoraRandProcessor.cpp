#include "VelmoraRandProcessor.h"

namespace
{
const GuardedBiquad::ShelfDesign randShelf { 6283.185307179586, 0.9486832618713379, 0.9740037322044373,
                                             -0.05131673812866211, 1.948683261871338 };
}

VelmoraRandProcessor::VelmoraRandProcessor()
    : ChorusProcessorBase (8)
{
    for (int k = 0; k < 4; ++k)
    {
        rateMultiplier[k] = std::pow (7.282f / baseDelay[k], 0.7f);
        rateMultiplier[k + 4] = 1.1f * rateMultiplier[k];
    }
}

void VelmoraRandProcessor::prepare (int blockSize, double fs)
{
    ChorusProcessorBase::prepare (blockSize, fs);
    for (auto& g : generator)
        g.setSampleRate ((float) fs);
    const auto c = GuardedBiquad::highShelf (randShelf, fs);
    for (auto& s : shelf)
        s.setCoefficientsAndReset (c);
}

void VelmoraRandProcessor::reset()
{
    ChorusProcessorBase::reset();
    for (auto& s : shelf)
        s.resetState();
}

float VelmoraRandProcessor::getMakeupGain (const ChorusParams& last) const
{
    return 2.0f + 2.0f * juce::jmin (2.0f * last.depth, 0.5f);
}

void VelmoraRandProcessor::updatePan (float w) noexcept
{
    lastWidth = w;
    const float thetaL = (0.5f - 0.5f * w) * 1.5707964f;
    const float thetaR = (0.5f + 0.5f * w) * 1.5707964f;
    cosL = std::cos (thetaL);
    sinL = std::sin (thetaL);
    cosR = std::cos (thetaR);
    sinR = std::sin (thetaR);
}

void VelmoraRandProcessor::processSample (float* io[2], float* echoSend[2], const ChorusParams& p)
{
    const float D = p.depth * p.depth;

    if (p.rate != lastRate)
    {
        lastRate = p.rate;
        const float f = rateRange.convertFrom0to1 (p.rate);
        for (int k = 0; k < 8; ++k)
            generator[k].setFrequency (f * rateMultiplier[k]);
    }

    float modL[4], modR[4];
    for (int k = 3; k >= 0; --k)
        modR[k] = baseDelay[k] * 0.9f * generator[k + 4].next() * D;
    for (int k = 3; k >= 0; --k)
        modL[k] = baseDelay[k] * 0.9f * generator[k].next() * D;

    if (p.width != lastWidth)
        updatePan (p.width);

    const float toSamples = sampleRate;
    float delayL[8], delayR[8];
    for (int i = 0; i < 8; ++i)
    {
        const int k = i >> 1;
        const bool longer = (i & 1) == 0;
        const float msL = longer ? baseDelay[k] + modL[k] : baseDelay[k] - modL[k];
        const float msR = longer ? baseDelay[k] + modR[k] : baseDelay[k] - modR[k];
        delayL[i] = msL * toSamples * 0.001f;
        delayR[i] = msR * toSamples * 0.001f;
    }

    // Every left voice reads the shared left storage, every right one the right.
    float tapL[8], tapR[8];
    ring->readInterpolated4 (0, delayL, tapL);
    ring->readInterpolated4 (0, delayL + 4, tapL + 4);
    ring->readInterpolated4 (1, delayR, tapR);
    ring->readInterpolated4 (1, delayR + 4, tapR + 4);
    tapL[0] = shelf[0].process (tapL[0]);
    tapR[1] = shelf[1].process (tapR[1]);

    // Each side's sum keeps its order; the two chains of additions overlap.
    float left = 0.0f, right = 0.0f;
    for (int i = 0; i < 8; ++i)
    {
        left += tapL[i];
        right += tapR[i];
    }

    *echoSend[0] = left * 0.125f;
    *echoSend[1] = right * 0.125f;
    *io[0] = (cosL * left + cosR * right) * 0.125f;
    *io[1] = (sinL * left + sinR * right) * 0.125f;
}

void VelmoraRandProcessor::processBlock (float* left, float* right, const ChorusBlockParams& params, int n)
{
    runBlock (*this, left, right, params, n);
}
