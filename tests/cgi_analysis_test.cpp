// Region tests: the dense block-design fit, the fast path that sums the
// probes' own fits, the two-probe minimum, the region FDR and the stage's
// progress lines. Studies are built in memory; the larger ones come from a
// fixed seed, printed with every failure.
#include "cgi_analysis.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gsl/gsl_cdf.h>
#include <gsl/gsl_randist.h>
#include <gtest/gtest.h>

#include "spill_file.h"
#include "test_util.h"

namespace {

// A study held in memory: samples, groups, probes, matrix, regions, and the
// probes' own fit summaries as the probe stage leaves them.
struct Study {
    Data_description names;
    Data_matrix* matrix = new Data_matrix;
    CGI_description region_list;
    Probe_result probes;

    Study() = default;
    Study(const Study&) = delete;
    Study& operator=(const Study&) = delete;
    ~Study() { data_matrix_free(matrix); }
};

// groups[s] is the group of sample s (group numbers 0 … max); continuous mode
// when continuous is not empty (one value per sample, a single group).
std::unique_ptr<Study> make_study(uint32_t probes, const std::vector<uint32_t>& groups,
                                  uint32_t covariables,
                                  const std::vector<double>& continuous = {}) {
    auto study = std::make_unique<Study>();
    const uint32_t samples = static_cast<uint32_t>(groups.size());
    uint32_t group_count = 0;
    for (uint32_t g : groups) group_count = std::max(group_count, g + 1);
    for (uint32_t g = 0; g < group_count; ++g)
        study->names.group_index.add("g" + std::to_string(g), g);
    for (uint32_t s = 0; s < samples; ++s) {
        const std::string name = "s" + std::to_string(s);
        study->names.sample_index.add(name, s);
        study->names.sample_group.add(name, "g" + std::to_string(groups[s]));
    }
    for (uint32_t p = 0; p < probes; ++p)
        study->names.probe_index.add("cg" + std::to_string(p), p);
    Data_matrix& m = *study->matrix;
    m.logit = gsl_matrix_calloc(probes, samples);
    if (covariables > 0) m.covariable = gsl_matrix_calloc(samples, covariables);
    if (!continuous.empty()) {
        m.continuous = gsl_matrix_alloc(samples, 1);
        for (uint32_t s = 0; s < samples; ++s) gsl_matrix_set(m.continuous, s, 0, continuous[s]);
    }
    return study;
}

void add_region(Study& study, const std::vector<uint32_t>& rows) {
    const uint32_t index = static_cast<uint32_t>(study.region_list.regions.size());
    Bed region;
    region.chr = "chr1";
    region.start = 1000 * index;
    region.end = region.start + 500;
    study.region_list.regions.push_back(region);
    if (rows.empty()) return;
    for (uint32_t row : rows) study.region_list.region_probes.add(index, row);
}

// Each probe's own reduced and full least-squares fits on its usable values,
// built here from the single-probe design layout, independently of the library.
void fill_probe_fits(Study& study) {
    const Data_matrix& m = *study.matrix;
    const size_t samples = m.logit->size2;
    const size_t K = m.covariable ? m.covariable->size2 : 0;
    const size_t G = study.names.group_index.size();
    const bool continuous = m.continuous != nullptr;
    const size_t pr = K + 1, pf = continuous ? K + 2 : G + K;
    Lsq_workspace ws;
    study.probes.fit.assign(m.logit->size1, Fit_summary());
    for (size_t row = 0; row < m.logit->size1; ++row) {
        std::vector<double> y, reduced, full;
        for (size_t s = 0; s < samples; ++s) {
            if (!is_usable(gsl_matrix_get(m.logit, row, s))) continue;
            y.push_back(gsl_matrix_get(m.logit, row, s));
            std::vector<double> cov;
            for (size_t c = 0; c < K; ++c) cov.push_back(gsl_matrix_get(m.covariable, s, c));
            reduced.insert(reduced.end(), cov.begin(), cov.end());
            reduced.push_back(1.0);
            full.insert(full.end(), cov.begin(), cov.end());
            if (continuous) {
                full.push_back(1.0);
                full.push_back(gsl_matrix_get(m.continuous, s, 0));
            } else {
                const std::string group =
                    study.names.sample_group.get_group("s" + std::to_string(s));
                for (size_t g = 0; g < G; ++g)
                    full.push_back(study.names.group_index.get(group) == g);
            }
        }
        Fit_summary& fit = study.probes.fit[row];
        fit.n = static_cast<uint32_t>(y.size());
        if (y.empty()) continue;
        for (double v : y) fit.yy += v * v;
        fit.rss_reduced = least_squares_rss(reduced.data(), y.size(), pr, y.data(), ws);
        fit.rss_full = least_squares_rss(full.data(), y.size(), pf, y.data(), ws);
    }
}

std::vector<double> values(const gsl_vector* v) {
    std::vector<double> out;
    if (v != nullptr) out.assign(v->data, v->data + v->size);
    return out;
}

std::vector<double> run_regions(Study& study, uint32_t threads, Fit_path path,
                                std::vector<double>* fdr = nullptr, Region_test test = Region_test::pooled) {
    CGI_result result;
    capture_stdout([&] {
        test_regions(study.matrix, threads, study.names, result, study.region_list, &study.probes,
                     path, test);
    });
    std::vector<double> pvalues = values(result.pvalue);
    if (fdr != nullptr) *fdr = values(result.fdr);
    cgi_result_free(result);
    return pvalues;
}

void expect_same_pvalues(const std::vector<double>& reference, const std::vector<double>& fast) {
    ASSERT_EQ(reference.size(), fast.size());
    for (size_t i = 0; i < reference.size(); ++i) {
        SCOPED_TRACE("region " + std::to_string(i));
        if (reference[i] == 2.0 || fast[i] == 2.0) {
            EXPECT_EQ(reference[i], fast[i]);
        } else {
            EXPECT_NEAR(fast[i], reference[i], 1e-9 * reference[i] + 1e-300);
        }
    }
}

// Two groups of three samples, one three-probe region with hand-picked values.
std::unique_ptr<Study> three_probes_six_samples() {
    auto study = make_study(3, {0, 0, 0, 1, 1, 1}, 0);
    const double y[3][6] = {{0.1, 0.4, -0.2, 1.3, 0.9, 1.6},
                            {-1.0, -0.7, -1.4, -0.2, -0.9, 0.3},
                            {2.0, 2.2, 1.7, 2.1, 2.6, 1.8}};
    for (size_t p = 0; p < 3; ++p)
        for (size_t s = 0; s < 6; ++s) gsl_matrix_set(study->matrix->logit, p, s, y[p][s]);
    add_region(*study, {0, 1, 2});
    fill_probe_fits(*study);
    return study;
}

// Sum of squared deviations from the mean.
double centred_ss(const std::vector<double>& v) {
    double mean = 0.0, ss = 0.0;
    for (double x : v) mean += x / v.size();
    for (double x : v) ss += (x - mean) * (x - mean);
    return ss;
}

TEST(cgi_analysis, three_probes_six_samples_matches_hand_computed_f_test) {
    auto study = three_probes_six_samples();
    double rss_reduced = 0.0, rss_full = 0.0;
    for (size_t p = 0; p < 3; ++p) {
        std::vector<double> all, a, b;
        for (size_t s = 0; s < 6; ++s) {
            const double v = gsl_matrix_get(study->matrix->logit, p, s);
            all.push_back(v);
            (s < 3 ? a : b).push_back(v);
        }
        rss_reduced += centred_ss(all);
        rss_full += centred_ss(a) + centred_ss(b);
    }
    // 18 observations, 3 constants against 6 group levels: d1 = 3, d2 = 12.
    const double f = ((rss_reduced - rss_full) / 3.0) / (rss_full / 12.0);
    const double expected = gsl_cdf_fdist_Q(f, 3.0, 12.0);
    ASSERT_GT(expected, 1e-6);
    EXPECT_NEAR(run_regions(*study, 1, Fit_path::reference)[0], expected, 1e-9 * expected);
    EXPECT_NEAR(run_regions(*study, 1, Fit_path::fast)[0], expected, 1e-9 * expected);
}

TEST(cgi_analysis, region_of_fewer_than_two_probes_is_untested) {
    // Region 0 has one probe, region 1 none at all, region 2 is testable.
    auto study = three_probes_six_samples();
    study->region_list = CGI_description();
    add_region(*study, {0});
    add_region(*study, {});
    add_region(*study, {0, 1});
    for (Fit_path path : {Fit_path::reference, Fit_path::fast}) {
        std::vector<double> fdr;
        std::vector<double> p = run_regions(*study, 2, path, &fdr);
        EXPECT_EQ(p[0], 2.0);
        EXPECT_EQ(fdr[0], 2.0);
        EXPECT_EQ(p[1], 2.0);
        EXPECT_EQ(fdr[1], 2.0);
        ASSERT_LT(p[2], 1.0);
        EXPECT_DOUBLE_EQ(fdr[2], p[2]);  // m = 1: the untested regions do not count
    }
    // The lookups must not have given the region without probes any.
    EXPECT_EQ(study->region_list.region_probes.count(1), 0u);
}

TEST(cgi_analysis, observation_count_decides_too_few_by_full_columns) {
    // Two probes, one covariable, two groups: 4 reduced and 6 full columns.
    // Samples 0-3 usable for probe 0, samples 0-2 for probe 1: 7 observations
    // (d2 = 1) are tested; leaving out one more (6 = full columns) is not.
    auto study = make_study(2, {0, 1, 0, 1}, 1);
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (size_t p = 0; p < 2; ++p)
        for (size_t s = 0; s < 4; ++s) gsl_matrix_set(study->matrix->logit, p, s, noise(rng));
    for (size_t s = 0; s < 4; ++s) gsl_matrix_set(study->matrix->covariable, s, 0, noise(rng));
    gsl_matrix_set(study->matrix->logit, 1, 3, excluded_value);
    add_region(*study, {0, 1});
    for (Fit_path path : {Fit_path::reference, Fit_path::fast}) {
        fill_probe_fits(*study);
        EXPECT_LT(run_regions(*study, 1, path)[0], 1.0);
    }
    gsl_matrix_set(study->matrix->logit, 1, 2, excluded_value);
    fill_probe_fits(*study);
    for (Fit_path path : {Fit_path::reference, Fit_path::fast}) {
        CGI_result result;
        std::string out = capture_stdout([&] {
            test_regions(study->matrix, 1, study->names, result, study->region_list,
                         &study->probes, path, Region_test::pooled);
        });
        EXPECT_EQ(out, "Warning: too few observations in linear regression.\n");
        EXPECT_EQ(gsl_vector_get(result.pvalue, 0), 2.0);
        EXPECT_EQ(gsl_vector_get(result.fdr, 0), 2.0);
        cgi_result_free(result);
    }
}

TEST(cgi_analysis, region_without_any_usable_value_is_untested) {
    auto study = three_probes_six_samples();
    gsl_matrix_set_all(study->matrix->logit, excluded_value);
    fill_probe_fits(*study);
    EXPECT_EQ(run_regions(*study, 1, Fit_path::reference)[0], 2.0);
    EXPECT_EQ(run_regions(*study, 1, Fit_path::fast)[0], 2.0);
}

TEST(cgi_analysis, worker_takes_every_step_th_region) {
    // Ten testable regions; worker 1 of 4 must write regions 1, 5 and 9 only.
    auto study = three_probes_six_samples();
    study->region_list = CGI_description();
    for (int i = 0; i < 10; ++i) add_region(*study, {0, 1, 2});
    CGI_result result;
    result.pvalue = gsl_vector_alloc(10);
    gsl_vector_set_all(result.pvalue, 2.0);
    cgi_analysis_thread(study->matrix, 1, 4, &study->names, &study->region_list, &result);
    for (size_t i = 0; i < 10; ++i)
        EXPECT_EQ(gsl_vector_get(result.pvalue, i) < 1.0, i % 4 == 1) << i;
    gsl_vector_set_all(result.pvalue, 2.0);
    cgi_analysis_fast_thread(study->matrix, 1, 4, &study->names, &study->region_list,
                             &study->probes, &result);
    for (size_t i = 0; i < 10; ++i)
        EXPECT_EQ(gsl_vector_get(result.pvalue, i) < 1.0, i % 4 == 1) << i;
    cgi_result_free(result);
}

// ---- random studies: the fast path against the dense reference ----

struct Random_case {
    uint32_t groups;  // ignored in continuous mode
    uint32_t covariables;
    bool continuous;
    bool collinear;  // covariable 1 = 2 x covariable 0 (rank-deficient blocks)
};

// Probes with random missing values, some with none usable, some with a
// group left without values (an all-zero full-design column); 40 regions of
// smallest to largest probes.
std::unique_ptr<Study> random_study(const Random_case& c, std::mt19937& rng, uint32_t probes = 30,
                                    uint32_t smallest = 1, uint32_t largest = 6) {
    std::uniform_int_distribution<uint32_t> sample_count(6, 14);
    const uint32_t samples = sample_count(rng);
    std::vector<uint32_t> groups(samples, 0);
    std::vector<double> continuous;
    std::normal_distribution<double> normal(0.0, 1.0);
    for (uint32_t s = 0; s < samples; ++s) {
        if (c.continuous)
            continuous.push_back(normal(rng));
        else
            groups[s] = s % c.groups;
    }
    auto study = make_study(probes, groups, c.covariables, continuous);
    Data_matrix& m = *study->matrix;
    for (uint32_t s = 0; s < samples; ++s)
        for (uint32_t k = 0; k < c.covariables; ++k)
            gsl_matrix_set(
                m.covariable, s, k,
                k == 1 && c.collinear ? 2 * gsl_matrix_get(m.covariable, s, 0) : normal(rng));
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (uint32_t p = 0; p < probes; ++p) {
        const double kind = unit(rng);
        for (uint32_t s = 0; s < samples; ++s) {
            gsl_matrix_set(
                m.logit, p, s,
                normal(rng) + 0.4 * groups[s] + (continuous.empty() ? 0 : 0.3 * continuous[s]));
            bool missing = unit(rng) < 0.15;
            if (kind < 0.1) missing = true;                                      // nothing usable
            if (kind > 0.85 && !c.continuous && groups[s] == 1) missing = true;  // empty group
            if (missing) gsl_matrix_set(m.logit, p, s, excluded_value);
        }
    }
    std::uniform_int_distribution<uint32_t> size(smallest, largest), row(0, probes - 1);
    for (int r = 0; r < 40; ++r) {
        std::vector<uint32_t> rows;
        const uint32_t n = size(rng);
        while (rows.size() < n) {
            const uint32_t candidate = row(rng);
            if (std::find(rows.begin(), rows.end(), candidate) == rows.end())
                rows.push_back(candidate);
        }
        add_region(*study, rows);
    }
    fill_probe_fits(*study);
    return study;
}

const Random_case random_cases[] = {
    {2, 0, false, false}, {3, 1, false, false}, {2, 2, false, true},
    {4, 2, false, false}, {1, 0, true, false},  {1, 2, true, true},
};

TEST(cgi_analysis, fast_path_matches_dense_reference_on_random_regions) {
    const uint32_t seed = 20240611;
    std::mt19937 rng(seed);
    int tested = 0;
    for (const Random_case& c : random_cases) {
        for (int repeat = 0; repeat < 8; ++repeat) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", groups " + std::to_string(c.groups) +
                         ", covariables " + std::to_string(c.covariables) +
                         (c.continuous ? ", continuous" : "") + ", repeat " +
                         std::to_string(repeat));
            auto study = random_study(c, rng);
            std::vector<double> reference = run_regions(*study, 1, Fit_path::reference);
            expect_same_pvalues(reference, run_regions(*study, 1, Fit_path::fast));
            for (double p : reference) tested += p <= 1.0;
        }
    }
    EXPECT_GT(tested, 1000);  // most regions must really be compared, not both untested
}

