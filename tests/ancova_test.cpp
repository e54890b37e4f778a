// The F test and its least-squares primitives, checked against values from
// an independent implementation (R, tests/data/unit_ancova/cases.txt, made by
// `Rscript make_cases.R > cases.txt` in that folder), closed forms, and a
// long-double Gram-Schmidt least-squares oracle on random designs, including
// rank-deficient ones (all-zero group column, duplicated or collinear
// covariables).
#include "ancova.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gsl/gsl_cdf.h>
#include <gtest/gtest.h>

#include "test_util.h"

namespace {

struct Design {
    size_t n = 0, pr = 0, pf = 0;
    double expected = 0.0;  // fixture cases only
    std::vector<double> y, reduced, full;  // row-major
};

struct Gsl_design {
    gsl_vector* y;
    gsl_matrix* reduced;
    gsl_matrix* full;
    explicit Gsl_design(const Design& d)
        : y(gsl_vector_alloc(d.n)), reduced(gsl_matrix_alloc(d.n, d.pr)), full(gsl_matrix_alloc(d.n, d.pf)) {
        for (size_t i = 0; i < d.n; ++i) {
            gsl_vector_set(y, i, d.y[i]);
            for (size_t j = 0; j < d.pr; ++j) gsl_matrix_set(reduced, i, j, d.reduced[i * d.pr + j]);
            for (size_t j = 0; j < d.pf; ++j) gsl_matrix_set(full, i, j, d.full[i * d.pf + j]);
        }
    }
    ~Gsl_design() {
        gsl_vector_free(y);
        gsl_matrix_free(reduced);
        gsl_matrix_free(full);
    }
};

// Standard output is captured only when the caller wants to see it.
double run_ancova(const Design& d, std::string* out = nullptr) {
    Gsl_design g(d);
    if (out == nullptr) return ancova(g.y, g.reduced, g.full);
    double p = 0.0;
    *out = capture_stdout([&] { p = ancova(g.y, g.reduced, g.full); });
    return p;
}

// Removes from v its components along the orthonormal basis, twice
// (re-orthogonalisation keeps the long-double oracle exact to rounding).
void project_out(const std::vector<std::vector<long double>>& basis, std::vector<long double>& v) {
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& q : basis) {
            long double dot = 0;
            for (size_t i = 0; i < v.size(); ++i) dot += q[i] * v[i];
            for (size_t i = 0; i < v.size(); ++i) v[i] -= dot * q[i];
        }
    }
}

// Least-squares residual sum of squares by modified Gram-Schmidt with
// re-orthogonalisation in long double; a column whose remainder is below
// 1e-9 of its own length is taken as dependent.
double oracle_rss(const std::vector<double>& x, size_t n, size_t p, const std::vector<double>& y) {
    std::vector<std::vector<long double>> basis;
    for (size_t j = 0; j < p; ++j) {
        std::vector<long double> v(n);
        long double length = 0;
        for (size_t i = 0; i < n; ++i) {
            v[i] = x[i * p + j];
            length += v[i] * v[i];
        }
        project_out(basis, v);
        long double rest = 0;
        for (size_t i = 0; i < n; ++i) rest += v[i] * v[i];
        if (length == 0 || rest <= 1e-18L * length) continue;
        for (auto& e : v) e /= std::sqrt(rest);
        basis.push_back(v);
    }
    std::vector<long double> r(y.begin(), y.end());
    project_out(basis, r);
    long double rss = 0;
    for (auto e : r) rss += e * e;
    return static_cast<double>(rss);
}

double oracle_pvalue(const Design& d) {
    const double rr = oracle_rss(d.reduced, d.n, d.pr, d.y);
    const double rf = oracle_rss(d.full, d.n, d.pf, d.y);
    const double d1 = static_cast<double>(d.pf - d.pr), d2 = static_cast<double>(d.n - d.pf);
    return gsl_cdf_fdist_Q(((rr - rf) / d1) / (rf / d2), d1, d2);
}

