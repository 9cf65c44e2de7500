#pragma once

#include "EchoDelayLine.h"
#include "GuardedBiquad.h"
#include "GuardedBiquadQuad.h"
#include "VelmoraRingBuffer.h"

#include <memory>

/** Per-sample parameters handed to an algorithm (all 0..1). */
struct ChorusParams
{
    float rate = 0, depth = 0, width = 0;
    float echoDelay = 0, echoFeedback = 0;
    float fadeGain = 1;
};

/** The block's smoothed parameters, one value per sample each. */
struct ChorusBlockParams
{
    const float* rate;
    const float* depth;
    const float* width;
    const float* echoDelay;
    const float* echoFeedback;
    const float* fadeGain;
};

/** What every chorus algorithm has around its voices: the ring of recent input, the echo
    line with a 40 Hz high-pass in each feedback path, and the sample rate. Derived classes
    decide how their voices read the ring and how they are panned.

    Threads: constructor and prepare() while no audio runs; everything else audio thread. */
class ChorusProcessorBase
{
public:
    explicit ChorusProcessorBase (int numVoices);
    virtual ~ChorusProcessorBase();

    virtual void prepare (int maximumBlockSize, double sampleRate);
    virtual void reset();
    virtual void feedIdle (const juce::AudioBuffer<float>& input);
    virtual float getMakeupGain (const ChorusParams& last) const;
    virtual juce::NormalisableRange<float> getRateRange() const;

    /** Overwrites io with the wet output and echoSend with what goes into the echo line.
        The chain has already written this sample's input into the ring. */
    virtual void processSample (float* io[2], float* echoSend[2], const ChorusParams& p) = 0;

    /** The chain's per-sample step (echo read, feedback high-pass, ring write, voices,
        fade gain, echo write) over a block, in place on left/right. */
    virtual void processBlock (float* left, float* right, const ChorusBlockParams& params, int numSamples) = 0;

    /** After a numeric overflow: drop every state that could hold it. */
    virtual void recover() { reset(); }

    /** Transport jumps: empty the ring and restart its write position. */
    void clearRing();

    int getNumVoices() const noexcept { return numVoices; }
    float getSampleRate() const noexcept { return sampleRate; }
    VelmoraRingBuffer* getRing() noexcept { return ring.get(); }
    EchoDelayLine& getEcho() noexcept { return echo; }

protected:
    /** The per-sample step, inlined into each algorithm's processBlock. */
    template <class Algorithm>
    void runBlock (Algorithm& self, float* left, float* right, const ChorusBlockParams& params, int numSamples) noexcept;

    const int numVoices;
    GuardedBiquad feedbackFilter[2];
    std::unique_ptr<VelmoraRingBuffer> ring;
    EchoDelayLine echo;
    float sampleRate = 0.0f;
    float lastEchoControl = -1.0f;
};

// Flattened: left to itself the compiler keeps processSample out of line, and the call
// forces every per-sample value through memory.
template <class Algorithm>
[[gnu::flatten]] void ChorusProcessorBase::runBlock (Algorithm& self, float* left, float* right, const ChorusBlockParams& params, int n) noexcept
{
#if defined(__SSE2__)
    // Both feedback high-passes in two lanes of one quad; the other two lanes idle.
    GuardedBiquad idle;
    GuardedBiquad* const lanes[4] = { &feedbackFilter[0], &feedbackFilter[1], &idle, &idle };
    GuardedBiquadQuad feedback;
    feedback.load (lanes);
#endif

    for (int k = 0; k < n; ++k)
    {
        const ChorusParams p { params.rate[k], params.depth[k], params.width[k],
                               params.echoDelay[k], params.echoFeedback[k], params.fadeGain[k] };

        const float e = p.echoDelay;
        if (e != lastEchoControl)
        {
            lastEchoControl = e;
            const float d = juce::jlimit (0.0f, (float) EchoDelayLine::capacity,
                                          std::nearbyint ((e * e + 0.0001f) * sampleRate));
            echo.setDelay (0, d);
            echo.setDelay (1, d);
        }

        float L = left[k], R = right[k];

        const float phi = p.echoFeedback * 0.99f;
        float xL = 0.0f, xR = 0.0f;
        if (phi != 0.0f)
        {
            xL = echo.readNext (0) * phi;
            xR = echo.readNext (1) * phi;
        }
        else
        {
            echo.readNext (0, true);
            echo.readNext (1, true);
        }
#if defined(__SSE2__)
        alignas (16) float highPassed[4];
        _mm_store_ps (highPassed, feedback.process (_mm_setr_ps (xL, xR, 0.0f, 0.0f)));
        L += highPassed[0];
        R += highPassed[1];
#else
        L += feedbackFilter[0].process (xL);
        R += feedbackFilter[1].process (xR);
#endif

        if constexpr (Algorithm::hasRing)
            ring->writeStereo (L, R);

        float sL, sR;
        float* io[2] = { &L, &R };
        float* send[2] = { &sL, &sR };
        self.Algorithm::processSample (io, send, p);

        const float g = p.fadeGain;
        left[k] = L * g;
        right[k] = R * g;
        echo.write (0, sL * g);
        echo.write (1, sR * g);
    }

#if defined(__SSE2__)
    feedback.store (lanes);
#endif
}