TEST(cgi_analysis, probe_stage_fits_give_reference_pvalues) {
    // The fits main hands over come from the probe stage's fast path.
    std::mt19937 rng(5);
    for (const Random_case& c : {random_cases[2], random_cases[5]}) {
        auto study = random_study(c, rng);
        Probe_result probes;
        capture_stdout(
            [&] { probe_analysis(study->matrix, 2, study->names, probes, Fit_path::fast); });
        study->probes.fit = probes.fit;
        probe_result_free(probes);
        expect_same_pvalues(run_regions(*study, 1, Fit_path::reference),
                            run_regions(*study, 1, Fit_path::fast));
    }
}

TEST(cgi_analysis, worker_count_does_not_change_results) {
    std::mt19937 rng(99);
    for (const Random_case& c : {random_cases[1], random_cases[4]}) {
        auto study = random_study(c, rng);
        for (Fit_path path : {Fit_path::reference, Fit_path::fast}) {
            std::vector<double> fdr_one, fdr_four;
            std::vector<double> one = run_regions(*study, 1, path, &fdr_one);
            EXPECT_EQ(one, run_regions(*study, 4, path, &fdr_four));
            EXPECT_EQ(fdr_one, fdr_four);
        }
    }
}

TEST(cgi_analysis, fast_path_without_probe_fits_falls_back_to_reference) {
    auto study = three_probes_six_samples();
    const double reference = run_regions(*study, 1, Fit_path::reference)[0];
    study->probes.fit.clear();
    EXPECT_EQ(run_regions(*study, 1, Fit_path::fast)[0], reference);
}