void expect_relative(double expected, double actual, double tolerance, const std::string& what) {
    EXPECT_LE(std::fabs(actual - expected), tolerance * std::fabs(expected))
        << what << ": expected " << expected << " got " << actual;
}

std::vector<std::pair<std::string, Design>> read_fixture() {
    std::ifstream in(std::string(CIMBREL_TEST_DATA) + "/unit_ancova/cases.txt");
    std::vector<std::pair<std::string, Design>> cases;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string name;
        Design d;
        words >> name >> d.n >> d.pr >> d.pf >> d.expected;
        auto take = [&](std::vector<double>& v, size_t count) {
            v.resize(count);
            for (auto& e : v) words >> e;
        };
        take(d.y, d.n);
        take(d.reduced, d.n * d.pr);
        take(d.full, d.n * d.pf);
        if (!words.fail()) cases.emplace_back(name, d);
    }
    return cases;
}

// Random group or continuous designs; `kind` adds the rank deficiencies that
// occur in practice.
enum class Kind { groups, continuous, empty_group, duplicate, collinear };

Design random_design(std::mt19937_64& rng, Kind kind) {
    std::uniform_int_distribution<int> small(0, 3);
    std::normal_distribution<double> normal(0.0, 1.0);
    const size_t groups = 2 + static_cast<size_t>(small(rng)) % 3;
    size_t covs = static_cast<size_t>(small(rng));
    if (kind == Kind::collinear) covs = std::max<size_t>(covs, 2);
    if (kind == Kind::duplicate) covs = std::max<size_t>(covs, 1);
    const size_t extra = kind == Kind::duplicate || kind == Kind::collinear ? 1 : 0;
    Design d;
    d.pr = covs + extra + 1;
    d.pf = kind == Kind::continuous ? covs + 2 : covs + extra + groups;
    d.n = d.pf + 1 + static_cast<size_t>(std::uniform_int_distribution<int>(0, 40)(rng));
    const double multiple = std::uniform_real_distribution<double>(-3.0, 3.0)(rng);
    std::vector<double> effect(groups);
    for (auto& e : effect) e = normal(rng) * std::uniform_real_distribution<double>(0.0, 1.5)(rng);
    for (size_t i = 0; i < d.n; ++i) {
        size_t g = i % groups;
        if (kind == Kind::empty_group && g == groups - 1) g = 0;
        std::vector<double> cv(covs);
        for (auto& c : cv) c = 40.0 + 12.0 * normal(rng);
        if (kind == Kind::duplicate) cv.push_back(multiple * cv[0]);
        if (kind == Kind::collinear) cv.push_back(cv[0] - multiple * cv[1]);
        const double x = 20.0 + 50.0 * std::uniform_real_distribution<double>()(rng);
        d.y.push_back(1.5 + normal(rng) + effect[g] + (covs > 0 ? 0.02 * cv[0] : 0.0) +
                      (kind == Kind::continuous ? 0.02 * x : 0.0));
        for (double c : cv) d.reduced.push_back(c);
        d.reduced.push_back(1.0);
        for (double c : cv) d.full.push_back(c);
        if (kind == Kind::continuous) {
            d.full.push_back(1.0);
            d.full.push_back(x);
        } else {
            for (size_t h = 0; h < groups; ++h) d.full.push_back(h == g ? 1.0 : 0.0);
        }
    }
    return d;
}

const Kind all_kinds[] = {Kind::groups, Kind::continuous, Kind::empty_group, Kind::duplicate, Kind::collinear};

}  // namespace

TEST(ancova, matches_r_reference_values) {
    const auto cases = read_fixture();
    ASSERT_EQ(cases.size(), 54u);
    for (const auto& [name, d] : cases) {
        expect_relative(d.expected, run_ancova(d), 1e-10, name);
    }
}

