#pragma once

#include "GuardedBiquad.h"

#if defined(__SSE2__)
 #include <emmintrin.h>
#endif

/** Four GuardedBiquad sections run side by side, one SSE lane each, with lane for lane
    the arithmetic of GuardedBiquad::process. The sections stay the owners of their
    coefficients and states: load() at the start of a block, store() at its end.
    Audio thread only. */
struct GuardedBiquadQuad
{
#if defined(__SSE2__)
    void load (GuardedBiquad* const (&f)[4]) noexcept
    {
        b0 = _mm_setr_ps (f[0]->b0, f[1]->b0, f[2]->b0, f[3]->b0);
        b1 = _mm_setr_ps (f[0]->b1, f[1]->b1, f[2]->b1, f[3]->b1);
        b2 = _mm_setr_ps (f[0]->b2, f[1]->b2, f[2]->b2, f[3]->b2);
        a1 = _mm_setr_ps (f[0]->a1, f[1]->a1, f[2]->a1, f[3]->a1);
        a2 = _mm_setr_ps (f[0]->a2, f[1]->a2, f[2]->a2, f[3]->a2);
        s1 = _mm_setr_ps (f[0]->s1, f[1]->s1, f[2]->s1, f[3]->s1);
        s2 = _mm_setr_ps (f[0]->s2, f[1]->s2, f[2]->s2, f[3]->s2);
    }

    void store (GuardedBiquad* const (&f)[4]) const noexcept
    {
        alignas (16) float v1[4], v2[4];
        _mm_store_ps (v1, s1);
        _mm_store_ps (v2, s2);
        for (int i = 0; i < 4; ++i)
        {
            f[i]->s1 = v1[i];
            f[i]->s2 = v2[i];
        }
    }

    __m128 process (__m128 x) noexcept
    {
        const __m128 raw = _mm_add_ps (_mm_mul_ps (b0, x), s1);
        const __m128 magnitude = _mm_andnot_ps (_mm_set1_ps (-0.0f), raw);
        const __m128 y = _mm_andnot_ps (_mm_cmple_ps (magnitude, _mm_set1_ps (1.0e-8f)), raw);
        s1 = _mm_add_ps (_mm_sub_ps (_mm_mul_ps (b1, x), _mm_mul_ps (a1, y)), s2);
        s2 = _mm_sub_ps (_mm_mul_ps (b2, x), _mm_mul_ps (a2, y));
        return y;
    }

    __m128 b0, b1, b2, a1, a2, s1, s2;
#endif
};
