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

    const float toSamples = sampleRate;
    auto tapSum = [this, toSamples] (const float* mod, int side, GuardedBiquad& filter, int filteredTap)
    {
        float sum = 0.0f;
        for (int i = 0; i < 8; ++i)
        {
            const int k = i >> 1;
            const float ms = (i & 1) == 0 ? baseDelay[k] + mod[k] : baseDelay[k] - mod[k];
            float tap = ring->readInterpolated (2 * i + side, ms * toSamples * 0.001f);
            if (i == filteredTap)
                tap = filter.process (tap);
            sum += tap;
        }
        return sum;
    };

    if (p.width != lastWidth)
        updatePan (p.width);

    const float left = tapSum (modL, 0, shelf[0], 0);
    const float right = tapSum (modR, 1, shelf[1], 1);

    *echoSend[0] = left * 0.125f;
    *echoSend[1] = right * 0.125f;
    *io[0] = (cosL * left + cosR * right) * 0.125f;
    *io[1] = (sinL * left + sinR * right) * 0.125f;
}

void VelmoraRandProcessor::processBlock (float* left, float* right, const ChorusBlockParams& params, int n)
{
    runBlock (*this, left, right, params, n);
}