TEST(ancova, matches_independent_least_squares_on_random_designs) {
    std::mt19937_64 rng(11);
    for (int it = 0; it < 400; ++it) {
        for (Kind kind : all_kinds) {
            const Design d = random_design(rng, kind);
            const double expected = oracle_pvalue(d);
            expect_relative(expected, run_ancova(d), 1e-10, "case " + std::to_string(it));
        }
    }
}

TEST(ancova, two_groups_without_covariables_is_squared_t) {
    // Groups of 3 and 4; pooled two-sample t test, two-sided.
    const std::vector<double> a = {0.3, -0.2, 0.9}, b = {1.4, 0.8, 2.1, 1.2};
    Design d;
    d.pr = 1;
    d.pf = 2;
    double mean_a = 0, mean_b = 0;
    for (double v : a) mean_a += v / 3.0;
    for (double v : b) mean_b += v / 4.0;
    double ss = 0;
    for (double v : a) ss += (v - mean_a) * (v - mean_a);
    for (double v : b) ss += (v - mean_b) * (v - mean_b);
    for (double v : a) d.y.push_back(v), d.reduced.push_back(1.0), d.full.insert(d.full.end(), {1.0, 0.0});
    for (double v : b) d.y.push_back(v), d.reduced.push_back(1.0), d.full.insert(d.full.end(), {0.0, 1.0});
    d.n = 7;
    const double t = (mean_b - mean_a) / std::sqrt(ss / 5.0 * (1.0 / 3.0 + 1.0 / 4.0));
    expect_relative(2.0 * gsl_cdf_tdist_Q(std::fabs(t), 5.0), run_ancova(d), 1e-10, "t test");
}

TEST(ancova, size_and_shape_edge_cases) {
    std::mt19937_64 rng(5);
    Design d = random_design(rng, Kind::groups);
    // n = p_full + 1: one residual degree of freedom, still a p-value.
    Design one = d;
    one.n = d.pf + 1;
    one.y.resize(one.n);
    one.reduced.resize(one.n * one.pr);
    one.full.resize(one.n * one.pf);
    std::string out;
    const double p = run_ancova(one, &out);
    EXPECT_GE(p, 0.0);
    EXPECT_LE(p, 1.0);
    expect_relative(oracle_pvalue(one), p, 1e-10, "d2 = 1");
    EXPECT_EQ(out, "");
    // n = p_full and below: no test, with the warning.
    for (size_t n : {one.n - 1, size_t{1}}) {
        Design few = one;
        few.n = n;
        few.y.resize(n);
        few.reduced.resize(n * few.pr);
        few.full.resize(n * few.pf);
        EXPECT_EQ(run_ancova(few, &out), 2.0);
        EXPECT_EQ(out, "Warning: too few observations in linear regression.\n");
    }
    // A reduced design with one row too many: the row-count error, though the
    // full design matches.
    Gsl_design g(d);
    gsl_matrix* longer = gsl_matrix_calloc(d.n + 1, d.pr);
    double q = 0.0;
    out = capture_stdout([&] { q = ancova(g.y, longer, g.full); });
    gsl_matrix_free(longer);
    EXPECT_EQ(q, 2.0);
    EXPECT_EQ(out, "Error: non consistent observation number in linear regression!\n");
    // d1 = 0: both designs the same (a single group); silently no test.
    Design same = d;
    same.full = same.reduced;
    same.pf = same.pr;
    EXPECT_EQ(run_ancova(same, &out), 2.0);
    EXPECT_EQ(out, "");
}

TEST(ancova, degenerate_responses) {
    std::mt19937_64 rng(8);
    for (Kind kind : all_kinds) {
        Design d = random_design(rng, kind);
        // A constant response (also zero) is fitted exactly by the constant
        // column: 0/0 gives no test rather than rounding noise.
        for (double level : {3.7, -12.25, 0.0}) {
            Design constant = d;
            std::fill(constant.y.begin(), constant.y.end(), level);
            EXPECT_EQ(run_ancova(constant), 2.0) << level;
        }
        // The full model fits exactly but the reduced one does not: p = 0.
        if (kind != Kind::empty_group) {
            Design exact = d;
            for (size_t i = 0; i < d.n; ++i) exact.y[i] = d.full[i * d.pf + d.pf - 1] * 1.75 + 0.5;
            EXPECT_EQ(run_ancova(exact), 0.0);
        }
        // Values that are not numbers (a beta of exactly 0 or 1) are not tested.
        Design infinite = d;
        infinite.y[1] = INFINITY;
        EXPECT_EQ(run_ancova(infinite), 2.0);
    }
}

