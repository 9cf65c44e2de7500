#include "RandomSeeds.h"

#include <atomic>

namespace
{
std::atomic<bool> fixedSeeds { false };
std::atomic<juce::int64> nextSeed { 0 };
} // namespace

void RandomSeeds::useFixedSeeds (juce::int64 base)
{
    nextSeed.store (base);
    fixedSeeds.store (true);
}

void RandomSeeds::useClockSeeds()
{
    fixedSeeds.store (false);
}

void RandomSeeds::seed (juce::Random& r)
{
    if (fixedSeeds.load())
        r.setSeed (nextSeed.fetch_add (1));
    else
        r.setSeedRandomly();
}
