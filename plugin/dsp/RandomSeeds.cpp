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
    {
        // Neighbouring seeds give nearly equal first values from this generator: scramble
        // the running count (splitmix64) so each generator starts somewhere else.
        auto z = (juce::uint64) nextSeed.fetch_add (1) + 0x9e3779b97f4a7c15ull;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        r.setSeed ((juce::int64) (z ^ (z >> 31)));
    }
    else
        r.setSeedRandomly();
}