// ---- the mean test ----

TEST(mean_region_pvalues, tests_the_sample_means_of_centred_probe_values) {
    // Probe 0 misses sample 1 and probe 2 misses sample 4: their samples
    // average the centred values they have, so a probe's level does not
    // leak into them.
    auto study = three_probes_six_samples();
    gsl_matrix_set(study->matrix->logit, 0, 1, excluded_value);
    gsl_matrix_set(study->matrix->logit, 2, 4, excluded_value);
    const Data_matrix& m = *study->matrix;
    std::vector<double> sum(6, 0.0), count(6, 0.0);
    for (size_t p = 0; p < 3; ++p) {
        double total = 0.0, n = 0.0;
        for (size_t s = 0; s < 6; ++s)
            if (is_usable(gsl_matrix_get(m.logit, p, s))) total += gsl_matrix_get(m.logit, p, s), n += 1;
        for (size_t s = 0; s < 6; ++s)
            if (is_usable(gsl_matrix_get(m.logit, p, s)))
                sum[s] += gsl_matrix_get(m.logit, p, s) - total / n, count[s] += 1;
    }
    std::vector<double> a, b;
    for (size_t s = 0; s < 6; ++s) (s < 3 ? a : b).push_back(sum[s] / count[s]);
    double mean_a = 0, mean_b = 0;
    for (size_t k = 0; k < 3; ++k) mean_a += a[k] / 3, mean_b += b[k] / 3;
    const double f = 1.5 * (mean_a - mean_b) * (mean_a - mean_b) / ((centred_ss(a) + centred_ss(b)) / 4);
    const double expected = gsl_cdf_fdist_Q(f, 1, 4);
    for (Fit_path path : {Fit_path::reference, Fit_path::fast})
        EXPECT_NEAR(run_regions(*study, 1, path, nullptr, Region_test::mean)[0], expected, 1e-9 * expected);
}

