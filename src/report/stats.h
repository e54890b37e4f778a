// Statistics of the report: genomic inflation λ, the QQ plot's 95% band,
// chromosome order, counts and top rows of the result tables.
//
// p-values are those of the tables: a row whose p-value is above 1 is
// untested and left out of every statistic; 0 is a legitimate p-value (its
// −log10 is infinite, and callers draw it at the top of the axis).
#ifndef CIMBREL_REPORT_STATS_H
#define CIMBREL_REPORT_STATS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tables.h"

// Median of the chi-square distribution with 1 degree of freedom,
// 0.454936423119572….
double chisq1_median();

// Upper-tail quantile of χ²₁ at p: the square of the standard normal's
// upper quantile at p/2, accurate down to the smallest double p, where
// GSL's gsl_cdf_chisq_Qinv drifts below p = 1e-50. Infinite for p = 0.
double chisq1_upper_quantile(double p);

// λ = median over p of chisq1_upper_quantile(p), divided by
// chisq1_median(). The quantile falls as p
// rises, so the median quantile is the quantile of the median p (for an even
// count, the mean of the quantiles of the two middle p-values): two quantiles
// instead of one per p-value, the same value. p = 0 gives an infinite
// quantile; λ is infinite only when p = 0 reaches the middle. NaN for no
// p-values. Every p must lie in [0, 1].
double genomic_inflation(std::vector<double> pvalues);

// True when chromosome a comes before b in the natural order: chr1 … chr22
// (any number, by value), chrX, chrY, chrM (also MT), then other names in
// byte order. A "chr" prefix (any case) is optional.
bool chromosome_before(std::string_view a, std::string_view b);

// Positions of names in the natural chromosome order.
std::vector<uint32_t> chromosome_order(const std::vector<std::string>& names);

// One point of the QQ plot's 95% band: at the expected −log10 p of rank i of
// n uniform p-values, the −log10 of the 2.5% and 97.5% quantiles of that
// order statistic, whose law is Beta(i, n − i + 1).
struct Band_point {
    double expected = 0.0;
    double low = 0.0;    // −log10 of the 97.5% quantile (the lower edge on the plot)
    double high = 0.0;   // −log10 of the 2.5% quantile
};

// The band at up to `points` ranks spread evenly on the −log10 scale from
// rank 1 to rank n; empty for n = 0.
std::vector<Band_point> qq_band(size_t n, size_t points);

// Expected −log10 p of rank i (1-based) of n uniform p-values: −log10((i − ½)/n).
double expected_minus_log10(size_t i, size_t n);

// What the report says about the probe table as a whole.
struct Probe_summary {
    size_t rows = 0;
    size_t tested = 0;             // rows with p <= 1
    size_t significant = 0;        // tested rows with FDR <= q
    size_t zero_p = 0;             // tested rows with p = 0
    size_t no_range = 0;           // tested rows whose Range is "-"
    double q = 0.05;
    double lambda = 0.0;
    double p_cut = 0.0;            // largest p of a significant row; NaN when none
    bool thresholded = false;      // the table shows that it lists only part of the tested probes
    std::vector<double> sorted_p;  // tested p-values, ascending
};

// Summary of table at FDR level q. Call only for a table with tested rows.
Probe_summary summarize(const Probe_table& table, double q);

// Largest listed p-value below which a table is taken as cut by cimbrel's
// p-value or FDR threshold (an FDR is never below its p-value, so an FDR
// threshold cuts the p-values too).
constexpr double thresholded_below = 0.5;

// True when the table shows that it lists only part of the tested probes:
// its largest p-value is below thresholded_below, where the p-values of a
// whole study reach close to 1. The number of rows is no guide: cimbrel's
// FDR counts every tested probe, also those a full table leaves out (probes
// without annotation, for one), so FDR/p at the smallest
// p-value (min(1, m·p) for m tested probes) may exceed the row count of a
// full table. It only settles the other way: FDR/p up to the row count
// means every tested probe is listed.
bool looks_thresholded(const std::vector<double>& sorted_p, double fdr_of_smallest);

// Rows with FDR <= q among the tested rows of a region table.
size_t count_significant(const std::vector<Region_row>& rows, double q);

// Indices of the n tested rows with the smallest p-values, smallest first;
// ties keep file order.
template <class Row>
std::vector<size_t> top_rows(const std::vector<Row>& rows, size_t n) {
    std::vector<size_t> order;
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].p <= 1.0) order.push_back(i);
    auto before = [&rows](size_t a, size_t b) { return rows[a].p < rows[b].p || (rows[a].p == rows[b].p && a < b); };
    n = std::min(n, order.size());
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(n), order.end(), before);
    order.resize(n);
    return order;
}

#endif
