// Statistics of the report: λ against an independent route and hand-checked
// quantiles, chromosome order, the QQ band, detection of thresholded tables
// and the summary of a small table with an untested row.
#include "stats.h"

#include <cmath>
#include <limits>
#include <random>

#include <gsl/gsl_cdf.h>
#include <gtest/gtest.h>

#include "report_run.h"

namespace {

// λ by a different route: the upper-tail χ²₁ quantile of p is the square of
// the standard normal quantile of p/2, computed for every value and sorted
// in full, the median taken as the middle value or the mean of the middle two.
double lambda_by_normal_quantiles(const std::vector<double>& pvalues) {
    std::vector<double> quantiles;
    for (double p : pvalues) {
        const double z = gsl_cdf_ugaussian_Qinv(p / 2);
        quantiles.push_back(p == 0.0 ? std::numeric_limits<double>::infinity() : z * z);
    }
    std::sort(quantiles.begin(), quantiles.end());
    const size_t n = quantiles.size();
    const double median = n % 2 ? quantiles[n / 2] : 0.5 * (quantiles[n / 2 - 1] + quantiles[n / 2]);
    return median / 0.45493642311957283;
}

}  // namespace

// Values of R's qchisq(p, 1, lower.tail = FALSE) for p = 0.5, 0.05, 0.01,
// 0.001 and of qchisq(0.5, 1) (the χ²₁ median).
TEST(report_inflation, hand_checked_quantiles) {
    const double z = gsl_cdf_ugaussian_Pinv(0.75);
    EXPECT_NEAR(chisq1_median(), z * z, 1e-15);
    EXPECT_NEAR(genomic_inflation({0.5}), 1.0, 1e-12);
    EXPECT_NEAR(genomic_inflation({0.05}) * chisq1_median(), 3.841458820694124, 1e-9);
    EXPECT_NEAR(genomic_inflation({0.01}) * chisq1_median(), 6.634896601021214, 1e-9);
    EXPECT_NEAR(genomic_inflation({0.001}) * chisq1_median(), 10.827566170662733, 1e-8);
    // Odd count: the middle p-value; even count: the mean of the middle two quantiles.
    EXPECT_NEAR(genomic_inflation({0.9, 0.05, 1e-6}), 3.841458820694124 / 0.45493642311957283, 1e-8);
    EXPECT_NEAR(genomic_inflation({0.01, 0.9, 0.05, 1e-6}),
                (3.841458820694124 + 6.634896601021214) / 2 / 0.45493642311957283, 1e-8);
}

TEST(report_inflation, matches_normal_quantile_route_on_random_pvalues) {
    std::mt19937 rng(test_seed());
    for (size_t n : {1u, 2u, 7u, 1000u, 20001u}) {
        std::vector<double> p(n);
        // Inflated p-values: uniform raised to a power, some very small.
        std::uniform_real_distribution<double> uniform(0.0, 1.0);
        for (double& v : p) v = std::pow(uniform(rng), 1.7);
        const double expected = lambda_by_normal_quantiles(p);
        EXPECT_NEAR(genomic_inflation(p), expected, 1e-9 * expected) << n << " p-values";
    }
}

TEST(report_inflation, zero_pvalues_are_counted_and_never_crash) {
    // One zero of three: it is the smallest value, the median stays finite.
    EXPECT_NEAR(genomic_inflation({0.0, 0.05, 0.9}), 3.841458820694124 / 0.45493642311957283, 1e-8);
    EXPECT_TRUE(std::isinf(genomic_inflation({0.0, 0.0, 0.0})));
    EXPECT_TRUE(std::isinf(genomic_inflation({0.0, 0.0, 0.3, 0.0})));
    EXPECT_TRUE(std::isnan(genomic_inflation({})));
    EXPECT_NEAR(genomic_inflation({1.0, 1.0}), 0.0, 1e-12);
}

TEST(report_chromosome_order, natural_order_then_other_names) {
    const std::vector<std::string> names = {"chrUn_gl000220", "chr10", "chrM", "chr2", "chrY", "chr1_random",
                                            "chrX", "chr22", "chr1", "chr9", "scaffold_3", "chr11"};
    std::vector<std::string> sorted;
    for (uint32_t i : chromosome_order(names)) sorted.push_back(names[i]);
    const std::vector<std::string> expected = {"chr1", "chr2", "chr9", "chr10", "chr11", "chr22", "chrX",
                                               "chrY", "chrM", "chr1_random", "chrUn_gl000220", "scaffold_3"};
    EXPECT_EQ(sorted, expected);
}

TEST(report_chromosome_order, prefix_optional_and_mt_is_m) {
    EXPECT_TRUE(chromosome_before("2", "chr10"));
    EXPECT_TRUE(chromosome_before("Chr9", "10"));
    EXPECT_TRUE(chromosome_before("chrY", "MT"));
    EXPECT_TRUE(chromosome_before("MT", "chrUn"));
    EXPECT_FALSE(chromosome_before("chr1", "chr1"));
    // Numbers past 22 still sort by value, before X.
    EXPECT_TRUE(chromosome_before("chr23", "chrX"));
    EXPECT_TRUE(chromosome_before("chr3", "chr23"));
}

