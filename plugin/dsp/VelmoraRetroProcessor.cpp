#include "VelmoraRetroProcessor.h"

namespace
{
const GuardedBiquad::ShelfDesign wetShelfDesign { 8168.140899333462, 0.7071067690849304, 0.8408964276313782,
                                                  -0.2928932309150696, 1.7071067690849304 };
const GuardedBiquad::ShelfDesign sendShelfDesign { 7539.822368615503, 0.9219544529914856, 0.9601845741271973,
                                                   -0.0780455470085144, 1.9219544529914856 };
} // namespace

VelmoraRetroProcessor::VelmoraRetroProcessor()
    : ChorusProcessorBase (1), lfo (std::make_unique<WavetableLfo> (0.0))
{
}

void VelmoraRetroProcessor::prepare (int blockSize, double fs)
{
    ChorusProcessorBase::prepare (blockSize, fs);
    const auto wet = GuardedBiquad::highShelf (wetShelfDesign, fs);
    const auto send = GuardedBiquad::highShelf (sendShelfDesign, fs);
    for (int c = 0; c < 2; ++c)
    {
        wetShelf[c].setCoefficientsAndReset (wet);
        sendShelf[c].setCoefficientsAndReset (send);
    }
    lfo->setSampleRate ((float) fs);
    lfo->resetPhase();
    for (auto& w : wander)
        w.setSampleRate ((float) fs);
}

void VelmoraRetroProcessor::reset()
{
    ChorusProcessorBase::reset();
    for (int c = 0; c < 2; ++c)
    {
        wetShelf[c].resetState();
        sendShelf[c].resetState();
    }
}

void VelmoraRetroProcessor::processSample (float* io[2], float* echoSend[2], const ChorusParams& p)
{
    const float r = p.rate, d = p.depth;
    const float m = (maxDelay - minDelay) * (d * d);

    if (r != lastRate)
    {
        lastRate = r;
        const float f = rateRange.convertFrom0to1 (r);
        lfo->setFrequency (f);
        for (auto& w : wander)
            w.setFrequency (f / 2.0f);
    }

    const float centre = minDelay + m;
    const float wanderAmount = minWander + (maxWander - minWander) * r;
    float right = (2.0f * wander[1].next() - 1.0f) * wanderAmount + centre;
    float left = (2.0f * wander[0].next() - 1.0f) * wanderAmount + centre;

    const float v = lfo->next();
    const float s = shapeModulation (2.0f * 1.1f * v) * 1.312760591506958f;
    const float mod = m * (1.0f - wanderAmount) * s;
    left += mod;
    right -= mod;

    const float fs = sampleRate;
    float tL, tR;
    ring->readInterpolatedStereo (left * fs * 0.001f, right * fs * 0.001f, tL, tR);
    float wetL, wetR;
#if defined(__SSE2__)
    if (shelvesPacked)
    {
        alignas (16) float y[4];
        _mm_store_ps (y, shelves.process (_mm_setr_ps (tL, tL, tR, tR)));
        *echoSend[0] = y[0];
        wetL = y[1];
        *echoSend[1] = y[2];
        wetR = y[3];
    }
    else
#endif
    {
        *echoSend[0] = sendShelf[0].process (tL);
        wetL = wetShelf[0].process (tL);
        *echoSend[1] = sendShelf[1].process (tR);
        wetR = wetShelf[1].process (tR);
    }

    if (p.width != lastWidth)
    {
        lastWidth = p.width;
        const float theta = (0.5f - 0.5f * p.width) * 1.5707964f;
        panCos = std::cos (theta);
        panSin = std::sin (theta);
    }

    *io[0] = panCos * wetL + panSin * wetR;
    *io[1] = panCos * wetR + panSin * wetL;
}

void VelmoraRetroProcessor::processBlock (float* left, float* right, const ChorusBlockParams& params, int n)
{
#if defined(__SSE2__)
    GuardedBiquad* const lanes[4] = { &sendShelf[0], &wetShelf[0], &sendShelf[1], &wetShelf[1] };
    shelves.load (lanes);
    shelvesPacked = true;
    runBlock (*this, left, right, params, n);
    shelves.store (lanes);
    shelvesPacked = false;
#else
    runBlock (*this, left, right, params, n);
#endif
}
