#pragma once

#include "HalvexFilter.h"

#if defined(__SSE2__)
 #include <emmintrin.h>
#endif

namespace halvex
{

class QoDelayHPLPFiltersSerie12dB;

/** Shared coefficient bookkeeping of the two 12 dB filters. */
class QoDelayFilter12dBBase : public HalvexFilter
{
public:
    void prepare (int maximumBlockSize, float sampleRate) override;
    void reset() override { s1 = s2 = 0.0f; }

    /** Any cutoff is accepted; above half the sample rate it is limited to it. */
    void setCutoff (float hz) noexcept
    {
        if (hz != cutoff)
        {
            cutoff = hz;
            updateCoefficients();
        }
    }

    float getCutoff() const noexcept { return cutoff; }
    float getEffectiveCutoff() const noexcept { return effectiveCutoff; }
    float getG() const noexcept { return g; }
    float getA() const noexcept { return a; }

protected:
    friend class QoDelayHPLPFiltersSerie12dB;
    void updateCoefficients() noexcept;

    float cutoff = 0.0f, effectiveCutoff = 0.0f;
    float resonance = 0.0f, inputGain = 1.0f;
    float g = 0.0f, a = -1.0f, d = 1.0f;
    float inverseSampleRate = 1.0f, sampleRate = 0.0f, nyquist = 0.0f;
    float s1 = 0.0f, s2 = 0.0f;
};

class QoDelayHiPassFilter12dB final : public QoDelayFilter12dBBase
{
public:
    float processSample (float x) override { return tick (x); }
    void processBlock (float* samples, int n) override
    {
        for (int i = 0; i < n; ++i)
            samples[i] = tick (samples[i]);
    }

    float tick (float x) noexcept
    {
        const float K = resonance;
        x = inputGain * x;
        const float m = 1.0f - g;
        const float y = ((x * m - s1) * m - s2) / (m * m * K + 1.0f);
        x = x - K * y;
        const float gx = g * x;
        const float newS1 = gx - a * (s1 + gx);
        const float v = (x - (s1 + gx)) * g;
        s2 = v - (s2 + v) * a;
        s1 = newS1;
        return y;
    }
};

class QoDelayLowPassFilter12dB final : public QoDelayFilter12dBBase
{
public:
    float processSample (float x) override { return tick (x); }
    void processBlock (float* samples, int n) override
    {
        for (int i = 0; i < n; ++i)
            samples[i] = tick (samples[i]);
    }

    float tick (float x) noexcept
    {
        const float K = resonance;
        x = inputGain * x;
        const float y = ((x + s1) * g + s2) * d;
        const float u = (x - K * y) * g;
        const float w = s1 + u;
        s1 = u - a * w;
        s2 = w * g - (s2 + w * g) * a;
        return y;
    }
};

/** High-pass then low-pass. The members are public so their cutoffs can be set. */
class QoDelayHPLPFiltersSerie12dB final : public HalvexFilter
{
public:
    void prepare (int maximumBlockSize, float sampleRate) override
    {
        highPass.prepare (maximumBlockSize, sampleRate);
        lowPass.prepare (maximumBlockSize, sampleRate);
    }
    void reset() override
    {
        highPass.reset();
        lowPass.reset();
    }
    void processBlock (float* samples, int n) override
    {
        highPass.processBlock (samples, n);
        lowPass.processBlock (samples, n);
    }
    float processSample (float x) override { return lowPass.tick (highPass.tick (x)); }

