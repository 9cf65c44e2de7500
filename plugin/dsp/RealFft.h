#pragma once

#include <complex>
#include <memory>
#include <vector>

template <typename T>
class kissfft;

/** Real-input FFT of even size N and its unnormalised inverse, packed like kissfft's
    real transforms (bins 0..N/2). Built on kissfft's C++ transform because its C generic
    butterfly (for factors above 5, e.g. the 7s in 588) allocates on every call, which
    the audio thread must never do; this one allocates only while it is set up.
    Not thread-safe: one object per user. */
class RealFft
{
public:
    using Complex = std::complex<float>;

    explicit RealFft (int size);
    ~RealFft();

    int getSize() const noexcept { return size; }

    /** time: N samples; spectrum: N/2 + 1 bins. */
    void forward (const float* time, Complex* spectrum) noexcept;
    /** spectrum: N/2 + 1 bins; time: N samples, scaled by N. */
    void inverse (const Complex* spectrum, float* time) noexcept;

private:
    int size, half;
    std::unique_ptr<kissfft<float>> forwardFft, inverseFft;
    std::vector<Complex> superTwiddles, inverseTwiddles, scratch;
};
