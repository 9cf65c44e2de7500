#pragma once

#include "HalvexFilter.h"

#include <memory>
#include <vector>

namespace halvex
{

/** A slot holding one or more filters. Changing the active filter crossfades over 256
    samples; switching the slot on or off fades between filtered and dry over 256.
    Audio thread only, except prepare and addFilter. */
class SwitchableFilter final : public HalvexFilter
{
public:
    SwitchableFilter();

    /** Takes ownership; message thread, before prepare. */
    HalvexFilter* addFilter (std::unique_ptr<HalvexFilter> filter);
    void setCurrentFilter (int index) noexcept;
    void setEnabled (bool shouldBeEnabled) noexcept;

    void prepare (int maximumBlockSize, float sampleRate) override;
    void reset() override;
    void processBlock (float* samples, int numSamples) override;
    float processSample (float x) override;

    bool isBypassed() const noexcept { return bypassed; }
    bool isFading() const noexcept { return fading; }

    /** The filter processBlock would run on its own, with no crossfade around it; else null. */
    HalvexFilter* getSoleActiveFilter() const noexcept
    {
        return bypassed || fading || switching || filters.empty() ? nullptr : filters[(size_t) current].get();
    }

private:
    void ensureScratch (int numSamples);
    float fadeStep (float filtered, float dry) noexcept;
    float switchStep (float currentOut, float previousOut) noexcept;

    std::vector<std::unique_ptr<HalvexFilter>> filters;
    int current = 0, previous = 0;
    std::vector<float> scratch, dryCopy;
    bool switching = false;
    int switchCounter = 0;
    static constexpr float switchIncrement = 1.0f / 256.0f;
    bool enabled = true, fading = true, bypassed = false;
    int fadeCounter = 0;
    static constexpr int fadeLength = 256;
    float wetGain = 1.0f, fadeIncrement = 0.0f;
};

} // namespace halvex
