#pragma once

#include "ChorusProcessorBase.h"
#include "RandomGlide.h"

/** "Rand": eight stereo voices whose delays wander to random targets. */
class VelmoraRandProcessor final : public ChorusProcessorBase
{
public:
    static constexpr bool hasRing = true;

    VelmoraRandProcessor();

    void prepare (int maximumBlockSize, double sampleRate) override;
    void reset() override;
    float getMakeupGain (const ChorusParams& last) const override;
    juce::NormalisableRange<float> getRateRange() const override { return rateRange; }
    void processSample (float* io[2], float* echoSend[2], const ChorusParams& p) override;
    void processBlock (float* left, float* right, const ChorusBlockParams& params, int numSamples) override;

    static constexpr float baseDelay[4] = { 7.282f, 11.112f, 19.632f, 29.223f };
    const float* getRateMultipliers() const noexcept { return rateMultiplier; }
    const RandomGlide& getGenerator (int k) const noexcept { return generator[k]; }

private:
    void updatePan (float width) noexcept;

    float rateMultiplier[8];
    RandomGlide generator[8];
    juce::NormalisableRange<float> rateRange { 0.01f, 10.0f, 0.0f, 0.5746006369590759f };
    float lastRate = -1.0f;
    GuardedBiquad shelf[2];

    // Pan gains depend on the width alone; recomputed only when it changes.
    float lastWidth = -1.0f;
    float cosL = 0, sinL = 0, cosR = 0, sinR = 0;
};