TEST(f_test_pvalue, rounding_and_no_test_rules) {
    EXPECT_EQ(f_test_pvalue(4.0, 2.0, 10.0, 0, 5), 2.0);  // d1 = 0
    EXPECT_EQ(f_test_pvalue(4.0, 2.0, 10.0, 1, 0), 2.0);  // d2 = 0
    EXPECT_EQ(f_test_pvalue(NAN, 2.0, 10.0, 1, 5), 2.0);
    EXPECT_EQ(f_test_pvalue(4.0, 2.0, INFINITY, 1, 5), 2.0);
    EXPECT_EQ(f_test_pvalue(4.0, 0.0, 10.0, 1, 5), 0.0);       // exact full fit
    EXPECT_EQ(f_test_pvalue(0.0, 0.0, 10.0, 1, 5), 2.0);       // 0/0
    EXPECT_EQ(f_test_pvalue(1e-28, 1e-29, 10.0, 1, 5), 2.0);   // both at rounding level
    EXPECT_EQ(f_test_pvalue(4.0, 4.0 + 1e-15, 10.0, 2, 5), 1.0);  // negative gain
    EXPECT_EQ(f_test_pvalue(4.0, 4.0 - 1e-15, 10.0, 2, 5), 1.0);  // gain within rounding
    // The textbook value elsewhere.
    EXPECT_DOUBLE_EQ(f_test_pvalue(9.0, 5.0, 40.0, 2, 10),
                     gsl_cdf_fdist_Q((4.0 / 2.0) / (5.0 / 10.0), 2.0, 10.0));
    // Every result is a p-value or the no-test value, also for degrees of
    // freedom where the F distribution gives up.
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> unit;
    for (int it = 0; it < 20000; ++it) {
        const uint32_t d1 = static_cast<uint32_t>(std::exp(unit(rng) * std::log(2e6)));
        const uint32_t d2 = 1 + static_cast<uint32_t>(std::exp(unit(rng) * std::log(2e8)));
        const double full = unit(rng) * 100.0;
        const double reduced = full * (1.0 + std::exp((unit(rng) - 0.9) * 20.0));
        const double p = f_test_pvalue(reduced, full, reduced * 3.0, d1, d2);
        EXPECT_TRUE((p >= 0.0 && p <= 1.0) || p == 2.0) << d1 << " " << d2 << " " << p;
    }
}

TEST(least_squares, rss_and_projector_match_oracle_on_random_designs) {
    std::mt19937_64 rng(21);
    Lsq_workspace ws;
    std::vector<double> scratch;
    for (int it = 0; it < 300; ++it) {
        for (Kind kind : all_kinds) {
            const Design d = random_design(rng, kind);
            for (bool full : {false, true}) {
                const std::vector<double>& x = full ? d.full : d.reduced;
                const size_t p = full ? d.pf : d.pr;
                const double expected = oracle_rss(x, d.n, p, d.y);
                expect_relative(expected, least_squares_rss(x.data(), d.n, p, d.y.data(), ws), 1e-10,
                                "least_squares_rss");
                Projector projector(x.data(), d.n, p);
                scratch.resize(projector.rank());
                expect_relative(expected, projector.rss(d.y.data(), scratch.data()), 1e-10, "Projector");
            }
        }
    }
}

