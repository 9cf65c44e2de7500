#include "GuardedBiquad.h"

#include <cmath>

GuardedBiquad::Coefficients GuardedBiquad::feedbackHighPass (double fs) noexcept
{
    const double K = std::tan (125.66370614359172 / fs);
    const double v = K * 1.4144271570014144;
    const double K2 = K * K;
    const double c = 1.0 / (1.0 + v + K2);
    return { (float) c, (float) (-2.0 * c), (float) c, (float) (2.0 * c * (K2 - 1.0)), (float) (c * (1.0 - v + K2)) };
}

GuardedBiquad::Coefficients GuardedBiquad::highShelf (const ShelfDesign& d, double fs) noexcept
{
    const double w0 = d.w0Numerator / fs;
    const double c = std::cos (w0);
    const double s = std::sin (w0);
    const double t = 2.0 * d.sqrtA * s;

    const double a0 = d.aPlus1 - d.aMinus1 * c + t;
    const double a2 = d.aPlus1 - d.aMinus1 * c - t;
    const double a1 = 2.0 * (d.aMinus1 - d.aPlus1 * c);
    const double b0 = d.A * (d.aPlus1 + d.aMinus1 * c + t);
    const double b1 = -2.0 * d.A * (d.aMinus1 + d.aPlus1 * c);
    const double b2 = d.A * (d.aPlus1 + d.aMinus1 * c - t);

    return { (float) (b0 / a0), (float) (b1 / a0), (float) (b2 / a0), (float) (a1 / a0), (float) (a2 / a0) };
}