TEST(report_qq_band, holds_the_expected_values_and_narrows_towards_the_bulk) {
    for (size_t n : {1u, 10u, 485577u}) {
        const std::vector<Band_point> band = qq_band(n, 160);
        ASSERT_FALSE(band.empty());
        EXPECT_NEAR(band.front().expected, -std::log10(0.5 / n), 1e-12);
        for (const Band_point& b : band) {
            EXPECT_LT(b.low, b.high);
            EXPECT_LE(b.low, b.expected);
            EXPECT_GE(b.high, b.expected);
        }
    }
    // Rank 1 of n: Beta(1, n), 2.5% quantile 1 - 0.975^(1/n).
    const std::vector<Band_point> band = qq_band(1000, 50);
    EXPECT_NEAR(band.front().high, -std::log10(1 - std::pow(0.975, 1.0 / 1000)), 1e-6);
    EXPECT_NEAR(band.front().low, -std::log10(1 - std::pow(0.025, 1.0 / 1000)), 1e-6);
}

// The χ²₁ quantile of a tiny p-value, checked against the normal tail's
// asymptotic series: Q(z) = φ(z)/z · (1 − 1/z² + 3/z⁴ − 15/z⁶ + 105/z⁸ …),
// whose next term is below 1e-9 relative for z above 15 (p below 1e-50).
TEST(report_lambda, exact_for_tiny_pvalues) {
    for (double p : {1e-50, 1e-100, 1e-300, 4.46e-308, 4.44e-308, 1e-320, 5e-324}) {
        const double z = std::sqrt(genomic_inflation({p}) * chisq1_median()), z2 = z * z;
        const double series = 1 - 1 / z2 + 3 / (z2 * z2) - 15 / (z2 * z2 * z2) + 105 / (z2 * z2 * z2 * z2);
        const double log_tail = -0.5 * z2 - std::log(z * std::sqrt(2 * M_PI)) + std::log(series);
        EXPECT_NEAR(std::log(2.0) + log_tail, std::log(p), 1e-6) << p;
    }
}

TEST(report_thresholded, detected_from_fdr_of_smallest_pvalue) {
    // cimbrel's FDR of the smallest of m p-values is m·p.
    const std::vector<double> listed = {1e-9, 1e-7, 1e-5};
    EXPECT_TRUE(looks_thresholded(listed, 1e-9 * 450000));
    EXPECT_FALSE(looks_thresholded(listed, 1e-9 * 3));
    // Six significant digits of rounding on both numbers is not a cut.
    EXPECT_FALSE(looks_thresholded(listed, 3.00001e-9));
    // FDR capped at 1: the largest p-value tells.
    EXPECT_TRUE(looks_thresholded({0.01, 0.02, 0.3}, 1.0));
    EXPECT_FALSE(looks_thresholded({0.01, 0.02, 0.97}, 1.0));
    // The FDR counts more probes than the rows (a full table leaves out probes
    // without annotation): p-values up to near 1 show the table is full.
    std::vector<double> most(1000);
    for (size_t i = 0; i < most.size(); ++i) most[i] = (i + 0.5) / 1003;
    EXPECT_FALSE(looks_thresholded(most, most[0] * 1003));
}

TEST(report_summary, untested_rows_are_left_out) {
    Probe_table table;
    std::string error;
    ASSERT_TRUE(read_probe_table(report_data("probe.txt"), table, error)) << error;
    const Probe_summary s = summarize(table, 0.05);
    EXPECT_EQ(s.rows, 10u);
    EXPECT_EQ(s.tested, 9u);
    EXPECT_EQ(s.significant, 4u);
    EXPECT_EQ(s.no_range, 0u);
    EXPECT_DOUBLE_EQ(s.p_cut, 0.02);
    EXPECT_FALSE(s.thresholded);
    // Sorted tested p-values: the median is the fifth, 0.05.
    EXPECT_NEAR(s.lambda, 3.841458820694124 / 0.45493642311957283, 1e-8);
    ASSERT_EQ(s.sorted_p.size(), 9u);
    EXPECT_TRUE(std::is_sorted(s.sorted_p.begin(), s.sorted_p.end()));
    EXPECT_EQ(s.sorted_p.back(), 0.9);
    // Top rows: smallest p first, the untested row never.
    const std::vector<size_t> top = top_rows(table.rows, 20);
    ASSERT_EQ(top.size(), 9u);
    EXPECT_EQ(table.field(table.rows[top[0]], table.columns.id), "cg01");
    EXPECT_EQ(table.field(table.rows[top[8]], table.columns.id), "cg06");
}
