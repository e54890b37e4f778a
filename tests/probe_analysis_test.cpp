// Probe analysis: the fast path against the reference on random small
// studies, the fit summaries against direct least squares per probe,
// the group means, the warnings, thread-count independence, and the
// running-maximum FDR on hand-made p-values.
#include "probe_analysis.h"

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gsl/gsl_cdf.h>
#include <gtest/gtest.h>

#include "test_util.h"

namespace {

// A study owned by the test: its names and a heap matrix.
struct Study {
    Data_description names;
    Data_matrix* matrix = new Data_matrix();
    std::vector<uint32_t> group_of;  // sample column -> group number
    ~Study() { data_matrix_free(matrix); }
};

// groups: group name per sample column ("all" for every sample in
// continuous mode); logit and usable are probe-major.
std::unique_ptr<Study> make_study(const std::vector<std::string>& probe_ids,
                                  const std::vector<std::string>& groups,
                                  const std::vector<double>& logit, const std::vector<bool>& usable,
                                  const std::vector<double>& covariables = {}, uint32_t covariable_num = 0,
                                  const std::vector<double>& continuous = {}) {
    auto study = std::make_unique<Study>();
    const size_t probes = probe_ids.size(), samples = groups.size();
    for (size_t r = 0; r < probes; ++r) study->names.probe_index.add(probe_ids[r], static_cast<uint32_t>(r));
    for (size_t s = 0; s < samples; ++s) {
        const std::string name = "sample" + std::to_string(s);
        study->names.sample_index.add(name, static_cast<uint32_t>(s));
        uint32_t number = 0;
        if (!study->names.group_index.find(groups[s], number)) {
            number = study->names.group_index.size();
            study->names.group_index.add(groups[s], number);
        }
        study->names.sample_group.add(name, groups[s]);
        study->group_of.push_back(number);
    }
    Data_matrix& m = *study->matrix;
    m.logit = gsl_matrix_alloc(probes, samples);
    for (size_t r = 0; r < probes; ++r) {
        for (size_t s = 0; s < samples; ++s) {
            gsl_matrix_set(m.logit, r, s, usable[r * samples + s] ? logit[r * samples + s] : excluded_value);
        }
    }
    if (covariable_num > 0) {
        m.covariable = gsl_matrix_alloc(samples, covariable_num);
        for (size_t i = 0; i < samples * covariable_num; ++i) m.covariable->data[i] = covariables[i];
    }
    if (!continuous.empty()) {
        m.continuous = gsl_matrix_alloc(samples, 1);
        for (size_t s = 0; s < samples; ++s) gsl_matrix_set(m.continuous, s, 0, continuous[s]);
    }
    return study;
}

struct Random_shape {
    uint32_t probes, samples, groups, covariables;
    bool continuous;
    double missing;  // chance that a value is excluded
};

// Random study with the awkward probes a real one has: all values usable,
// none usable, a group without values, too few values, a constant probe.
std::unique_ptr<Study> random_study(std::mt19937_64& rng, const Random_shape& shape) {
    std::uniform_real_distribution<double> unit;
    std::normal_distribution<double> normal;
    std::vector<std::string> ids, groups;
    for (uint32_t r = 0; r < shape.probes; ++r) ids.push_back("cg" + std::to_string(1000 + r));
    for (uint32_t s = 0; s < shape.samples; ++s) {
        groups.push_back(shape.continuous ? "all" : "group" + std::to_string((s * 7 + 3) % shape.groups));
    }
    std::vector<double> covariables, continuous, logit;
    std::vector<bool> usable;
    for (uint32_t i = 0; i < shape.samples * shape.covariables; ++i) covariables.push_back(30.0 + 15.0 * unit(rng));
    if (shape.continuous) {
        for (uint32_t s = 0; s < shape.samples; ++s) continuous.push_back(unit(rng) * 10.0);
    }
    for (uint32_t r = 0; r < shape.probes; ++r) {
        const uint32_t kind = r % 10;
        const double effect = normal(rng) * unit(rng);
        const uint32_t dropped_group = static_cast<uint32_t>(rng() % std::max<uint32_t>(shape.groups, 1));
        for (uint32_t s = 0; s < shape.samples; ++s) {
            const uint32_t g = shape.continuous ? 0 : (s * 7 + 3) % shape.groups;
            double value = normal(rng) - 1.0 + effect * (shape.continuous ? continuous[s] * 0.1 : g);
            if (shape.covariables > 0) value += 0.01 * covariables[s * shape.covariables];
            bool ok = unit(rng) >= shape.missing;
            if (kind == 0) ok = true;
            if (kind == 1) ok = false;
            if (kind == 2 && g == dropped_group) ok = false;
            if (kind == 3) ok = s < shape.groups + shape.covariables;  // n = p_full in group mode
            if (kind == 4) value = 2.5;
            logit.push_back(value);
            usable.push_back(ok);
        }
    }
    return make_study(ids, groups, logit, usable, covariables, shape.covariables, continuous);
}

struct Run {
    Probe_result result;
    std::string out;
    ~Run() { probe_result_free(result); }
};

std::unique_ptr<Run> analyse(Study& study, uint32_t threads, Fit_path path) {
    auto run = std::make_unique<Run>();
    run->out = mask_time_stamps(capture_stdout(
        [&] { probe_analysis(study.matrix, threads, study.names, run->result, path); }));
    return run;
}

void expect_close(double expected, double actual, double tolerance, const std::string& what) {
    if (expected == actual) return;
    EXPECT_LE(std::fabs(actual - expected), tolerance * std::fabs(expected))
        << what << ": expected " << expected << " got " << actual;
}

// The probe's reduced and full fits computed directly from dense designs of
// its usable values (least_squares_rss itself is checked against an
// independent oracle in ancova_test).
Fit_summary direct_fit(const Study& study, uint32_t probe) {
    const Data_matrix& m = *study.matrix;
    const size_t samples = m.logit->size2, k = m.covariable ? m.covariable->size2 : 0;
    const size_t pr = k + 1, pf = m.continuous ? k + 2 : k + study.names.group_index.size();
    std::vector<double> y, reduced, full;
    Fit_summary fit;
    for (size_t s = 0; s < samples; ++s) {
        if (!is_usable(gsl_matrix_get(m.logit, probe, s))) continue;
        y.push_back(gsl_matrix_get(m.logit, probe, s));
        fit.yy += y.back() * y.back();
        for (size_t c = 0; c < k; ++c) reduced.push_back(gsl_matrix_get(m.covariable, s, c));
        reduced.push_back(1.0);
        full.insert(full.end(), reduced.end() - static_cast<long>(pr), reduced.end() - 1);
        for (size_t g = 0; g < pf - k; ++g) {
            full.push_back(m.continuous ? (g == 0 ? 1.0 : gsl_matrix_get(m.continuous, s, 0))
                                        : (study.group_of[s] == g ? 1.0 : 0.0));
        }
    }
    fit.n = static_cast<uint32_t>(y.size());
    Lsq_workspace ws;
    fit.rss_reduced = least_squares_rss(reduced.data(), fit.n, pr, y.data(), ws);
    fit.rss_full = least_squares_rss(full.data(), fit.n, pf, y.data(), ws);
    return fit;
}

std::vector<double> vector_values(const gsl_vector* v) { return std::vector<double>(v->data, v->data + v->size); }

// Group means, with the NaN of a group without values as -1 so that two
// results compare equal when they agree on which groups have no mean.
std::vector<double> matrix_values(const gsl_matrix* m) {
    std::vector<double> values(m->data, m->data + m->size1 * m->size2);
    for (double& v : values) v = std::isnan(v) ? -1.0 : v;
    return values;
}

const Random_shape shapes[] = {
    {60, 12, 2, 0, false, 0.1}, {60, 15, 3, 1, false, 0.15}, {60, 20, 4, 2, false, 0.05},
    {60, 9, 2, 2, false, 0.2},  {60, 14, 1, 1, true, 0.1},   {60, 25, 1, 0, true, 0.3},
    {40, 30, 3, 3, false, 0.0},
    // Larger studies with few excluded values: most probes leave out a few
    // samples of the shared design.
    {80, 60, 2, 1, false, 0.03}, {60, 40, 3, 2, false, 0.05}, {60, 50, 1, 1, true, 0.04},
};

}  // namespace

