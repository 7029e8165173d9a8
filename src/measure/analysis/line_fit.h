// Least squares of a straight line through points given one at a time: the decay times'
// fits, the drift model's slopes, the phase bend's straight part.
#pragma once

#include <cmath>

struct LineFit {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;

    void add(double x, double y) {
        n += 1, sx += x, sy += y, sxx += x * x, sxy += x * y, syy += y * y;
    }
    // False with fewer than two distinct x.
    bool fit(double* slope, double* intercept) const {
        const double d = n * sxx - sx * sx;
        if (n < 2 || !(d > 0)) {
            return false;
        }
        *slope = (n * sxy - sx * sy) / d;
        *intercept = (sy - *slope * sx) / n;
        return true;
    }
    // Pearson's r of the points; NaN where either coordinate does not vary.
    double correlation() const {
        const double vx = n * sxx - sx * sx;
        const double vy = n * syy - sy * sy;
        return vx > 0 && vy > 0 ? (n * sxy - sx * sy) / std::sqrt(vx * vy) : NAN;
    }
};
