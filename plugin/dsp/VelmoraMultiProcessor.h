#pragma once

#include "ChorusProcessorBase.h"
#include "WavetableLfo.h"

/** "Multi": four triangle oscillators sweep four voice delays per side, the right side
    moving against the left. */
class VelmoraMultiProcessor final : public ChorusProcessorBase
{
public:
    static constexpr bool hasRing = true;

    VelmoraMultiProcessor();

    void prepare (int maximumBlockSize, double sampleRate) override;
    void reset() override;
    float getMakeupGain (const ChorusParams& last) const override;
    juce::NormalisableRange<float> getRateRange() const override { return rateRange; }
    void processSample (float* io[2], float* echoSend[2], const ChorusParams& p) override;
    void processBlock (float* left, float* right, const ChorusBlockParams& params, int numSamples) override;

    const WavetableLfo& getLfo (int k) const noexcept { return *lfo[k]; }

    static constexpr float baseDelayOffset = 0.33333334f;
    static constexpr float depthSpan = 9.666667f;

private:
    std::unique_ptr<WavetableLfo> lfo[4];
    static constexpr float lfoRatio[4] = { 1.0f, 1.25f, 1.5f, 1.0625f };
    juce::NormalisableRange<float> rateRange { 0.01f, 3.5f, 0.0f, 0.3530608117580414f };
    float lastRate = -1.0f;
    GuardedBiquad shelf[2];

    float lastWidth = -1.0f;
    float cosL = 0, sinL = 0, cosR = 0, sinR = 0;
};
