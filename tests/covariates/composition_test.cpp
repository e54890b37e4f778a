// The proportions' quadratic program against brute force: every choice of
// proportions held at 0 and of the sum held at 1 is solved as an equality
// problem, and the best feasible one is the exact optimum.
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "composition.h"
#include "test_util.h"

namespace {

double objective(const std::vector<double>& x, const std::vector<double>& y, size_t t, const std::vector<double>& w) {
    double sum = 0.0;
    for (size_t r = 0; r < y.size(); ++r) {
        double fit = 0.0;
        for (size_t k = 0; k < t; ++k) fit += x[r * t + k] * w[k];
        sum += (y[r] - fit) * (y[r] - fit);
    }
    return sum;
}

// Least squares on the free proportions (the others 0), optionally with
// their sum fixed at 1 (by eliminating the last free one).
bool face_solution(const std::vector<double>& x, const std::vector<double>& y, size_t t, unsigned zero_mask,
                   bool sum_one, std::vector<double>& w) {
    std::vector<size_t> free;
    for (size_t k = 0; k < t; ++k)
        if (!(zero_mask >> k & 1)) free.push_back(k);
    w.assign(t, 0.0);
    if (free.empty()) return !sum_one;
    const size_t last = free.back();
    std::vector<size_t> unknowns = free;
    if (sum_one) unknowns.pop_back();
    const size_t m = unknowns.size(), n = y.size();
    // Columns z_j = x_j - x_last (sum fixed) and target y - x_last.
    std::vector<double> a(m * m, 0.0), b(m, 0.0);
    for (size_t r = 0; r < n; ++r) {
        const double shift = sum_one ? x[r * t + last] : 0.0;
        for (size_t i = 0; i < m; ++i) {
            const double zi = x[r * t + unknowns[i]] - shift;
            b[i] += zi * (y[r] - shift);
            for (size_t j = 0; j < m; ++j) a[i * m + j] += zi * (x[r * t + unknowns[j]] - shift);
        }
    }
    if (m > 0 && !solve_spd(a, b, m)) return false;
    double rest = 1.0;
    for (size_t i = 0; i < m; ++i) {
        w[unknowns[i]] = b[i];
        rest -= b[i];
    }
    if (sum_one) w[last] = rest;
    return true;
}

std::vector<double> brute_force(const std::vector<double>& x, const std::vector<double>& y, size_t t) {
    std::vector<double> best, w;
    double best_value = INFINITY;
    for (unsigned mask = 0; mask < (1u << t); ++mask) {
        for (bool sum_one : {false, true}) {
            if (!face_solution(x, y, t, mask, sum_one, w)) continue;
            double sum = 0.0;
            bool feasible = true;
            for (double v : w) {
                feasible = feasible && v >= -1e-12;
                sum += v;
            }
            if (!feasible || sum > 1.0 + 1e-12) continue;
            const double value = objective(x, y, t, w);
            if (value < best_value) {
                best_value = value;
                best = w;
            }
        }
    }
    return best;
}

TEST(cell_proportions, match_brute_force_on_random_problems_including_boundaries) {
    std::mt19937_64 random(test_seed());
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 0.02);
    size_t with_zero = 0, summing_to_one = 0, interior = 0;
    for (int trial = 0; trial < 600; ++trial) {
        const size_t t = 2 + trial % 5, n = 3 * t + trial % 7;
        std::vector<double> x(n * t), y(n), truth(t);
        for (double& v : x) v = unit(random);
        // Mixtures inside the simplex, on a face (a type absent) or beyond
        // it (sum above 1), so that every kind of optimum occurs.
        double total = 0.0;
        for (double& v : truth) total += v = unit(random);
        const double scale = trial % 3 == 0 ? 1.3 : (trial % 3 == 1 ? 0.7 : 1.0);
        for (double& v : truth) v *= scale / total;
        if (trial % 4 == 0) truth[trial % t] = -0.2;
        for (size_t r = 0; r < n; ++r) {
            y[r] = noise(random);
            for (size_t k = 0; k < t; ++k) y[r] += x[r * t + k] * truth[k];
        }
        std::vector<double> w;
        ASSERT_TRUE(cell_proportions(x, y, t, w)) << "trial " << trial;
        const std::vector<double> expected = brute_force(x, y, t);
        ASSERT_EQ(expected.size(), t);
        double sum = 0.0;
        bool zero = false;
        for (size_t k = 0; k < t; ++k) {
            EXPECT_NEAR(w[k], expected[k], 1e-9) << "trial " << trial << " type " << k;
            EXPECT_GE(w[k], 0.0);
            zero = zero || w[k] == 0.0;
            sum += w[k];
        }
        EXPECT_LE(sum, 1.0 + 1e-12);
        with_zero += zero;
        summing_to_one += std::fabs(sum - 1.0) < 1e-12;
        interior += !zero && sum < 1.0 - 1e-6;
    }
    EXPECT_GT(with_zero, 50u);
    EXPECT_GT(summing_to_one, 50u);
    EXPECT_GT(interior, 50u);
}

}  // namespace