TEST(mean_region_pvalues, fast_path_matches_dense_reference_on_random_regions) {
    const uint32_t seed = 20261209;
    std::mt19937 rng(seed);
    int tested = 0;
    for (const Random_case& c : random_cases) {
        for (int repeat = 0; repeat < 6; ++repeat) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", groups " + std::to_string(c.groups) +
                         ", covariables " + std::to_string(c.covariables) +
                         (c.continuous ? ", continuous" : "") + ", repeat " + std::to_string(repeat));
            auto study = random_study(c, rng, 60, 2, 30);
            const std::vector<double> reference =
                run_regions(*study, 1, Fit_path::reference, nullptr, Region_test::mean);
            expect_same_pvalues(reference, run_regions(*study, 3, Fit_path::fast, nullptr, Region_test::mean));
            for (double p : reference) tested += p <= 1.0;
        }
    }
    EXPECT_GT(tested, 1000);
}

// The values of study written to a spill file in blocks of block_rows rows,
// as the reader leaves a study too large for memory.
void spill_values(Study& study, uint32_t block_rows) {
    Data_matrix& m = *study.matrix;
    std::string error;
    m.probe_num = static_cast<uint32_t>(m.logit->size1);
    m.sample_num = static_cast<uint32_t>(m.logit->size2);
    m.spill = spill_create(m.probe_num, m.sample_num, block_rows, error);
    ASSERT_NE(m.spill, nullptr) << error;
    std::vector<double> column(m.probe_num);
    for (uint32_t c = 0; c < m.sample_num; ++c) {
        for (uint32_t r = 0; r < m.probe_num; ++r) column[r] = gsl_matrix_get(m.logit, r, c);
        ASSERT_TRUE(spill_write_column(*m.spill, c, column.data(), error)) << error;
    }
    gsl_matrix_free(m.logit);
    m.logit = nullptr;
}

