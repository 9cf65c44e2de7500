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
    const float t = std::tan (3.1415927f * effectiveCutoff * inverseSampleRate);
    g = 2.0f * t / (2.0f * t + 2.0f);
    a = (2.0f * t - 2.0f) / (2.0f * t + 2.0f);
    d = 1.0f / (resonance * g * g + 1.0f);
}

} // namespace halvex
