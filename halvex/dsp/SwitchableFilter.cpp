#include "SwitchableFilter.h"

#include <algorithm>
#include <cmath>

namespace halvex
{

SwitchableFilter::SwitchableFilter()
{
    scratch.assign (512, 0.0f);
    dryCopy.assign (512, 0.0f);
}

HalvexFilter* SwitchableFilter::addFilter (std::unique_ptr<HalvexFilter> filter)
{
    filters.push_back (std::move (filter));
    return filters.back().get();
}

void SwitchableFilter::setCurrentFilter (int index) noexcept
{
    if (index == current || index < 0 || index >= (int) filters.size())
        return;
    previous = current;
    current = index;
    switching = true;
    switchCounter = 0;
}

void SwitchableFilter::setEnabled (bool shouldBeEnabled) noexcept
{
    if (shouldBeEnabled == enabled)
        return;
    enabled = shouldBeEnabled;
    fading = true;
    fadeCounter = 0;
    fadeIncrement = ((enabled ? 1.0f : 0.0f) - wetGain) / (float) fadeLength;
    if (enabled)
        bypassed = false;
}

void SwitchableFilter::ensureScratch (int n)
{
    if ((int) scratch.size() < n)
    {
        scratch.resize ((size_t) (2 * n));
        dryCopy.resize ((size_t) (2 * n));
    }
}

void SwitchableFilter::prepare (int blockSize, float fs)
{
    previous = current;
    switching = false;
    for (auto& f : filters)
        f->prepare (blockSize, fs);
    ensureScratch (blockSize);
    reset();
}

void SwitchableFilter::reset()
{
    for (auto& f : filters)
        f->reset();
}

float SwitchableFilter::switchStep (float currentOut, float previousOut) noexcept
{
    const float out = (currentOut - previousOut) * (float) switchCounter * switchIncrement + previousOut;
    if (++switchCounter > 255)
    {
        switchCounter = 0;
        switching = false;
    }
    return out;
}

float SwitchableFilter::fadeStep (float filtered, float dry) noexcept
{
    const float target = enabled ? 1.0f : 0.0f;
    wetGain += fadeIncrement;
    if (std::abs (target - wetGain) <= 1.0e-5f)
        wetGain = target;
    const float out = wetGain * filtered + (1.0f - wetGain) * dry;
    if (++fadeCounter >= fadeLength)
    {
        fadeCounter = 0;
        fading = false;
        wetGain = target;
        if (! enabled)
            bypassed = true;
    }
    return out;
}

void SwitchableFilter::processBlock (float* samples, int n)
{
    if (bypassed || filters.empty() || n <= 0)
        return;

    // Only grows when a block is longer than any announced to prepare.
    ensureScratch (n);

    if (fading)
        std::copy (samples, samples + n, dryCopy.begin());

    if (switching)
    {
        std::copy (samples, samples + n, scratch.begin());
        filters[(size_t) previous]->processBlock (scratch.data(), n);
        filters[(size_t) current]->processBlock (samples, n);
        for (int i = 0; i < n && switching; ++i)
            samples[i] = switchStep (samples[i], scratch[(size_t) i]);
    }
    else
    {
        filters[(size_t) current]->processBlock (samples, n);
    }

    if (fading)
        for (int i = 0; i < n && fading; ++i)
            samples[i] = fadeStep (samples[i], dryCopy[(size_t) i]);
}

float SwitchableFilter::processSample (float x)
{
    if (bypassed || filters.empty())
        return x;

    const float dry = x;
    float y;
    if (switching)
    {
        const float prev = filters[(size_t) previous]->processSample (x);
        y = switchStep (filters[(size_t) current]->processSample (x), prev);
    }
    else
    {
        y = filters[(size_t) current]->processSample (x);
    }

    return fading ? fadeStep (y, dry) : y;
}

} // namespace halvex