TEST(mean_region_pvalues, spilled_values_give_the_same_bits) {
    // Small blocks: regions are filled a few at a time, from rows loaded a
    // few at a time, over several passes.
    std::mt19937 rng(11);
    for (uint32_t block_rows : {1u, 7u, 64u}) {
        for (const Random_case& c : {random_cases[3], random_cases[5]}) {
            auto study = random_study(c, rng, 60, 2, 30);
            const std::vector<double> in_memory =
                run_regions(*study, 2, Fit_path::fast, nullptr, Region_test::mean);
            spill_values(*study, block_rows);
            EXPECT_EQ(run_regions(*study, 2, Fit_path::fast, nullptr, Region_test::mean), in_memory)
                << block_rows;
        }
    }
}

// No difference between two groups of ten; 3,000 regions of 2 to 20
// probes whose values share each sample's level (correlation 0.6 between
// probes) and have probe-specific spreads. The mean test keeps its size;
// the pooled model, which takes the probe-sample values as independent,
// does not.
TEST(mean_region_pvalues, null_p_values_hold_their_size_where_the_pooled_model_fails) {
    const uint32_t regions = 3000, samples = 20;
    std::mt19937 rng(20261209);
    std::uniform_int_distribution<uint32_t> size(2, 20);
    std::vector<uint32_t> sizes(regions);
    uint32_t probes = 0;
    for (uint32_t& n : sizes) probes += n = size(rng);
    std::vector<uint32_t> groups(samples);
    for (uint32_t s = 0; s < samples; ++s) groups[s] = s % 2;
    auto study = make_study(probes, groups, 0);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> spread(0.3, 1.5);
    const double rho = 0.6;
    for (uint32_t r = 0, row = 0; r < regions; ++r) {
        std::vector<double> level(samples);
        for (double& l : level) l = normal(rng);
        std::vector<uint32_t> rows;
        for (uint32_t k = 0; k < sizes[r]; ++k, ++row) {
            const double sd = spread(rng), mean = 2.0 * normal(rng);
            for (uint32_t s = 0; s < samples; ++s)
                gsl_matrix_set(study->matrix->logit, row, s,
                               mean + sd * (std::sqrt(rho) * level[s] + std::sqrt(1 - rho) * normal(rng)));
            rows.push_back(row);
        }
        add_region(*study, rows);
    }
    Probe_result probe_result;
    capture_stdout([&] { probe_analysis(study->matrix, 2, study->names, probe_result); });
    study->probes.fit = probe_result.fit;
    probe_result_free(probe_result);
    const auto below = [](const std::vector<double>& p) {
        return static_cast<unsigned>(std::count_if(p.begin(), p.end(), [](double v) { return v < 0.01; }));
    };
    // Two-sided 99.9 % bounds of Binomial(3000, 0.01).
    unsigned low = 0, high = 0;
    while (gsl_cdf_binomial_P(low, 0.01, regions) < 0.0005) ++low;
    while (gsl_cdf_binomial_P(high, 0.01, regions) < 0.9995) ++high;
    const unsigned mean = below(run_regions(*study, 2, Fit_path::fast, nullptr, Region_test::mean));
    const unsigned pooled = below(run_regions(*study, 2, Fit_path::fast, nullptr, Region_test::pooled));
    EXPECT_GE(mean, low);
    EXPECT_LE(mean, high);
    EXPECT_GT(pooled, 2 * high);
}

