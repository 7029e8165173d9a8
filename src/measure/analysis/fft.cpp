#include "measure/analysis/fft.h"

#include <unsupported/Eigen/FFT>

struct Fft::Plans {
    Eigen::FFT<double> fft;
};

size_t fftLength(size_t atLeast) {
    for (size_t n = atLeast < 4 ? 4 : (atLeast + 3) / 4 * 4;; n += 4) {
        size_t rest = n;
        for (size_t p : {2, 3, 5}) {
            while (rest % p == 0) {
                rest /= p;
            }
        }
        if (rest == 1) {
            return n;
        }
    }
}

Fft::Fft() : plans_(new Plans) {
    plans_->fft.SetFlag(Eigen::FFT<double>::HalfSpectrum);
}

Fft::~Fft() = default;

void Fft::forward(const double* x, size_t n, std::complex<double>* spectrum) {
    plans_->fft.fwd(spectrum, x, Eigen::DenseIndex(n));
}

void Fft::inverse(const std::complex<double>* spectrum, size_t n, double* x) {
    plans_->fft.inv(x, spectrum, Eigen::DenseIndex(n));
}
