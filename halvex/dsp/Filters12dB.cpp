#include "Filters12dB.h"

#include <algorithm>
#include <cmath>

namespace halvex
{

void QoDelayFilter12dBBase::prepare (int, float fs)
{
    if (fs != sampleRate)
    {
        sampleRate = fs;
        nyquist = fs * 0.5f;
        inverseSampleRate = 1.0f / fs;
        updateCoefficients();
    }
    reset();
}

void QoDelayFilter12dBBase::updateCoefficients() noexcept
{
    effectiveCutoff = std::min (cutoff, nyquist);
    float t = std::tan (3.1415927f * effectiveCutoff * inverseSampleRate);
    // At the Nyquist limit the single-precision angle rounds to either side of pi/2: tan
    // turns hugely negative (g, a a hair above 1, the states grow without bound) or merely
    // large (a a hair below 1, a Nyquist residue that takes minutes to die). What is meant
    // there is t huge and positive, so g and a are exactly 1.
    if (t < 0.0f || (nyquist > 0.0f && effectiveCutoff >= nyquist))
        t = 1.0e9f;
    g = 2.0f * t / (2.0f * t + 2.0f);
    a = (2.0f * t - 2.0f) / (2.0f * t + 2.0f);
    d = 1.0f / (resonance * g * g + 1.0f);

    // With g and a exactly 1 the filter is an identity whose states stay zero, but it has
    // no damping left: whatever the states held when the cutoff reached Nyquist (say
    // during a glide) would ring at Nyquist for ever. Start that regime from silence.
    if (a >= 1.0f)
        s1 = s2 = 0.0f;
}

} // namespace halvex