// ---- no region, progress lines ----

TEST(cgi_analysis, no_region_leaves_result_null_and_runs_nothing) {
    auto study = three_probes_six_samples();
    study->region_list = CGI_description();
    CGI_result result;
    result.pvalue = gsl_vector_alloc(3);  // a stale result is released, not kept
    result.fdr = gsl_vector_alloc(3);
    std::string out = capture_stdout([&] {
        test_regions(study->matrix, 2, study->names, result, study->region_list, &study->probes,
                     Fit_path::fast, Region_test::pooled, "       Finding fdr");
    });
    EXPECT_EQ(result.pvalue, nullptr);
    EXPECT_EQ(result.fdr, nullptr);
    EXPECT_EQ(mask_time_stamps(out), "[TIME]       Finding fdr\n");
    fdr_range_cgi(result);  // accepts the null vectors
    cgi_result_free(result);
}

TEST(cgi_analysis, stage_prints_its_three_progress_lines) {
    auto study = three_probes_six_samples();
    CGI_result result;
    std::string out = capture_stdout([&] {
        cgi_analysis(study->matrix, 2, study->names, result, study->region_list, &study->probes);
    });
    EXPECT_EQ(mask_time_stamps(out),
              "[TIME]     Analyzing differentially methylated predefined region\n"
              "[TIME]     Calculating pvalues for predefined region\n"
              "[TIME]       Finding fdr in predefined region analysis\n");
    EXPECT_LT(gsl_vector_get(result.fdr, 0), 1.0);
    cgi_result_free(result);
}