TEST(probe_analysis, fast_path_matches_reference_on_random_studies) {
    std::mt19937_64 rng(17);
    for (const Random_shape& shape : shapes) {
        for (int repeat = 0; repeat < 3; ++repeat) {
            auto study = random_study(rng, shape);
            auto reference = analyse(*study, 1, Fit_path::reference);
            auto fast = analyse(*study, 1, Fit_path::fast);
            const std::string what = "shape with " + std::to_string(shape.samples) + " samples";
            for (uint32_t r = 0; r < shape.probes; ++r) {
                expect_close(gsl_vector_get(reference->result.pvalue, r), gsl_vector_get(fast->result.pvalue, r),
                             1e-9, what + " pvalue of row " + std::to_string(r));
                expect_close(gsl_vector_get(reference->result.fdr, r), gsl_vector_get(fast->result.fdr, r), 1e-9,
                             what + " fdr of row " + std::to_string(r));
            }
            EXPECT_EQ(matrix_values(reference->result.group_mean), matrix_values(fast->result.group_mean));
            EXPECT_EQ(vector_values(reference->result.range), vector_values(fast->result.range));
            EXPECT_EQ(reference->out, fast->out);
            EXPECT_TRUE(reference->result.fit.empty());
        }
    }
}

namespace {

// A study of twins: every sample has a twin in the other group (or, in
// continuous mode, at the mirrored value) with the same covariables, and the
// twins' values differ by a tiny amount, so that the full model adds almost
// nothing and F is small but positive. Some probes lose a pair of twins
// (the symmetry stays), a few a single sample.
std::unique_ptr<Study> twin_study(std::mt19937_64& rng, uint32_t pairs, uint32_t covariable_num, bool continuous) {
    std::uniform_real_distribution<double> unit;
    std::normal_distribution<double> normal;
    const uint32_t samples = 2 * pairs, probes = 40;
    std::vector<std::string> ids, groups;
    std::vector<double> covariables(samples * covariable_num), x(continuous ? samples : 0), logit;
    std::vector<bool> usable;
    for (uint32_t i = 0; i < pairs; ++i) {
        for (uint32_t c = 0; c < covariable_num; ++c) {
            covariables[i * covariable_num + c] = covariables[(pairs + i) * covariable_num + c] = 30.0 + 30.0 * unit(rng);
        }
        if (continuous) {
            x[i] = 5.0 + 5.0 * unit(rng);
            x[pairs + i] = 10.0 - x[i];
        }
    }
    for (uint32_t s = 0; s < samples; ++s) groups.push_back(continuous ? "all" : s < pairs ? "A" : "B");
    for (uint32_t r = 0; r < probes; ++r) {
        ids.push_back("cg" + std::to_string(100 + r));
        const double level = 3.0 * normal(rng), delta = std::pow(10.0, -2.0 - 3.5 * unit(rng));
        std::vector<double> twin(pairs);
        for (double& v : twin) v = level + 0.3 * normal(rng);
        for (uint32_t s = 0; s < samples; ++s) logit.push_back(s < pairs ? twin[s] : twin[s - pairs] + delta * normal(rng));
        std::vector<bool> ok(samples, true);
        for (uint32_t lost = r % 4 == 1 ? 1 + rng() % 3 : 0; lost > 0; --lost) {
            const uint32_t i = rng() % pairs;
            ok[i] = ok[pairs + i] = false;
        }
        if (r % 10 == 3) ok[rng() % samples] = false;
        usable.insert(usable.end(), ok.begin(), ok.end());
    }
    return make_study(ids, groups, logit, usable, covariables, covariable_num, x);
}

}  // namespace

