#include "RealFft.h"

#include <kissfft/kissfft.hh>

#include <cmath>

RealFft::RealFft (int n)
    : size (n), half (n / 2),
      forwardFft (std::make_unique<kissfft<float>> ((size_t) half, false)),
      inverseFft (std::make_unique<kissfft<float>> ((size_t) half, true)),
      superTwiddles ((size_t) half), inverseTwiddles ((size_t) half), scratch ((size_t) half)
{
    for (int i = 0; i < half; ++i)
    {
        const double phase = -M_PI * ((double) (i + 1) / half + 0.5);
        superTwiddles[(size_t) i] = Complex ((float) std::cos (phase), (float) std::sin (phase));
        inverseTwiddles[(size_t) i] = Complex ((float) std::cos (-phase), (float) std::sin (-phase));
    }

    // The generic butterfly grows its scratch on first use: do that now, not on the audio thread.
    std::vector<float> zeros ((size_t) size, 0.0f);
    std::vector<Complex> bins ((size_t) half + 1);
    forward (zeros.data(), bins.data());
    inverse (bins.data(), zeros.data());
}

RealFft::~RealFft() = default;

void RealFft::forward (const float* time, Complex* out) noexcept
{
    Complex* tmp = scratch.data();
    forwardFft->transform (reinterpret_cast<const Complex*> (time), tmp);

    const Complex dc = tmp[0];
    out[0] = Complex (dc.real() + dc.imag(), 0.0f);
    out[half] = Complex (dc.real() - dc.imag(), 0.0f);

    for (int k = 1; k <= half / 2; ++k)
    {
        const Complex fpk = tmp[k];
        const Complex fpnk (tmp[half - k].real(), -tmp[half - k].imag());
        const Complex f1k = fpk + fpnk;
        const Complex f2k = fpk - fpnk;
        const Complex& w = superTwiddles[(size_t) k - 1];
        const Complex tw (f2k.real() * w.real() - f2k.imag() * w.imag(), f2k.real() * w.imag() + f2k.imag() * w.real());
        out[k] = Complex ((f1k.real() + tw.real()) * 0.5f, (f1k.imag() + tw.imag()) * 0.5f);
        out[half - k] = Complex ((f1k.real() - tw.real()) * 0.5f, (tw.imag() - f1k.imag()) * 0.5f);
    }
}

void RealFft::inverse (const Complex* in, float* time) noexcept
{
    Complex* tmp = scratch.data();
    tmp[0] = Complex (in[0].real() + in[half].real(), in[0].real() - in[half].real());

    for (int k = 1; k <= half / 2; ++k)
    {
        const Complex fk = in[k];
        const Complex fnkc (in[half - k].real(), -in[half - k].imag());
        const Complex fek = fk + fnkc;
        const Complex d = fk - fnkc;
        const Complex& w = inverseTwiddles[(size_t) k - 1];
        const Complex fok (d.real() * w.real() - d.imag() * w.imag(), d.real() * w.imag() + d.imag() * w.real());
        tmp[k] = fek + fok;
        const Complex mirrored = fek - fok;
        tmp[half - k] = Complex (mirrored.real(), -mirrored.imag());
    }

    inverseFft->transform (tmp, reinterpret_cast<Complex*> (time));
}