// ---- FDR ----

CGI_result result_with_pvalues(const std::vector<double>& pvalues) {
    CGI_result result;
    result.pvalue = gsl_vector_alloc(pvalues.size());
    result.fdr = gsl_vector_alloc(pvalues.size());
    for (size_t i = 0; i < pvalues.size(); ++i) gsl_vector_set(result.pvalue, i, pvalues[i]);
    gsl_vector_set_all(result.fdr, 2.0);
    return result;
}

TEST(fdr_range_cgi, running_maximum_raises_later_ranks) {
    CGI_result result = result_with_pvalues({0.04, 2.0, 0.01, 0.03});
    fdr_range_cgi(result);
    EXPECT_NEAR(gsl_vector_get(result.fdr, 0), 0.045, 1e-15);
    EXPECT_EQ(gsl_vector_get(result.fdr, 1), 2.0);
    EXPECT_NEAR(gsl_vector_get(result.fdr, 2), 0.03, 1e-15);
    EXPECT_NEAR(gsl_vector_get(result.fdr, 3), 0.045, 1e-15);
    cgi_result_free(result);
}

TEST(fdr_range_cgi, p_value_of_one_counts_and_fdr_is_capped) {
    // m = 2 counts the 1.0: 0.6 gets 2 x 0.6 = 1.2, capped to 1.
    CGI_result result = result_with_pvalues({1.0, 0.6, 2.0});
    fdr_range_cgi(result);
    EXPECT_EQ(gsl_vector_get(result.fdr, 0), 1.0);
    EXPECT_EQ(gsl_vector_get(result.fdr, 1), 1.0);
    EXPECT_EQ(gsl_vector_get(result.fdr, 2), 2.0);
    cgi_result_free(result);
}

TEST(fdr_range_cgi, tied_p_values_share_one_fdr_across_many_regions) {
    // Twelve regions so that index names "10", "11" sort before "2" among ties.
    std::vector<double> p(12, 0.02);
    p[0] = 0.001;
    CGI_result result = result_with_pvalues(p);
    fdr_range_cgi(result);
    EXPECT_NEAR(gsl_vector_get(result.fdr, 0), 0.012, 1e-15);
    for (size_t i = 1; i < 12; ++i)
        EXPECT_NEAR(gsl_vector_get(result.fdr, i), 12 * 0.02 / 2, 1e-15) << i;
    cgi_result_free(result);
}

}  // namespace