    /** Two channels' chains at once, sample by sample. Without resonance the high-pass
        divisor is exactly 1 and no output feeds back into a state, so the four state
        recurrences are independent and overlap; the results equal processBlock's. */
    static void processStereo (QoDelayHPLPFiltersSerie12dB& left, QoDelayHPLPFiltersSerie12dB& right,
                               float* leftSamples, float* rightSamples, int n) noexcept
    {
        if (! left.isResonanceFree() || ! right.isResonanceFree())
        {
            left.processBlock (leftSamples, n);
            right.processBlock (rightSamples, n);
            return;
        }

#if defined(__SSE2__)
        // The two channels in two lanes: half the instructions for the same arithmetic.
        alignas (16) float hs1[4], hs2[4], ls1[4], ls2[4];
        auto pair = [] (float l, float r) { return _mm_setr_ps (l, r, 0.0f, 0.0f); };
        const __m128 hg = pair (left.highPass.g, right.highPass.g);
        const __m128 ha = pair (left.highPass.a, right.highPass.a);
        const __m128 hGain = pair (left.highPass.inputGain, right.highPass.inputGain);
        const __m128 lg = pair (left.lowPass.g, right.lowPass.g);
        const __m128 la = pair (left.lowPass.a, right.lowPass.a);
        const __m128 lGain = pair (left.lowPass.inputGain, right.lowPass.inputGain);
        const __m128 m = _mm_sub_ps (_mm_set1_ps (1.0f), hg);
        __m128 h1 = pair (left.highPass.s1, right.highPass.s1), h2 = pair (left.highPass.s2, right.highPass.s2);
        __m128 l1 = pair (left.lowPass.s1, right.lowPass.s1), l2 = pair (left.lowPass.s2, right.lowPass.s2);
        for (int i = 0; i < n; ++i)
        {
            const __m128 x = _mm_mul_ps (hGain, _mm_unpacklo_ps (_mm_load_ss (leftSamples + i), _mm_load_ss (rightSamples + i)));
            const __m128 h = _mm_sub_ps (_mm_mul_ps (_mm_sub_ps (_mm_mul_ps (x, m), h1), m), h2);
            const __m128 gx = _mm_mul_ps (hg, x);
            const __m128 sum = _mm_add_ps (h1, gx);
            const __m128 newH1 = _mm_sub_ps (gx, _mm_mul_ps (ha, sum));
            const __m128 v = _mm_mul_ps (_mm_sub_ps (x, sum), hg);
            h2 = _mm_sub_ps (v, _mm_mul_ps (_mm_add_ps (h2, v), ha));
            h1 = newH1;

            const __m128 z = _mm_mul_ps (lGain, h);
            const __m128 y = _mm_add_ps (_mm_mul_ps (_mm_add_ps (z, l1), lg), l2);
            const __m128 u = _mm_mul_ps (z, lg);
            const __m128 w = _mm_add_ps (l1, u);
            const __m128 wg = _mm_mul_ps (w, lg);
            l1 = _mm_sub_ps (u, _mm_mul_ps (la, w));
            l2 = _mm_sub_ps (wg, _mm_mul_ps (_mm_add_ps (l2, wg), la));

            _mm_store_ss (leftSamples + i, y);
            _mm_store_ss (rightSamples + i, _mm_shuffle_ps (y, y, _MM_SHUFFLE (1, 1, 1, 1)));
        }
        _mm_store_ps (hs1, h1);
        _mm_store_ps (hs2, h2);
        _mm_store_ps (ls1, l1);
        _mm_store_ps (ls2, l2);
        QoDelayHPLPFiltersSerie12dB* const chains[2] = { &left, &right };
        for (int c = 0; c < 2; ++c)
        {
            chains[c]->highPass.s1 = hs1[c];
            chains[c]->highPass.s2 = hs2[c];
            chains[c]->lowPass.s1 = ls1[c];
            chains[c]->lowPass.s2 = ls2[c];
        }
#else
        Unresonant l (left), r (right);
        for (int i = 0; i < n; ++i)
        {
            leftSamples[i] = l.tick (leftSamples[i]);
            rightSamples[i] = r.tick (rightSamples[i]);
        }
        l.store (left);
        r.store (right);
#endif
    }

    bool isResonanceFree() const noexcept { return highPass.resonance == 0.0f && lowPass.resonance == 0.0f; }

    QoDelayHiPassFilter12dB highPass;
    QoDelayLowPassFilter12dB lowPass;

private:
    // The ticks above with K = 0, the states held in registers across a block.
    struct Unresonant
    {
        explicit Unresonant (const QoDelayHPLPFiltersSerie12dB& f) noexcept
            : hg (f.highPass.g), ha (f.highPass.a), hGain (f.highPass.inputGain), hs1 (f.highPass.s1), hs2 (f.highPass.s2),
              lg (f.lowPass.g), la (f.lowPass.a), lGain (f.lowPass.inputGain), ls1 (f.lowPass.s1), ls2 (f.lowPass.s2)
        {
        }

        void store (QoDelayHPLPFiltersSerie12dB& f) const noexcept
        {
            f.highPass.s1 = hs1;
            f.highPass.s2 = hs2;
            f.lowPass.s1 = ls1;
            f.lowPass.s2 = ls2;
        }

        float tick (float x) noexcept
        {
            x = hGain * x;
            const float m = 1.0f - hg;
            const float h = (x * m - hs1) * m - hs2;
            const float gx = hg * x;
            const float newS1 = gx - ha * (hs1 + gx);
            const float v = (x - (hs1 + gx)) * hg;
            hs2 = v - (hs2 + v) * ha;
            hs1 = newS1;

            const float z = lGain * h;
            const float y = (z + ls1) * lg + ls2;
            const float u = z * lg;
            const float w = ls1 + u;
            ls1 = u - la * w;
            ls2 = w * lg - (ls2 + w * lg) * la;
            return y;
        }

        float hg, ha, hGain, hs1, hs2;
        float lg, la, lGain, ls1, ls2;
    };
};

} // namespace halvex
