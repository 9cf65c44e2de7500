#include "ChorusProcessorBase.h"

ChorusProcessorBase::ChorusProcessorBase (int voices)
    : numVoices (voices)
{
    if (numVoices > 0)
        ring = std::make_unique<VelmoraRingBuffer> (2 * numVoices);
}

ChorusProcessorBase::~ChorusProcessorBase() = default;

void ChorusProcessorBase::prepare (int, double fs)
{
    sampleRate = (float) fs;
    // The echo time in samples depends on the rate: recompute it on the next sample.
    lastEchoControl = -1.0f;
    const auto hp = GuardedBiquad::feedbackHighPass (fs);
    for (auto& f : feedbackFilter)
        f.setCoefficients (hp);
    clearRing();
    reset();
}

void ChorusProcessorBase::reset()
{
    echo.clear();
    for (auto& f : feedbackFilter)
        f.resetState();
}

void ChorusProcessorBase::clearRing()
{
    if (ring != nullptr)
        ring->clear();
}

void ChorusProcessorBase::feedIdle (const juce::AudioBuffer<float>& input)
{
    if (ring == nullptr || input.getNumChannels() < 1)
        return;
    const float* channels[2] = { input.getReadPointer (0),
                                 input.getReadPointer (juce::jmin (1, input.getNumChannels() - 1)) };
    ring->writeBlock (channels, input.getNumSamples());
}

float ChorusProcessorBase::getMakeupGain (const ChorusParams&) const
{
    return 1.0f;
}

juce::NormalisableRange<float> ChorusProcessorBase::getRateRange() const
{
    return { 0.0f, 100.0f };
}
