#pragma once

#include "../../halvex/dsp/Filters12dB.h"
#include "../../halvex/dsp/SwitchableFilter.h"
#include "../../halvex/state/PluginProcessor.h"
#include "../dsp/ChorusProcessorBase.h"
#include "Smoothers.h"
#include "VelmoraLocalisedStringsManager.h"

#include <array>
#include <atomic>

/** The product: twenty parameters and the chorus-and-echo chain. */
class VelmoraProcessor : public halvex::PluginProcessor,
                         private juce::AudioProcessorValueTreeState::Listener
{
public:
    static constexpr int numModes = 4;
    static constexpr int fadeLength = 2048;

    VelmoraProcessor();
    ~VelmoraProcessor() override;

    void prepareToPlay (double sampleRate, int maximumBlockSize) override;
    void releaseResources() override {}
    double getTailLengthSeconds() const override { return 60.0; }

    void processPluginBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    juce::AudioProcessorEditor* createEditorInstance() override;
    void nativeParamChanged (halvex::Param&, int, double, double) override {}
    juce::URL getUpdateServerAddress() const override;
    juce::URL getProductPageAddress() const override;

    VelmoraLocalisedStringsManager& getLocalisation() noexcept { return *localisation; }

    /** Any thread: the tree state calls it on every change. */
    void parameterChanged (const juce::String& parameterID, float newValue) override;

    // What parameterChanged stores for the audio thread (read-only views for tests).
    int getModeIndex() const noexcept { return modeIndex.load(); }
    float getOutputGain() const noexcept { return outputGain.load(); }
    bool getEchoEnabled() const noexcept { return echoEnabled.load(); }
    float getEchoDelay() const noexcept { return echoDelay.load(); }
    float getEchoFeedback() const noexcept { return echoFeedback.load(); }
    float getWetGain() const noexcept { return wetGain.load(); }
    float getDryGain() const noexcept { return dryGain.load(); }
    float getLowpassHz() const noexcept { return lowpassHz.load(); }
    float getHipassHz() const noexcept { return hipassHz.load(); }
    float getRate (int mode) const noexcept { return rate[(size_t) mode].load(); }
    float getDepth (int mode) const noexcept { return depth[(size_t) mode].load(); }
    float getWidth (int mode) const noexcept { return width[(size_t) mode].load(); }

    ChorusProcessorBase& getAlgorithm (int mode) noexcept { return *algorithms[(size_t) mode]; }
    int getRampLength() const noexcept { return rampLength; }
    const OutputLimiter& getLimiter (int channel) const noexcept { return limiter[channel]; }

private:
    void createParameters();
    void registerListeners();
    void handleTransport();
    void resetAllAlgorithms() noexcept;
    void sizeBuffers (int numSamples);
    void runAlgorithm (int index, int selectedMode, juce::AudioBuffer<float>& buffer, int numSamples) noexcept;
    void filterWet (int numSamples) noexcept;
    static void sanitise (juce::AudioBuffer<float>&, int numSamples) noexcept;
    static bool allFinite (const juce::AudioBuffer<float>&, int numSamples) noexcept;

    // Parameter fields: written by parameterChanged, read by the audio thread.
    std::atomic<int> modeIndex { 0 };
    std::atomic<bool> modeChanged { false };
    std::atomic<float> outputGain { 1.0f };
    std::atomic<bool> echoEnabled { false };
    std::atomic<float> echoDelay { 0.0f }, echoFeedback { 0.0f };
    std::atomic<float> wetGain { 0.0f }, dryGain { 0.0f };
    std::atomic<float> lowpassHz { 20000.0f }, hipassHz { 20.0f };
    std::array<std::atomic<float>, numModes> rate {}, depth {}, width {};

    std::unique_ptr<VelmoraLocalisedStringsManager> localisation;
    std::array<std::unique_ptr<ChorusProcessorBase>, numModes> algorithms;

    RampedValue rateSmoother[numModes], depthSmoother[numModes], widthSmoother[numModes];
    RampedValue echoDelaySmoother { 512, 0.0001f }, echoFeedbackSmoother { 512, 0.0001f };
    RampedValue hipassSmoother { 512, 0.1f }, lowpassSmoother { 512, 0.1f };
    RampedValue fadeSmoother[numModes];

    enum RampSlot { rateRamp, depthRamp, widthRamp, echoDelayRamp, feedbackRamp, hipassRamp, lowpassRamp, fadeRamp, numRampSlots };
    juce::AudioBuffer<float> rampBuffers;
    juce::AudioBuffer<float> workBuffer, mixBuffer;

    halvex::SwitchableFilter filterSlot[2];
    halvex::QoDelayHPLPFiltersSerie12dB* filterChain[2] {};

    GainRamp dryRamp, wetRamp, outputRamp;
    OutputLimiter limiter[2];

    double sampleRate = 44100.0;
    int rampLength = 256;
    int largestBlock = 0;

    // Transport memory.
    double bpm = 120.0;
    juce::int64 timeInSamples = 0, previousTimeInSamples = 0;
    double previousBpm = 120.0;
    bool isPlaying = false, isLooping = false;
    const bool hostIsLive;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VelmoraProcessor)
};