TEST(least_squares, rank_and_small_shapes) {
    // Columns: constant, all zero, twice the constant, a trend: rank 2.
    const std::vector<double> x = {1, 0, 2, 1,  //
                                   1, 0, 2, 2,  //
                                   1, 0, 2, 3,  //
                                   1, 0, 2, 5};
    const std::vector<double> y = {1.0, 2.5, 2.0, 4.0};
    Projector projector(x.data(), 4, 4);
    EXPECT_EQ(projector.rank(), 2u);
    EXPECT_EQ(projector.rows(), 4u);
    Lsq_workspace ws;
    const double expected = oracle_rss(x, 4, 4, y);
    expect_relative(expected, least_squares_rss(x.data(), 4, 4, y.data(), ws), 1e-12, "rank 2");
    // Fewer rows than columns: the first two rows are fitted exactly.
    EXPECT_NEAR(least_squares_rss(x.data(), 2, 4, y.data(), ws), 0.0, 1e-24);
    EXPECT_EQ(least_squares_rss(x.data(), 0, 4, y.data(), ws), 0.0);
    // No usable column at all: the residual is y itself.
    const std::vector<double> zeros(8, 0.0);
    EXPECT_DOUBLE_EQ(least_squares_rss(zeros.data(), 4, 2, y.data(), ws), 1.0 + 6.25 + 4.0 + 16.0);
    // The same workspace serves a larger problem after a smaller one.
    std::mt19937_64 rng(2);
    const Design big = random_design(rng, Kind::collinear);
    expect_relative(oracle_rss(big.full, big.n, big.pf, big.y),
                    least_squares_rss(big.full.data(), big.n, big.pf, big.y.data(), ws), 1e-10, "reuse");
}

namespace {

// The design's rows other than the removed ones, packed in order.
std::vector<double> without_rows(const std::vector<double>& x, size_t p, const std::vector<uint32_t>& removed) {
    std::vector<double> kept;
    for (size_t i = 0; i < x.size() / p; ++i) {
        if (std::find(removed.begin(), removed.end(), i) != removed.end()) continue;
        kept.insert(kept.end(), x.begin() + static_cast<long>(i * p), x.begin() + static_cast<long>((i + 1) * p));
    }
    return kept;
}

// Fresh least-squares sums of both designs on the rows that are left.
void direct_rss(const Design& d, const std::vector<uint32_t>& removed, double& reduced, double& full) {
    const std::vector<double> y = without_rows(d.y, 1, removed);
    Lsq_workspace ws;
    reduced = least_squares_rss(without_rows(d.reduced, d.pr, removed).data(), y.size(), d.pr, y.data(), ws);
    full = least_squares_rss(without_rows(d.full, d.pf, removed).data(), y.size(), d.pf, y.data(), ws);
}

// Up to max_removed distinct rows; the response there is set to the mean of
// the rest, as the probe stage does.
std::vector<uint32_t> random_removal(std::mt19937_64& rng, Design& d) {
    std::vector<uint32_t> rows(d.n);
    for (uint32_t i = 0; i < d.n; ++i) rows[i] = i;
    std::shuffle(rows.begin(), rows.end(), rng);
    const size_t m = std::min<size_t>(rng() % (Nested_projector::max_removed + 1), d.n - d.pf - 1);
    rows.resize(m);
    double sum = 0.0;
    for (uint32_t i = 0; i < d.n; ++i) {
        if (std::find(rows.begin(), rows.end(), i) == rows.end()) sum += d.y[i];
    }
    for (uint32_t r : rows) d.y[r] = sum / static_cast<double>(d.n - m);
    return rows;
}

}  // namespace

