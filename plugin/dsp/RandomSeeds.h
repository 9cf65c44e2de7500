#pragma once

#include <juce_core/juce_core.h>

/** Where the random generators of the chorus get their seeds. By default every
    generator is seeded from the clock, so two instances never modulate alike; tests and
    the render tool switch to a fixed base seed, after which each new generator takes
    the next seed of a reproducible sequence. Any thread. */
namespace RandomSeeds
{
    /** Seeds generators created from now on with base, base + 1, ... */
    void useFixedSeeds (juce::int64 base);
    /** Back to clock seeding. */
    void useClockSeeds();
    /** Seeds r as the current policy says. */
    void seed (juce::Random& r);
}
