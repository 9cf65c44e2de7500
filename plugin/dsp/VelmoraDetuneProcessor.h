#pragma once

#include "ChorusProcessorBase.h"
#include "PitchShifter.h"

/** "Detune": each channel pitch-shifted by up to ±30 cents, with spectral jitter and
    random phase spread, then widened. No voice ring. */
class VelmoraDetuneProcessor final : public ChorusProcessorBase
{
public:
    static constexpr bool hasRing = false;

    VelmoraDetuneProcessor();

    void prepare (int maximumBlockSize, double sampleRate) override;
    void feedIdle (const juce::AudioBuffer<float>& input) override;
    void recover() override;
    float getMakeupGain (const ChorusParams&) const override { return 1.5f; }
    void processSample (float* io[2], float* echoSend[2], const ChorusParams& p) override;
    void processBlock (float* left, float* right, const ChorusBlockParams& params, int numSamples) override;

    static int frameSizeFor (double sampleRate) noexcept;
    const PitchShifter& getShifter (int side) const noexcept { return shifter[side]; }

private:
    float detuneSampleRate = 0.0f;
    PitchShifter shifter[2];
    float lastDepth = -1.0f;

    float lastWidth = -1.0f;
    float panCos = 0, panSin = 0;
};