// Probes whose groups barely differ: the fast path and the reference give the
// same small F, not p = 1 (compared on 1 - p, which carries F's digits).
TEST(probe_analysis, fast_path_matches_reference_where_the_groups_barely_differ) {
    std::mt19937_64 rng(29);
    for (uint32_t covariables : {0u, 1u, 2u}) {
        for (bool continuous : {false, true}) {
            auto study = twin_study(rng, 20, covariables, continuous);
            auto reference = analyse(*study, 1, Fit_path::reference);
            auto fast = analyse(*study, 1, Fit_path::fast);
            for (uint32_t r = 0; r < 40; ++r) {
                const double expected = 1.0 - gsl_vector_get(reference->result.pvalue, r);
                const double actual = 1.0 - gsl_vector_get(fast->result.pvalue, r);
                EXPECT_GT(expected, 0.0) << "row " << r;
                expect_close(expected, actual, 1e-8,
                             "1 - p of row " + std::to_string(r) + " with " + std::to_string(covariables) +
                                 (continuous ? " covariables, continuous" : " covariables"));
            }
        }
    }
}

// Two groups of 20 whose means differ by 8e-6 on the logit scale: group B
// holds group A's values in reverse order with one of them raised by 0.00016,
// and twins have the same age. The F values were computed exactly, in
// rational arithmetic on these very doubles (Python's fractions.Fraction,
// residual sums from the normal equations solved exactly), for all samples
// and with samples 3 and 36 excluded, without and with age as covariable.
TEST(probe_analysis, small_f_equals_its_exact_value) {
    const std::vector<double> a = {1.529897, 1.493365, 1.489689, 1.383154, 1.536769, 1.496836, 1.719834,
                                   1.292236, 2.018027, 0.852083, 1.511732, 1.681303, 1.457854, 1.343256,
                                   1.487959, 1.643596, 1.755460, 1.182514, 1.541916, 1.364101};
    const std::vector<double> ages = {57, 51, 39, 61, 54, 51, 56, 30, 54, 61, 48, 53, 61, 45, 69, 66, 53, 50, 29, 56};
    const double exact_f[2][2] = {{1.147498989237766e-08, 1.1572188687590291e-08},
                                  {1.1194805750133799e-08, 1.1301313954806657e-08}};
    std::vector<std::string> groups(20, "A");
    groups.resize(40, "B");
    std::vector<double> values = a, covariable = ages;
    values.insert(values.end(), a.rbegin(), a.rend());
    values[20] += 0.00016;
    covariable.insert(covariable.end(), ages.rbegin(), ages.rend());
    values.insert(values.end(), values.begin(), values.end());
    std::vector<bool> usable(80, true);
    usable[40 + 3] = usable[40 + 36] = false;
    for (uint32_t k : {0u, 1u}) {
        auto study = make_study({"cg01", "cg02"}, groups, values, usable, k ? covariable : std::vector<double>(), k);
        for (Fit_path path : {Fit_path::reference, Fit_path::fast}) {
            auto run = analyse(*study, 1, path);
            for (uint32_t r = 0; r < 2; ++r) {
                const double d2 = (r == 0 ? 40.0 : 38.0) - 2.0 - k;
                const std::string what = "probe " + std::to_string(r) + (k ? " with age" : "") +
                                         (path == Fit_path::fast ? ", fast" : ", reference");
                // 1 - p carries F's digits where p is close to 1.
                expect_close(gsl_cdf_fdist_P(exact_f[k][r], 1.0, d2), 1.0 - gsl_vector_get(run->result.pvalue, r),
                             1e-10, what);
                if (path == Fit_path::fast) {
                    const Fit_summary& fit = run->result.fit[r];
                    expect_close(exact_f[k][r], fit.gain / (fit.rss_full / d2), 1e-10, what + " F");
                }
            }
        }
    }
}

