#pragma once

#include <atomic>
#include <cmath>
#include <thread>

/** A second-order section in transposed direct form II whose coefficient and state
    writes (prepare, reset) are guarded by a spin lock. The audio path reads without
    locking; outputs within ±1e-8 are flushed to zero before they update the states. */
struct GuardedBiquad
{
    float b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    float s1 = 0, s2 = 0;

    struct Coefficients
    {
        float b0, b1, b2, a1, a2;
    };

    void setCoefficients (const Coefficients& c) noexcept
    {
        const ScopedSpin lock (guard);
        b0 = c.b0; b1 = c.b1; b2 = c.b2; a1 = c.a1; a2 = c.a2;
    }

    void setCoefficientsAndReset (const Coefficients& c) noexcept
    {
        const ScopedSpin lock (guard);
        b0 = c.b0; b1 = c.b1; b2 = c.b2; a1 = c.a1; a2 = c.a2;
        s1 = s2 = 0.0f;
    }

    void resetState() noexcept
    {
        const ScopedSpin lock (guard);
        s1 = s2 = 0.0f;
    }

    float process (float x) noexcept
    {
        // A select, not a branch: keeps the recurrence free of compare-and-jump pairs.
        const float raw = b0 * x + s1;
        const float y = std::abs (raw) <= 1.0e-8f ? 0.0f : raw;
        s1 = b1 * x - a1 * y + s2;
        s2 = b2 * x - a2 * y;
        return y;
    }

    /** 40 Hz high-pass, Q 0.707, for the echo feedback path. */
    static Coefficients feedbackHighPass (double sampleRate) noexcept;

    /** High shelf at f0 with the amplitude A (high band scaled by A squared). The caller
        passes the constants in the precision the design was tuned with. */
    struct ShelfDesign
    {
        double w0Numerator; // 2 pi f0
        double A, sqrtA, aMinus1, aPlus1;
    };
    static Coefficients highShelf (const ShelfDesign&, double sampleRate) noexcept;

private:
    struct ScopedSpin
    {
        explicit ScopedSpin (std::atomic<int>& g) noexcept : word (g)
        {
            for (int attempt = 0;; ++attempt)
            {
                int expected = 0;
                if (word.compare_exchange_weak (expected, 1, std::memory_order_acquire))
                    return;
                if (attempt >= 20)
                    std::this_thread::yield();
            }
        }
        ~ScopedSpin() { word.store (0, std::memory_order_release); }
        std::atomic<int>& word;
    };

    std::atomic<int> guard { 0 };
};
