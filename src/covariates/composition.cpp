#include "composition.h"

#include <algorithm>
#include <cmath>

namespace {

// The working set of the active-set method: the proportions held at 0 and
// whether the proportions are held to sum to exactly 1.
struct Working_set {
    std::vector<char> at_zero;
    bool sum_at_one = false;
};

// The minimiser of the objective on the working set's face, and the
// multiplier of the sum constraint (0 when it is not held). False when H
// restricted to the free proportions is not positive definite.
bool face_minimiser(const std::vector<double>& h, const std::vector<double>& c, size_t t, const Working_set& set,
                    std::vector<double>& z, double& nu) {
    std::vector<size_t> free;
    for (size_t i = 0; i < t; ++i)
        if (!set.at_zero[i]) free.push_back(i);
    z.assign(t, 0.0);
    nu = 0.0;
    const size_t m = free.size();
    if (m == 0) return !set.sum_at_one;
    std::vector<double> a(m * m), rhs(m), ones(m, 1.0);
    for (size_t r = 0; r < m; ++r) {
        rhs[r] = -c[free[r]];
        for (size_t k = 0; k < m; ++k) a[r * m + k] = h[free[r] * t + free[k]];
    }
    if (!solve_spd(a, rhs, m)) return false;
    if (set.sum_at_one) {
        if (!solve_spd(a, ones, m)) return false;
        double sum_rhs = 0.0, sum_ones = 0.0;
        for (size_t r = 0; r < m; ++r) {
            sum_rhs += rhs[r];
            sum_ones += ones[r];
        }
        nu = (sum_rhs - 1.0) / sum_ones;
        for (size_t r = 0; r < m; ++r) rhs[r] -= nu * ones[r];
    }
    for (size_t r = 0; r < m; ++r) z[free[r]] = rhs[r];
    return true;
}

double sum_of(const std::vector<double>& w) {
    double sum = 0.0;
    for (double v : w) sum += v;
    return sum;
}

// Moves w towards z as far as the constraints outside the working set allow
// and adds the one that blocks. z must be infeasible.
void step_to_boundary(const std::vector<double>& z, size_t t, Working_set& set, std::vector<double>& w) {
    double alpha = 1.0;
    size_t blocking = t;  // t stands for the sum constraint
    for (size_t i = 0; i < t; ++i) {
        if (set.at_zero[i] || z[i] >= 0.0) continue;
        const double limit = w[i] / (w[i] - z[i]);
        if (limit < alpha) {
            alpha = limit;
            blocking = i;
        }
    }
    const double sum_w = sum_of(w), sum_z = sum_of(z);
    if (!set.sum_at_one && sum_z > 1.0) {
        const double limit = sum_z > sum_w ? std::max(0.0, (1.0 - sum_w) / (sum_z - sum_w)) : 0.0;
        if (limit < alpha) {
            alpha = limit;
            blocking = t + 1;
        }
    }
    for (size_t i = 0; i < t; ++i) w[i] += alpha * (z[i] - w[i]);
    if (blocking < t) {
        set.at_zero[blocking] = 1;
        w[blocking] = 0.0;
    } else if (blocking == t + 1) {
        set.sum_at_one = true;
    }
}

bool feasible(const std::vector<double>& z, const Working_set& set) {
    for (double v : z)
        if (v < 0.0) return false;
    return set.sum_at_one || sum_of(z) <= 1.0;
}

// At the face minimiser w: releases the constraint with the most negative
// multiplier. False when every multiplier is non-negative (w is optimal).
bool release_constraint(const std::vector<double>& h, const std::vector<double>& c, size_t t,
                        const std::vector<double>& w, double nu, Working_set& set) {
    double scale = 0.0;
    std::vector<double> g(t);
    for (size_t i = 0; i < t; ++i) {
        g[i] = c[i];
        for (size_t k = 0; k < t; ++k) g[i] += h[i * t + k] * w[k];
        scale = std::max({scale, std::fabs(c[i]), std::fabs(h[i * t + i])});
    }
    const double tolerance = 1e-13 * scale;
    double lowest = -tolerance;
    size_t release = t + 1;  // none
    for (size_t i = 0; i < t; ++i) {
        if (set.at_zero[i] && g[i] + nu < lowest) {
            lowest = g[i] + nu;
            release = i;
        }
    }
    if (set.sum_at_one && nu < lowest) release = t;
    if (release > t) return false;
    if (release == t)
        set.sum_at_one = false;
    else
        set.at_zero[release] = 0;
    return true;
}

}  // namespace

bool solve_spd(std::vector<double> a, std::vector<double>& b, size_t m) {
    for (size_t j = 0; j < m; ++j) {
        const double scale = a[j * m + j];
        double d = scale;
        for (size_t k = 0; k < j; ++k) d -= a[j * m + k] * a[j * m + k];
        if (!(d > 1e-12 * scale) || !(scale > 0.0)) return false;
        d = std::sqrt(d);
        a[j * m + j] = d;
        for (size_t i = j + 1; i < m; ++i) {
            double s = a[i * m + j];
            for (size_t k = 0; k < j; ++k) s -= a[i * m + k] * a[j * m + k];
            a[i * m + j] = s / d;
        }
    }
    for (size_t i = 0; i < m; ++i) {
        double s = b[i];
        for (size_t k = 0; k < i; ++k) s -= a[i * m + k] * b[k];
        b[i] = s / a[i * m + i];
    }
    for (size_t i = m; i-- > 0;) {
        double s = b[i];
        for (size_t k = i + 1; k < m; ++k) s -= a[k * m + i] * b[k];
        b[i] = s / a[i * m + i];
    }
    return true;
}

bool simplex_qp(const std::vector<double>& h, const std::vector<double>& c, size_t t, std::vector<double>& w) {
    // Start at w = 0 with every proportion held there: feasible, and the
    // first multipliers are -c.
    Working_set set;
    set.at_zero.assign(t, 1);
    w.assign(t, 0.0);
    std::vector<double> z;
    const size_t max_steps = 20 * (t + 2) * (t + 2);
    for (size_t step = 0; step < max_steps; ++step) {
        double nu = 0.0;
        if (!face_minimiser(h, c, t, set, z, nu)) return false;
        if (!feasible(z, set)) {
            step_to_boundary(z, t, set, w);
            continue;
        }
        w = z;
        if (!release_constraint(h, c, t, w, nu, set)) return true;
    }
    return false;
}

bool cell_proportions(const std::vector<double>& x, const std::vector<double>& y, size_t t,
                      std::vector<double>& w) {
    const size_t n = y.size();
    std::vector<double> h(t * t, 0.0), c(t, 0.0);
    for (size_t r = 0; r < n; ++r) {
        const double* row = &x[r * t];
        for (size_t i = 0; i < t; ++i) {
            c[i] -= row[i] * y[r];
            for (size_t k = 0; k <= i; ++k) h[i * t + k] += row[i] * row[k];
        }
    }
    for (size_t i = 0; i < t; ++i)
        for (size_t k = 0; k < i; ++k) h[k * t + i] = h[i * t + k];
    return simplex_qp(h, c, t, w);
}