TEST(probe_analysis, fit_summaries_are_each_probes_own_least_squares) {
    std::mt19937_64 rng(29);
    for (const Random_shape& shape : shapes) {
        auto study = random_study(rng, shape);
        auto fast = analyse(*study, 2, Fit_path::fast);
        ASSERT_EQ(fast->result.fit.size(), shape.probes);
        for (uint32_t r = 0; r < shape.probes; ++r) {
            const Fit_summary expected = direct_fit(*study, r);
            const Fit_summary& actual = fast->result.fit[r];
            const std::string what = "row " + std::to_string(r);
            EXPECT_EQ(expected.n, actual.n) << what;
            expect_close(expected.yy, actual.yy, 1e-12, what + " yy");
            // Sums at rounding level (a constant probe) compare absolutely.
            const double floor = 1e-20 * expected.yy;
            if (expected.rss_reduced > floor || actual.rss_reduced > floor) {
                expect_close(expected.rss_reduced, actual.rss_reduced, 1e-12, what + " reduced");
            }
            if (expected.rss_full > floor || actual.rss_full > floor) {
                expect_close(expected.rss_full, actual.rss_full, 1e-12, what + " full");
            }
        }
    }
}

TEST(probe_analysis, one_and_three_workers_give_identical_results) {
    std::mt19937_64 rng(31);
    auto study = random_study(rng, {61, 16, 3, 1, false, 0.1});
    for (Fit_path path : {Fit_path::fast, Fit_path::reference}) {
        auto one = analyse(*study, 1, path);
        auto three = analyse(*study, 3, path);
        EXPECT_EQ(vector_values(one->result.pvalue), vector_values(three->result.pvalue));
        EXPECT_EQ(vector_values(one->result.fdr), vector_values(three->result.fdr));
        EXPECT_EQ(vector_values(one->result.range), vector_values(three->result.range));
        EXPECT_EQ(matrix_values(one->result.group_mean), matrix_values(three->result.group_mean));
        ASSERT_EQ(one->result.fit.size(), three->result.fit.size());
        for (size_t r = 0; r < one->result.fit.size(); ++r) {
            EXPECT_EQ(one->result.fit[r].rss_full, three->result.fit[r].rss_full);
            EXPECT_EQ(one->result.fit[r].rss_reduced, three->result.fit[r].rss_reduced);
        }
    }
    // More workers than probes: the extra ones have nothing to do.
    auto few = random_study(rng, {3, 8, 2, 0, false, 0.0});
    auto many = analyse(*few, 7, Fit_path::fast);
    auto single = analyse(*few, 1, Fit_path::fast);
    EXPECT_EQ(vector_values(many->result.pvalue), vector_values(single->result.pvalue));
}

