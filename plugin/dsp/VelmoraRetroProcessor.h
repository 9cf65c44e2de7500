#pragma once

#include "ChorusProcessorBase.h"
#include "GuardedBiquadQuad.h"
#include "RandomGlide.h"
#include "WavetableLfo.h"

/** "Retro": one triangle-swept voice per side (left up while right goes down), a small
    random wander on each side, darkened by high shelves. */
class VelmoraRetroProcessor final : public ChorusProcessorBase
{
public:
    static constexpr bool hasRing = true;

    VelmoraRetroProcessor();

    void prepare (int maximumBlockSize, double sampleRate) override;
    void reset() override;
    juce::NormalisableRange<float> getRateRange() const override { return rateRange; }
    void processSample (float* io[2], float* echoSend[2], const ChorusParams& p) override;
    void processBlock (float* left, float* right, const ChorusBlockParams& params, int numSamples) override;

    const WavetableLfo& getLfo() const noexcept { return *lfo; }
    const RandomGlide& getWander (int side) const noexcept { return wander[side]; }

    static constexpr float minDelay = 1.5f, maxDelay = 5.5f;
    static constexpr float minWander = 0.005f, maxWander = 0.01f;

private:
    std::unique_ptr<WavetableLfo> lfo;
    RandomGlide wander[2];
    juce::NormalisableRange<float> rateRange { 0.01f, 20.0f, 0.0f, 0.23064294457435608f };
    float lastRate = -1.0f;
    GuardedBiquad wetShelf[2], sendShelf[2];
    // Inside processBlock the four shelves run as one quad (lanes: send L, wet L,
    // send R, wet R); processSample on its own uses the sections directly.
    GuardedBiquadQuad shelves;
    bool shelvesPacked = false;

    float lastWidth = -1.0f;
    float panCos = 0, panSin = 0;
};