// The nested factorisation with rows left out against fresh fits on the rows
// that are left, on random designs with all kinds of rank deficiency. An
// update may decline (near-singular), never give a wrong sum.
TEST(nested_projector, left_out_rows_match_fresh_fits_on_random_designs) {
    std::mt19937_64 rng(41);
    int updated = 0, declined = 0;
    for (int it = 0; it < 400; ++it) {
        for (Kind kind : all_kinds) {
            Design d = random_design(rng, kind);
            const Nested_projector nested(d.reduced.data(), d.full.data(), d.n, d.pr, d.pf);
            const std::vector<uint32_t> removed = random_removal(rng, d);
            std::vector<double> scratch(nested.scratch_size());
            double reduced = -1.0, full = -1.0, expected_reduced = 0.0, expected_full = 0.0;
            direct_rss(d, removed, expected_reduced, expected_full);
            if (!nested.rss(d.y.data(), removed.data(), removed.size(), scratch.data(), reduced, full)) {
                ++declined;
                EXPECT_EQ(reduced, -1.0);
                continue;
            }
            ++updated;
            const std::string what = "case " + std::to_string(it) + " removing " + std::to_string(removed.size());
            expect_relative(expected_full, full, 1e-10, what + " full");
            expect_relative(expected_reduced, reduced, 1e-10, what + " reduced");
        }
    }
    // Small random designs often leave one or two residual degrees of
    // freedom; most updates still go through.
    EXPECT_GT(updated, 1500);
    EXPECT_LT(declined, 300);
}

// Ranks of the two bases, and the cases an update must decline: removing
// every row of a group (the group's column becomes zero), more rows than
// max_removed, and a response that takes the full basis's whole residual.
TEST(nested_projector, ranks_and_declined_updates) {
    // Rows: covariable, then groups A A B B C C C (reduced: cov, 1; full: cov, A, B, C).
    const std::vector<double> cov = {3.0, 1.0, 4.0, 1.0, 5.0, 9.0, 2.0};
    const std::vector<int> group = {0, 0, 1, 1, 2, 2, 2};
    std::vector<double> reduced, full;
    for (size_t i = 0; i < cov.size(); ++i) {
        reduced.insert(reduced.end(), {cov[i], 1.0});
        full.insert(full.end(), {cov[i], group[i] == 0 ? 1.0 : 0.0, group[i] == 1 ? 1.0 : 0.0, group[i] == 2 ? 1.0 : 0.0});
    }
    const Nested_projector nested(reduced.data(), full.data(), 7, 2, 4);
    EXPECT_EQ(nested.rows(), 7u);
    EXPECT_EQ(nested.reduced_rank(), 2u);
    EXPECT_EQ(nested.rank(), 4u);  // the intercept lies in the span of A, B, C
    const std::vector<double> y = {0.5, 1.5, -0.3, 0.2, 2.0, 2.4, 1.1};
    std::vector<double> scratch(nested.scratch_size());
    double r = 0.0, f = 0.0;
    const std::vector<uint32_t> group_b = {2, 3};
    EXPECT_FALSE(nested.rss(y.data(), group_b.data(), 2, scratch.data(), r, f));
    const std::vector<uint32_t> many(Nested_projector::max_removed + 1, 0);
    EXPECT_FALSE(nested.rss(y.data(), many.data(), many.size(), scratch.data(), r, f));
    // Nothing removed: the same sums as the separate projections.
    ASSERT_TRUE(nested.rss(y.data(), nullptr, 0, scratch.data(), r, f));
    Lsq_workspace ws;
    expect_relative(least_squares_rss(reduced.data(), 7, 2, y.data(), ws), r, 1e-12, "reduced");
    expect_relative(least_squares_rss(full.data(), 7, 4, y.data(), ws), f, 1e-12, "full");
    // One row removed from group C keeps every column.
    const std::vector<uint32_t> one = {5};
    Design d;
    d.n = 7, d.pr = 2, d.pf = 4, d.y = y, d.reduced = reduced, d.full = full;
    double expected_r = 0.0, expected_f = 0.0;
    direct_rss(d, one, expected_r, expected_f);
    ASSERT_TRUE(nested.rss(y.data(), one.data(), 1, scratch.data(), r, f));
    expect_relative(expected_r, r, 1e-12, "reduced without row 5");
    expect_relative(expected_f, f, 1e-12, "full without row 5");
}
