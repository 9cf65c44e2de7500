#pragma once

namespace halvex
{

/** The framework's filter interface. Audio thread only, except prepare. */
class HalvexFilter
{
public:
    virtual ~HalvexFilter() = default;
    virtual void prepare (int maximumBlockSize, float sampleRate) = 0;
    virtual void reset() = 0;
    virtual void processBlock (float* samples, int numSamples) = 0;
    virtual float processSample (float x) = 0;
};

} // namespace halvex