// Samples (columns) 0..4 in groups A, B, A, B, A.
//   cg01: all usable; A logits 0, 1, 2 (mean 1), B logits -1, -3 (mean -2).
//   cg02: group B excluded; A alone fits the full design no better: p = 1.
//         B has no mean (not an invented 0.5) and the range, taken over the
//         groups with a mean, is 0.
//   cg03: only samples 0 and 1 usable: n = 2 = full columns, no test.
//   cg04: nothing usable: no test and no group mean.
TEST(probe_analysis, group_means_range_and_warnings) {
    auto study = make_study({"cg01", "cg02", "cg03", "cg04"}, {"A", "B", "A", "B", "A"},
                            {0.0, -1.0, 1.0, -3.0, 2.0,  //
                             0.5, 9.0, 1.5, 9.0, -0.5,   //
                             0.3, 0.1, 0.0, 0.0, 0.0,    //
                             0.0, 0.0, 0.0, 0.0, 0.0},
                            {true, true, true, true, true,     //
                             true, false, true, false, true,   //
                             true, true, false, false, false,  //
                             false, false, false, false, false});
    for (Fit_path path : {Fit_path::reference, Fit_path::fast}) {
        auto run = analyse(*study, 1, path);
        const Probe_result& r = run->result;
        const double a = std::exp(1.0) / (1.0 + std::exp(1.0)), b = std::exp(-2.0) / (1.0 + std::exp(-2.0));
        EXPECT_DOUBLE_EQ(gsl_matrix_get(r.group_mean, 0, 0), a);
        EXPECT_DOUBLE_EQ(gsl_matrix_get(r.group_mean, 0, 1), b);
        EXPECT_DOUBLE_EQ(gsl_vector_get(r.range, 0), a - b);
        EXPECT_TRUE(std::isnan(gsl_matrix_get(r.group_mean, 1, 1)));
        EXPECT_DOUBLE_EQ(gsl_matrix_get(r.group_mean, 1, 0), std::exp(0.5) / (1.0 + std::exp(0.5)));
        EXPECT_EQ(gsl_vector_get(r.range, 1), 0.0);
        EXPECT_EQ(gsl_vector_get(r.pvalue, 1), 1.0);
        EXPECT_EQ(gsl_vector_get(r.pvalue, 2), 2.0);
        EXPECT_EQ(gsl_vector_get(r.pvalue, 3), 2.0);
        EXPECT_EQ(gsl_vector_get(r.fdr, 3), 1.0);
        EXPECT_EQ(gsl_vector_get(r.range, 3), 0.0);
        EXPECT_TRUE(std::isnan(gsl_matrix_get(r.group_mean, 3, 0)));
        // Two-sample t test on cg01: squares 2 + 2 on 3 degrees of freedom.
        const double t = 3.0 / std::sqrt(4.0 / 3.0 * (1.0 / 3.0 + 1.0 / 2.0));
        EXPECT_NEAR(gsl_vector_get(r.pvalue, 0), 2.0 * gsl_cdf_tdist_Q(t, 3.0), 1e-12);
        EXPECT_EQ(run->out,
                  "[TIME]     Probe analysis\n"
                  "[TIME]       Calculate pvalue\n"
                  "Warning: no valid beta value of probe cg02 in group B\n"
                  "Warning: too few observations in linear regression.\n"
                  "Warning: too few observations for probe cg03\n"
                  "Warning: too few observations in linear regression.\n"
                  "Warning: too few observations for probe cg04\n"
                  "Warning: no valid beta value of probe cg04 in group A\n"
                  "Warning: no valid beta value of probe cg04 in group B\n"
                  "[TIME]       Calculate fdr and range\n");
    }
}

