#include "VelmoraDetuneProcessor.h"

VelmoraDetuneProcessor::VelmoraDetuneProcessor()
    : ChorusProcessorBase (0),
      shifter { PitchShifter (4142, 8284), PitchShifter (8284, 16568) }
{
}

int VelmoraDetuneProcessor::frameSizeFor (double fs) noexcept
{
    return 4 * (int) std::nearbyint ((float) fs / 44100.0f * 588.0f * 0.25f);
}

void VelmoraDetuneProcessor::prepare (int blockSize, double fs)
{
    ChorusProcessorBase::prepare (blockSize, fs);
    if ((float) fs != detuneSampleRate)
    {
        detuneSampleRate = (float) fs;
        const int N = frameSizeFor (fs);
        for (auto& s : shifter)
            s.setFrameSize (N);
    }
    for (auto& s : shifter)
        s.setSampleRate ((float) fs);
}

void VelmoraDetuneProcessor::recover()
{
    ChorusProcessorBase::recover();
    for (auto& s : shifter)
        s.setSampleRate (detuneSampleRate);
}

void VelmoraDetuneProcessor::feedIdle (const juce::AudioBuffer<float>& input)
{
    const int n = input.getNumSamples();
    shifter[0].feedIdle (input.getReadPointer (0), n);
    shifter[1].feedIdle (input.getReadPointer (juce::jmin (1, input.getNumChannels() - 1)), n);
}

void VelmoraDetuneProcessor::processSample (float* io[2], float* echoSend[2], const ChorusParams& p)
{
    if (p.depth != lastDepth)
    {
        lastDepth = p.depth;
        const float ratio = std::pow (2.0f, (2.0f * p.depth - 1.0f) * 30.0f / 1200.0f);
        for (auto& s : shifter)
            if (s.getPitch() != ratio)
                s.setPitch (ratio);
    }

    const float jitter = p.rate * 10.0f;
    for (auto& s : shifter)
    {
        if (s.getJitter() != jitter)
            s.setJitter (jitter);
        if (s.getPhaseSpread() != p.width)
            s.setPhaseSpread (p.width);
    }

    const float L = shifter[0].processSample (*io[0]);
    const float R = shifter[1].processSample (*io[1]);
    *echoSend[0] = L;
    *echoSend[1] = R;

    if (p.width != lastWidth)
    {
        lastWidth = p.width;
        const float theta = (0.5f - 0.5f * p.width) * 1.5707964f;
        panCos = std::cos (theta);
        panSin = std::sin (theta);
    }

    *io[0] = panCos * L + panSin * R;
    *io[1] = panCos * R + panSin * L;
}

void VelmoraDetuneProcessor::processBlock (float* left, float* right, const ChorusBlockParams& params, int n)
{
    runBlock (*this, left, right, params, n);
}
