#pragma once

#include <juce_core/juce_core.h>
#include <complex>
#include <memory>
#include <vector>

class RealFft;

/** Phase-vocoder pitch shifter with four-times overlap and a latency of N - N/4
    samples. Each bin can carry a fixed random frequency offset (jitter) and a fixed
    random phase offset (phaseSpread). Audio thread only, except setFrameSize, which
    allocates and runs from prepare. */
class PitchShifter
{
public:
    PitchShifter (int amountSeed, int phaseSeed, float outputScale = 1.33f);
    ~PitchShifter();

    void setFrameSize (int N);
    void setSampleRate (float fs);

    void setPitch (float ratio) noexcept { pitch = ratio; }
    void setJitter (float hz) noexcept { jitter = hz; }
    void setPhaseSpread (float amount) noexcept { phaseSpread = amount; }
    float getPitch() const noexcept { return pitch; }
    float getJitter() const noexcept { return jitter; }
    float getPhaseSpread() const noexcept { return phaseSpread; }

    float processSample (float x) noexcept
    {
        inFifo[(size_t) fifoPosition] = x;
        const float out = outFifo[(size_t) (fifoPosition - fifoLatency)];
        if (++fifoPosition >= frameSize)
        {
            fifoPosition = fifoLatency;
            processFrame();
        }
        return out;
    }

    /** Keeps the FIFOs moving while the owner is not heard: no transform. */
    void feedIdle (const float* samples, int numSamples) noexcept;

    int getFrameSize() const noexcept { return frameSize; }
    int getLatency() const noexcept { return fifoLatency; }
    const std::vector<float>& getRandomPhases() const noexcept { return randomPhase; }
    const std::vector<float>& getRandomAmounts() const noexcept { return randomAmount; }

private:
    void processFrame() noexcept;
    void finishHop() noexcept;

    float sampleRate = 0.0f, pitch = 1.0f, jitter = 0.0f, phaseSpread = 0.0f;
    int frameSize = 0, half = 0, bins = 0, hop = 0, fifoLatency = 0, fifoPosition = 0;
    static constexpr int oversampling = 4;
    static constexpr float oversamplingFactor = 0.63661975f;
    float binWidth = 0.0f, expectedPhaseStep = 0.0f;
    const float outputScale;

    std::vector<float> inFifo, outFifo, work, window, synthesisWindow, outputAccumulator;
    std::vector<float> lastPhase, sumPhase, analysisMagnitude, analysisFrequency,
                       synthesisMagnitude, synthesisFrequency, randomPhase, randomAmount;
    std::vector<std::complex<float>> spectrum;
    std::unique_ptr<RealFft> fft;

    juce::Random amountSource, phaseSource;

    JUCE_DECLARE_NON_COPYABLE (PitchShifter)
};