// Continuous mode: one group "all", range 0, and the slope test of a simple
// regression (x = 1..6, no covariables).
TEST(probe_analysis, continuous_mode_tests_the_slope) {
    const std::vector<double> x = {1, 2, 3, 4, 5, 6}, y = {0.2, 0.1, 0.9, 1.1, 0.8, 1.7};
    auto study = make_study({"cg01"}, std::vector<std::string>(6, "all"), y, std::vector<bool>(6, true), {}, 0, x);
    double sxy = 0, sxx = 0, mean_y = 0;
    for (double v : y) mean_y += v / 6.0;
    for (size_t i = 0; i < 6; ++i) sxy += (x[i] - 3.5) * (y[i] - mean_y), sxx += (x[i] - 3.5) * (x[i] - 3.5);
    const double slope = sxy / sxx;
    double rss = 0;
    for (size_t i = 0; i < 6; ++i) rss += std::pow(y[i] - mean_y - slope * (x[i] - 3.5), 2);
    const double t = slope / std::sqrt(rss / 4.0 / sxx);
    for (Fit_path path : {Fit_path::reference, Fit_path::fast}) {
        auto run = analyse(*study, 1, path);
        EXPECT_EQ(run->result.group_mean->size2, 1u);
        EXPECT_EQ(gsl_vector_get(run->result.range, 0), 0.0);
        EXPECT_NEAR(gsl_vector_get(run->result.pvalue, 0), 2.0 * gsl_cdf_tdist_Q(std::fabs(t), 4.0), 1e-12);
    }
}

