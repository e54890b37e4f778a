#include "stats.h"

#include <cfloat>
#include <cmath>
#include <limits>

#include <gsl/gsl_cdf.h>
#include <gsl/gsl_sf_erf.h>

namespace {

// Class of a chromosome name in the natural order, then its number.
struct Chromosome_key {
    int kind = 0;            // 0 numbered, 1 X, 2 Y, 3 M, 4 other
    unsigned long number = 0;
};

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
    return true;
}

Chromosome_key chromosome_key(std::string_view name) {
    if (name.size() > 3 && equal_ignoring_case(name.substr(0, 3), "chr")) name.remove_prefix(3);
    Chromosome_key key;
    if (!name.empty() && name.size() <= 9 && name.find_first_not_of("0123456789") == std::string_view::npos) {
        key.number = std::stoul(std::string(name));
        return key;
    }
    if (name == "X") key.kind = 1;
    else if (name == "Y") key.kind = 2;
    else if (name == "M" || name == "MT") key.kind = 3;
    else key.kind = 4;
    return key;
}

// Quantile `probability` of Beta(a, b) by bisection on log10 x with GSL's
// distribution function; GSL's own inverse fails to converge for the large
// parameters of a QQ band over hundreds of thousands of p-values.
double beta_quantile(double probability, double a, double b) {
    double low = -330.0, high = 0.0;
    for (int step = 0; step < 60; ++step) {
        double middle = 0.5 * (low + high);
        if (gsl_cdf_beta_P(std::pow(10.0, middle), a, b) < probability) low = middle;
        else high = middle;
    }
    return 0.5 * (low + high);  // log10 of the quantile
}

// Largest p-value among the tested rows whose FDR is at most q; NaN when none.
double largest_significant_p(const std::vector<Probe_row>& rows, double q) {
    double cut = std::nan("");
    for (const Probe_row& row : rows)
        if (row.p <= 1.0 && row.fdr <= q && !(row.p <= cut)) cut = row.p;
    return cut;
}

}  // namespace

// Φ⁻¹(3/4)², R's qchisq(0.5, 1), to the last digit of a double; GSL's
// gsl_cdf_chisq_Pinv(0.5, 1) is off by 2e-15 relative.
double chisq1_median() { return 0.45493642311957283; }

// The standard normal's upper quantile z at a tail probability whose log is
// log_tail, by Newton's method on log Q(z) (log Q falls with slope −φ/Q),
// for tails below the normal double range.
double normal_upper_quantile_of_log(double log_tail) {
    double z = std::sqrt(-2.0 * log_tail);
    for (int step = 0; step < 100; ++step) {
        const double log_q = gsl_sf_log_erfc(z / M_SQRT2) - M_LN2;
        const double log_density = -0.5 * z * z - 0.5 * std::log(2.0 * M_PI);
        const double change = (log_q - log_tail) * std::exp(log_q - log_density);
        z += change;
        if (std::fabs(change) <= 1e-15 * z) break;
    }
    return z;
}

double chisq1_upper_quantile(double p) {
    // p/2 below the normal double range loses digits, and the smallest p gives 0.
    const double z = 0.5 * p >= DBL_MIN || p <= 0.0 ? gsl_cdf_ugaussian_Qinv(0.5 * p)
                                                   : normal_upper_quantile_of_log(std::log(p) - M_LN2);
    return z * z;
}

double genomic_inflation(std::vector<double> pvalues) {
    const size_t n = pvalues.size();
    if (n == 0) return std::nan("");
    auto upper = pvalues.begin() + static_cast<std::ptrdiff_t>(n / 2);
    std::nth_element(pvalues.begin(), upper, pvalues.end());
    double median = chisq1_upper_quantile(*upper);
    if (n % 2 == 0) {
        double lower = *std::max_element(pvalues.begin(), upper);
        median = 0.5 * (median + chisq1_upper_quantile(lower));
    }
    return median / chisq1_median();
}

bool chromosome_before(std::string_view a, std::string_view b) {
    Chromosome_key ka = chromosome_key(a), kb = chromosome_key(b);
    if (ka.kind != kb.kind) return ka.kind < kb.kind;
    if (ka.number != kb.number) return ka.number < kb.number;
    return a < b;
}

std::vector<uint32_t> chromosome_order(const std::vector<std::string>& names) {
    std::vector<uint32_t> order(names.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&names](uint32_t a, uint32_t b) { return chromosome_before(names[a], names[b]); });
    return order;
}

double expected_minus_log10(size_t i, size_t n) {
    return -std::log10((static_cast<double>(i) - 0.5) / static_cast<double>(n));
}

std::vector<Band_point> qq_band(size_t n, size_t points) {
    std::vector<Band_point> band;
    if (n == 0 || points == 0) return band;
    const double top = std::log10(static_cast<double>(n));
    size_t last_rank = 0;
    for (size_t k = 0; k < points; ++k) {
        // Ranks evenly spaced on the log scale, from 1 to n.
        double t = points == 1 ? 0.0 : static_cast<double>(k) / static_cast<double>(points - 1);
        size_t rank = static_cast<size_t>(std::llround(std::pow(10.0, t * top)));
        rank = std::min(std::max<size_t>(rank, 1), n);
        if (rank == last_rank) continue;
        last_rank = rank;
        const double a = static_cast<double>(rank), b = static_cast<double>(n - rank + 1);
        band.push_back({expected_minus_log10(rank, n), -beta_quantile(0.975, a, b), -beta_quantile(0.025, a, b)});
    }
    return band;
}

bool looks_thresholded(const std::vector<double>& sorted_p, double fdr_of_smallest) {
    if (sorted_p.empty()) return false;
    const double smallest = sorted_p.front(), n = static_cast<double>(sorted_p.size());
    // Both numbers carry six significant digits: allow for their rounding.
    if (smallest > 0.0 && fdr_of_smallest < 1.0 && fdr_of_smallest / smallest <= n * (1.0 + 1e-4) + 1.0)
        return false;  // every probe the FDR counts is listed
    return sorted_p.back() < thresholded_below;
}

Probe_summary summarize(const Probe_table& table, double q) {
    Probe_summary summary;
    summary.rows = table.rows.size();
    summary.q = q;
    double fdr_of_smallest = std::numeric_limits<double>::infinity(), smallest = 2.0;
    for (const Probe_row& row : table.rows) {
        if (!table.tested(row)) continue;
        summary.sorted_p.push_back(row.p);
        summary.significant += row.fdr <= q;
        summary.zero_p += row.p == 0.0;
        summary.no_range += std::isnan(row.range);
        if (row.p < smallest || (row.p == smallest && row.fdr < fdr_of_smallest)) {
            smallest = row.p;
            fdr_of_smallest = row.fdr;
        }
    }
    summary.tested = summary.sorted_p.size();
    summary.lambda = genomic_inflation(summary.sorted_p);
    std::sort(summary.sorted_p.begin(), summary.sorted_p.end());
    summary.p_cut = largest_significant_p(table.rows, q);
    summary.thresholded = looks_thresholded(summary.sorted_p, fdr_of_smallest);
    return summary;
}

size_t count_significant(const std::vector<Region_row>& rows, double q) {
    size_t count = 0;
    for (const Region_row& row : rows) count += row.p <= 1.0 && row.fdr <= q;
    return count;
}
