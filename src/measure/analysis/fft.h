// Discrete Fourier transforms of real signals in double precision, from pocketfft, which stays
// inside fft.cpp, so that nothing else compiles its header. One Fft per thread.
#pragma once

#include <complex>
#include <cstddef>
#include <memory>

// The smallest length from atLeast up that the transforms take quickly: a multiple of 4
// with no prime factor above 5.
size_t fftLength(size_t atLeast);

class Fft {
public:
    Fft();
    ~Fft();
    Fft(const Fft&) = delete;
    Fft& operator=(const Fft&) = delete;

    // X[k] = sum x[t] e^(-2 pi i k t / n) for k = 0 .. n / 2; n from fftLength.
    void forward(const double* x, size_t n, std::complex<double>* spectrum);
    // The inverse of forward, scaled by 1 / n; the spectrum's n / 2 + 1 bins are kept.
    void inverse(const std::complex<double>* spectrum, size_t n, double* x);

    // The same in one buffer of n / 2 + 1 bins, for transforms too long to hold twice: the
    // signal is written to realInput(buffer)[0 .. n), and inverseInPlace returns where its
    // n values lie.
    static double* realInput(std::complex<double>* buffer) {
        return reinterpret_cast<double*>(buffer) + 1;
    }
    void forwardInPlace(std::complex<double>* buffer, size_t n);
    double* inverseInPlace(std::complex<double>* buffer, size_t n);

private:
    struct Plans;
    std::unique_ptr<Plans> plans_;
};