// Values the F test cannot use: a single group (nothing to compare), a
// constant probe, and a beta of exactly 1 (logit +inf).
TEST(probe_analysis, untestable_probes_give_no_test_and_no_nan) {
    auto single = make_study({"cg01"}, {"A", "A", "A", "A"}, {0.1, 0.5, 0.3, 0.9}, std::vector<bool>(4, true));
    auto constant = make_study({"cg01", "cg02"}, {"A", "B", "A", "B", "A", "B"},
                               {1.5, 1.5, 1.5, 1.5, 1.5, 1.5, 0.2, 0.4, INFINITY, 0.1, 0.3, 0.2},
                               std::vector<bool>(12, true));
    for (Fit_path path : {Fit_path::reference, Fit_path::fast}) {
        auto one_group = analyse(*single, 2, path);
        EXPECT_EQ(gsl_vector_get(one_group->result.pvalue, 0), 2.0);
        auto run = analyse(*constant, 1, path);
        EXPECT_EQ(gsl_vector_get(run->result.pvalue, 0), 2.0);
        EXPECT_EQ(gsl_vector_get(run->result.pvalue, 1), 2.0);
        EXPECT_EQ(gsl_matrix_get(run->result.group_mean, 1, 0), 1.0);
        EXPECT_TRUE(std::isfinite(gsl_vector_get(run->result.range, 1)));
    }
}

// A covariable matrix with another sample count than the betas is an error
// for both paths, not a run with made-up p-values.
TEST(probe_analysis, mismatched_covariable_rows_fail_the_stage) {
    auto study = make_study({"cg01"}, {"A", "B", "A", "B"}, {0.1, 0.5, 0.3, 0.9}, std::vector<bool>(4, true),
                            {1.0, 2.0, 3.0, 4.0}, 1);
    gsl_matrix_free(study->matrix->covariable);
    study->matrix->covariable = gsl_matrix_alloc(3, 1);
    for (Fit_path path : {Fit_path::reference, Fit_path::fast}) {
        Probe_result result;
        bool ok = true;
        const std::string out = capture_stdout(
            [&] { ok = probe_analysis(study->matrix, 1, study->names, result, path); });
        EXPECT_FALSE(ok);
        EXPECT_NE(out.find("disagree on the sample count"), std::string::npos) << out;
        probe_result_free(result);
    }
}

namespace {

// p-values written straight into a result, one probe per value (identifiers
// cg00, cg01, …), then the FDR step.
std::vector<double> fdr_of(const std::vector<double>& pvalues, const std::vector<std::string>& ids = {}) {
    Data_description study;
    for (size_t r = 0; r < pvalues.size(); ++r) {
        const std::string id = ids.empty() ? "cg0" + std::to_string(r) : ids[r];
        study.probe_index.add(id, static_cast<uint32_t>(r));
    }
    Probe_result result;
    result.pvalue = gsl_vector_alloc(pvalues.size());
    result.fdr = gsl_vector_alloc(pvalues.size());
    for (size_t r = 0; r < pvalues.size(); ++r) gsl_vector_set(result.pvalue, r, pvalues[r]);
    gsl_vector_set_all(result.fdr, 0.123);
    fdr_range(nullptr, result, study);
    std::vector<double> fdr = vector_values(result.fdr);
    probe_result_free(result);
    return fdr;
}

}  // namespace

