#include "measure/analysis/fft.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

// Our own threads call transforms at once, each on its own Fft: pocketfft's shared plan
// cache and thread pool stay out.
#define POCKETFFT_NO_MULTITHREADING
#define POCKETFFT_CACHE_SIZE 0
// GCC's 32-bit build, inlining pocketfft's passes, cannot see that every complex it reads
// was written; the header is kept as its authors publish it.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <pocketfft_hdronly.h>

using RealPlan = pocketfft::detail::pocketfft_r<double>;

namespace {

// A plan is as large as the signal and never changes once made, so the threads share one
// per length; only making it takes the lock.
std::shared_ptr<const RealPlan> sharedPlan(size_t n) {
    static std::mutex lock;
    static std::map<size_t, std::shared_ptr<const RealPlan>> plans;
    std::lock_guard<std::mutex> hold(lock);
    std::shared_ptr<const RealPlan>& plan = plans[n];
    if (!plan) {
        plan = std::make_shared<const RealPlan>(n);
    }
    return plan;
}

} // namespace

struct Fft::Plans {
    std::map<size_t, std::shared_ptr<const RealPlan>> byLength;

    const RealPlan& get(size_t n) {
        std::shared_ptr<const RealPlan>& plan = byLength[n];
        if (!plan) {
            plan = sharedPlan(n);
        }
        return *plan;
    }
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

Fft::Fft() : plans_(new Plans) {}

Fft::~Fft() = default;

// The plan works in place on the packed real order r0, r1, i1, r2, i2, ...; written one
// double into the spectrum, that order leaves bin k (k >= 1) where the spectrum has it.
void Fft::forwardInPlace(std::complex<double>* buffer, size_t n) {
    double* s = reinterpret_cast<double*>(buffer);
    plans_->get(n).exec(s + 1, 1.0, true);
    s[0] = s[1];
    s[1] = 0;
    s[n + 1] = 0; // n is even: bin n / 2 is real
}

double* Fft::inverseInPlace(std::complex<double>* buffer, size_t n) {
    double* s = reinterpret_cast<double*>(buffer);
    std::memmove(s + 1, s + 2, (n - 1) * sizeof(double));
    plans_->get(n).exec(s, 1.0 / double(n), false);
    return s;
}

void Fft::forward(const double* x, size_t n, std::complex<double>* spectrum) {
    std::copy(x, x + n, realInput(spectrum));
    forwardInPlace(spectrum, n);
}

void Fft::inverse(const std::complex<double>* spectrum, size_t n, double* x) {
    const double* s = reinterpret_cast<const double*>(spectrum);
    x[0] = s[0];
    std::copy(s + 2, s + n + 1, x + 1);
    plans_->get(n).exec(x, 1.0 / double(n), false);
}