TEST(fdr_range, running_maximum_examples) {
    // The running maximum, not the step-up minimum: 0.011 keeps 0.02.
    EXPECT_EQ(fdr_of({0.011, 0.01}), (std::vector<double>{0.02, 0.02}));
    // All equal: min(1, m p) for each, whatever their order after sorting.
    EXPECT_EQ(fdr_of({0.02, 0.02, 0.02}), (std::vector<double>{0.06, 0.06, 0.06}));
    EXPECT_EQ(fdr_of({0.5, 0.5, 0.5}), (std::vector<double>{1.0, 1.0, 1.0}));
    // Untested probes keep 1.0 and do not count in m; 1.0 itself is tested.
    EXPECT_EQ(fdr_of({2.0, 0.01, 2.0, 0.03}), (std::vector<double>{1.0, 0.02, 1.0, 0.03}));
    EXPECT_EQ(fdr_of({1.0, 2.0}), (std::vector<double>{1.0, 1.0}));
    // m = 0: every rate stays 1.0.
    EXPECT_EQ(fdr_of({2.0, 2.0}), (std::vector<double>{1.0, 1.0}));
    // 3 * 0.01 / 1, 3 * 0.03 / 2 = 0.045, and 3 * 0.04 / 3 raised to 0.045.
    const std::vector<double> three = fdr_of({0.04, 0.01, 0.03});
    EXPECT_DOUBLE_EQ(three[0], 0.045);
    EXPECT_DOUBLE_EQ(three[1], 0.03);
    EXPECT_DOUBLE_EQ(three[2], 0.045);
}

// Past fault: rates were written back through the identifier, so two rows
// with one identifier sent both rates to the same row. Each row keeps its own.
TEST(fdr_range, repeated_identifier_keeps_each_rows_rate) {
    std::vector<double> fdr;
    capture_stdout([&] { fdr = fdr_of({0.001, 0.5, 0.04}, {"cg07", "cg07", "cg09"}); });
    EXPECT_DOUBLE_EQ(fdr[0], 0.003);
    EXPECT_DOUBLE_EQ(fdr[1], 0.5 * 3 / 3);
    EXPECT_DOUBLE_EQ(fdr[2], 0.06);
}

TEST(running_max_fdr, sorts_entries_and_ranks_ties_by_name) {
    std::vector<Ranked_pvalue> entries(3);
    entries[0].order.set("b", 0.02);
    entries[0].row = 0;
    entries[1].order.set("a", 0.02);
    entries[1].row = 1;
    entries[2].order.set("c", 0.001);
    entries[2].row = 2;
    const std::vector<double> fdr = running_max_fdr(entries);
    EXPECT_EQ(entries[0].row, 2u);
    EXPECT_EQ(entries[1].row, 1u);
    EXPECT_EQ(entries[2].row, 0u);
    EXPECT_DOUBLE_EQ(fdr[0], 0.003);
    EXPECT_DOUBLE_EQ(fdr[1], 0.03);
    EXPECT_DOUBLE_EQ(fdr[2], 0.03);
    std::vector<Ranked_pvalue> none;
    EXPECT_TRUE(running_max_fdr(none).empty());
}

// A tested row whose identifier is not registered ranks under the empty name
// after get()'s message; the rows around it keep their own identifiers.
TEST(fdr_range, row_without_identifier_ranks_under_empty_name) {
    Data_description study;
    study.probe_index.add("cg02", 0);
    study.probe_index.add("cg01", 2);
    Probe_result result;
    result.pvalue = gsl_vector_alloc(3);
    result.fdr = gsl_vector_alloc(3);
    for (size_t r = 0; r < 3; ++r) gsl_vector_set(result.pvalue, r, 0.01);
    const std::string out = capture_stdout([&] { fdr_range(nullptr, result, study); });
    EXPECT_EQ(out, "Error: wrong probe index 1\n");
    // Equal values: "" (row 1), "cg01" (row 2), "cg02" (row 0) all get 0.03.
    EXPECT_EQ(vector_values(result.fdr), (std::vector<double>{0.03, 0.03, 0.03}));
    // Ranked cg02 (0.001), "" and cg01: 0.003, then 0.015 for both others.
    gsl_vector_set(result.pvalue, 0, 0.001);
    capture_stdout([&] { fdr_range(nullptr, result, study); });
    EXPECT_DOUBLE_EQ(gsl_vector_get(result.fdr, 0), 0.003);
    EXPECT_DOUBLE_EQ(gsl_vector_get(result.fdr, 1), 0.015);
    EXPECT_DOUBLE_EQ(gsl_vector_get(result.fdr, 2), 0.015);
    probe_result_free(result);
}
