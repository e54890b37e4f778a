#include "probe_analysis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "time_out.h"

namespace {

constexpr double untested = 2.0;
// A stored p-value takes part in the FDR step only below this.
constexpr double tested_limit = 1.000001;
// ancova's own warning, printed here too when no design can be built.
const char* const too_few_message = "Warning: too few observations in linear regression.\n";

// What every worker needs about the study, read once: the counts, the mode
// and each sample column's group number.
struct Probe_layout {
    uint32_t probes = 0;
    uint32_t samples = 0;
    uint32_t covariables = 0;
    uint32_t groups = 0;
    bool continuous = false;
    // Group number of each sample column; `groups` when the sample has no
    // known group, which keeps it out of the fit and the group means.
    std::vector<uint32_t> group_of;
    // Per sample column: covariables (and continuous value) are all numbers.
    std::vector<char> design_finite;

    uint32_t reduced_columns() const { return covariables + 1; }
    uint32_t full_columns() const { return continuous ? covariables + 2 : covariables + groups; }
};

bool has_matrix(const Data_matrix* matrix) {
    return matrix != nullptr && matrix->logit != nullptr && matrix->valid != nullptr;
}

// The matrices agree on the sample count, so every look-up below stays inside them.
bool consistent_shapes(const Data_matrix& matrix) {
    const size_t probes = matrix.logit->size1, samples = matrix.logit->size2;
    if (matrix.valid->size1 != probes || matrix.valid->size2 != samples) return false;
    if (matrix.covariable != nullptr && matrix.covariable->size1 != samples) return false;
    return matrix.continuous == nullptr ||
           (matrix.continuous->size1 == samples && matrix.continuous->size2 >= 1);
}

// Sample column -> sample name -> group name -> group number.
uint32_t group_of_sample(const Data_description& description, uint32_t sample, uint32_t groups) {
    const std::string name = description.sample_index.get(sample);
    if (name.empty()) return groups;
    const std::string group = description.sample_group.get_group(name);
    uint32_t number = groups;
    if (group.empty() || !description.group_index.find(group, number) || number >= groups) {
        return groups;
    }
    return number;
}

bool sample_design_finite(const Data_matrix& matrix, uint32_t sample) {
    if (matrix.covariable != nullptr) {
        for (size_t c = 0; c < matrix.covariable->size2; ++c) {
            if (!std::isfinite(gsl_matrix_get(matrix.covariable, sample, c))) return false;
        }
    }
    return matrix.continuous == nullptr || std::isfinite(gsl_matrix_get(matrix.continuous, sample, 0));
}

Probe_layout layout_of(const Data_matrix& matrix, const Data_description& description) {
    Probe_layout layout;
    layout.probes = static_cast<uint32_t>(matrix.logit->size1);
    layout.samples = static_cast<uint32_t>(matrix.logit->size2);
    layout.covariables = matrix.covariable != nullptr ? static_cast<uint32_t>(matrix.covariable->size2) : 0;
    layout.groups = description.group_index.size();
    layout.continuous = matrix.continuous != nullptr;
    layout.group_of.resize(layout.samples);
    layout.design_finite.resize(layout.samples);
    for (uint32_t s = 0; s < layout.samples; ++s) {
        layout.group_of[s] = group_of_sample(description, s, layout.groups);
        layout.design_finite[s] = sample_design_finite(matrix, s);
    }
    return layout;
}

// Observation (probe, s) enters the fit.
bool usable(const Data_matrix& matrix, const Probe_layout& layout, uint32_t probe, uint32_t s) {
    return gsl_matrix_char_get(matrix.valid, probe, s) > 0 && layout.group_of[s] < layout.groups;
}

// Reduced row: covariables, 1. Full row: covariables, then the group
// indicators (group mode) or 1 and the continuous value (continuous mode).
void design_row(const Data_matrix& matrix, const Probe_layout& layout, uint32_t s, double* reduced,
                double* full) {
    const uint32_t k = layout.covariables;
    for (uint32_t c = 0; c < k; ++c) {
        reduced[c] = full[c] = gsl_matrix_get(matrix.covariable, s, c);
    }
    reduced[k] = 1.0;
    if (layout.continuous) {
        full[k] = 1.0;
        full[k + 1] = gsl_matrix_get(matrix.continuous, s, 0);
        return;
    }
    std::fill(full + k, full + k + layout.groups, 0.0);
    full[k + layout.group_of[s]] = 1.0;
}

// e^m / (1 + e^m), kept finite where e^m overflows; a mean that is not a
// number (a group holding both +inf and -inf) reports the neutral 0.5.
double inverse_logit(double mean) {
    if (std::isnan(mean)) return 0.5;
    if (mean > 700.0) return 1.0;
    const double e = std::exp(mean);
    return e / (1.0 + e);
}

// Group means on the logit scale reported as betas, and their range. Values
// count when their flag is 0 or more; a group without any reports 0.5.
void group_means(const Data_matrix& matrix, const Probe_layout& layout, const Data_description& description,
                 uint32_t probe, std::vector<double>& sum, std::vector<double>& count, Probe_result& result) {
    std::fill(sum.begin(), sum.end(), 0.0);
    std::fill(count.begin(), count.end(), 0.0);
    const double* values = gsl_matrix_const_ptr(matrix.logit, probe, 0);
    const char* flags = gsl_matrix_char_const_ptr(matrix.valid, probe, 0);
    for (uint32_t s = 0; s < layout.samples; ++s) {
        const uint32_t g = layout.group_of[s];
        if (flags[s] < 0 || g >= layout.groups) continue;
        sum[g] += values[s];
        count[g] += 1.0;
    }
    double smallest = 1.0, largest = 0.0;
    for (uint32_t g = 0; g < layout.groups; ++g) {
        double mean = 0.0;
        if (count[g] < 1.0) {
            message("Warning: no valid beta value of probe %s in group %s\n",
                    description.probe_index.get(probe).c_str(), description.group_index.get(g).c_str());
        } else {
            mean = sum[g] / count[g];
        }
        const double beta = inverse_logit(mean);
        gsl_matrix_set(result.group_mean, probe, g, beta);
        smallest = std::min(smallest, beta);
        largest = std::max(largest, beta);
    }
    gsl_vector_set(result.range, probe, largest - smallest);
}

// Stores the probe's p-value and, for a probe without a test, its warning.
void store_pvalue(const Data_description& description, uint32_t probe, double p, Probe_result& result) {
    gsl_vector_set(result.pvalue, probe, p);
    if (p > 1.0) {
        message("Warning: too few observations for probe %s\n", description.probe_index.get(probe).c_str());
    }
}

// Dense designs of one probe fitted by ancova.
double reference_pvalue(const Data_matrix& matrix, const Probe_layout& layout, uint32_t probe) {
    uint32_t n = 0;
    for (uint32_t s = 0; s < layout.samples; ++s) n += usable(matrix, layout, probe, s);
    if (n == 0) {  // GSL cannot allocate zero rows
        message("%s", too_few_message);
        return untested;
    }
    gsl_vector* y = gsl_vector_alloc(n);
    gsl_matrix* reduced = gsl_matrix_calloc(n, layout.reduced_columns());
    gsl_matrix* full = gsl_matrix_calloc(n, layout.full_columns());
    uint32_t k = 0;
    for (uint32_t s = 0; s < layout.samples; ++s) {
        if (!usable(matrix, layout, probe, s)) continue;
        gsl_vector_set(y, k, gsl_matrix_get(matrix.logit, probe, s));
        design_row(matrix, layout, s, gsl_matrix_ptr(reduced, k, 0), gsl_matrix_ptr(full, k, 0));
        ++k;
    }
    const double p = ancova(y, reduced, full);
    gsl_matrix_free(full);
    gsl_matrix_free(reduced);
    gsl_vector_free(y);
    return p;
}

// The fast path's view of the designs, built once before the fan-out: every
// sample's reduced and full design row, and the factorisations shared by
// every probe whose samples are all usable (the common case).
struct Fast_design {
    std::vector<double> reduced_rows;  // samples x reduced columns, row-major
    std::vector<double> full_rows;     // samples x full columns, row-major
    bool shared = false;               // every sample usable for the fit
    Projector reduced;
    Projector full;
};

Fast_design fast_design(const Data_matrix& matrix, const Probe_layout& layout) {
    Fast_design design;
    const size_t pr = layout.reduced_columns(), pf = layout.full_columns();
    design.reduced_rows.assign(layout.samples * pr, 0.0);
    design.full_rows.assign(layout.samples * pf, 0.0);
    bool all_usable = layout.samples > 0;
    for (uint32_t s = 0; s < layout.samples; ++s) {
        if (layout.group_of[s] >= layout.groups) {
            all_usable = false;
            continue;
        }
        all_usable = all_usable && layout.design_finite[s];
        design_row(matrix, layout, s, &design.reduced_rows[s * pr], &design.full_rows[s * pf]);
    }
    if (all_usable) {
        design.reduced = Projector(design.reduced_rows.data(), layout.samples, pr);
        design.full = Projector(design.full_rows.data(), layout.samples, pf);
        design.shared = true;
    }
    return design;
}

// One fast worker's buffers, sized once for all samples.
struct Fast_scratch {
    std::vector<double> y, reduced, full, projection, sum, count;
    std::vector<uint32_t> rows;  // sample column of each usable value
    Lsq_workspace workspace;

    explicit Fast_scratch(const Probe_layout& layout)
        : y(layout.samples),
          reduced(static_cast<size_t>(layout.samples) * layout.reduced_columns()),
          full(static_cast<size_t>(layout.samples) * layout.full_columns()),
          projection(layout.full_columns() + 1),
          sum(layout.groups),
          count(layout.groups),
          rows(layout.samples) {}
};

// Least-squares sums of one design on the probe's usable rows.
double own_rss(const std::vector<double>& design_rows, size_t columns, const Fit_summary& fit,
               std::vector<double>& x, Fast_scratch& scratch) {
    for (uint32_t k = 0; k < fit.n; ++k) {
        const double* row = &design_rows[static_cast<size_t>(scratch.rows[k]) * columns];
        std::copy(row, row + columns, &x[static_cast<size_t>(k) * columns]);
    }
    return least_squares_rss(x.data(), fit.n, columns, scratch.y.data(), scratch.workspace);
}

// Both residual sums of squares of one probe on its usable values: from the
// shared projections when every sample is usable, otherwise from its own
// small least-squares fits. A value or design entry that is not a number
// makes the whole summary NaN, so that any region holding it is not tested.
Fit_summary fast_fit(const Data_matrix& matrix, const Probe_layout& layout, const Fast_design& design,
                     uint32_t probe, Fast_scratch& scratch) {
    const double* values = gsl_matrix_const_ptr(matrix.logit, probe, 0);
    const char* flags = gsl_matrix_char_const_ptr(matrix.valid, probe, 0);
    Fit_summary fit;
    bool finite = true;
    for (uint32_t s = 0; s < layout.samples; ++s) {
        if (flags[s] <= 0 || layout.group_of[s] >= layout.groups) continue;
        finite = finite && std::isfinite(values[s]) && layout.design_finite[s];
        scratch.rows[fit.n] = s;
        scratch.y[fit.n++] = values[s];
        fit.yy += values[s] * values[s];
    }
    if (!finite) {
        fit.rss_reduced = fit.rss_full = fit.yy = std::numeric_limits<double>::quiet_NaN();
    } else if (fit.n == layout.samples && design.shared) {
        fit.rss_reduced = design.reduced.rss(scratch.y.data(), scratch.projection.data());
        fit.rss_full = design.full.rss(scratch.y.data(), scratch.projection.data());
    } else if (fit.n > 0) {
        fit.rss_reduced = own_rss(design.reduced_rows, layout.reduced_columns(), fit, scratch.reduced, scratch);
        fit.rss_full = own_rss(design.full_rows, layout.full_columns(), fit, scratch.full, scratch);
    }
    return fit;
}

// The F test from a probe's fit, with ancova's message and no-test rules.
double fast_pvalue(const Probe_layout& layout, const Fit_summary& fit) {
    const uint32_t pr = layout.reduced_columns(), pf = layout.full_columns();
    if (fit.n <= pf) {
        message("%s", too_few_message);
        return untested;
    }
    return f_test_pvalue(fit.rss_reduced, fit.rss_full, fit.yy, pf > pr ? pf - pr : 0, fit.n - pf);
}

// Fast worker: probes first, first+step, … Writes only those probes'
// pvalue, range, group_mean rows and fit entries.
void probe_analysis_fast_thread(const Data_matrix* matrix, uint32_t first, uint32_t step,
                                const Data_description* description, const Probe_layout* layout,
                                const Fast_design* design, Probe_result* result) {
    if (step == 0) return;
    Fast_scratch scratch(*layout);
    for (uint32_t i = first; i < layout->probes; i += step) {
        const Fit_summary fit = fast_fit(*matrix, *layout, *design, i, scratch);
        result->fit[i] = fit;
        store_pvalue(*description, i, fast_pvalue(*layout, fit), *result);
        group_means(*matrix, *layout, *description, i, scratch.sum, scratch.count, *result);
    }
}

void allocate_result(uint32_t probes, uint32_t groups, Probe_result& result) {
    probe_result_free(result);
    result.pvalue = gsl_vector_alloc(probes);
    result.fdr = gsl_vector_alloc(probes);
    result.range = gsl_vector_alloc(probes);
    result.group_mean = gsl_matrix_alloc(probes, groups);
    gsl_vector_set_all(result.pvalue, untested);
    gsl_vector_set_all(result.fdr, 1.0);
    gsl_vector_set_all(result.range, -1.0);
    gsl_matrix_set_all(result.group_mean, untested);
}

}  // namespace

void probe_result_free(Probe_result& result) {
    if (result.pvalue != nullptr) gsl_vector_free(result.pvalue);
    if (result.fdr != nullptr) gsl_vector_free(result.fdr);
    if (result.range != nullptr) gsl_vector_free(result.range);
    if (result.group_mean != nullptr) gsl_matrix_free(result.group_mean);
    result.pvalue = result.fdr = result.range = nullptr;
    result.group_mean = nullptr;
    result.fit.clear();
}

bool probe_analysis(Data_matrix* matrix, uint32_t thread_num, const Data_description& description,
                    Probe_result& result, Fit_path path) {
    progress("     Probe analysis");
    const uint32_t groups = description.group_index.size();
    if (!has_matrix(matrix) || matrix->logit->size1 == 0 || groups == 0) {
        message("Error: no probe or no sample group to analyse\n");
        probe_result_free(result);
        return false;
    }
    const uint32_t probes = static_cast<uint32_t>(matrix->logit->size1);
    allocate_result(probes, groups, result);
    progress("       Calculate pvalue");
    const uint32_t workers = std::max<uint32_t>(thread_num, 1);
    if (!consistent_shapes(*matrix)) {
        message("Error: the beta, flag, covariable and continuous matrices disagree on the sample count\n");
    } else if (path == Fit_path::fast) {
        const Probe_layout layout = layout_of(*matrix, description);
        const Fast_design design = fast_design(*matrix, layout);
        result.fit.assign(probes, Fit_summary());
        fan_out(workers, [&](uint32_t t, uint32_t n) {
            probe_analysis_fast_thread(matrix, t, n, &description, &layout, &design, &result);
        });
    } else {
        fan_out(workers, [&](uint32_t t, uint32_t n) {
            probe_analysis_thread(matrix, t, n, &description, &result);
        });
    }
    progress("       Calculate fdr and range");
    fdr_range(matrix, result, description);
    return true;
}

void probe_analysis_thread(Data_matrix* matrix, uint32_t first, uint32_t step,
                           const Data_description* description, Probe_result* result) {
    if (!has_matrix(matrix) || !consistent_shapes(*matrix) || step == 0) return;
    const Probe_layout layout = layout_of(*matrix, *description);
    std::vector<double> sum(layout.groups), count(layout.groups);
    for (uint32_t i = first; i < layout.probes; i += step) {
        store_pvalue(*description, i, reference_pvalue(*matrix, layout, i), *result);
        group_means(*matrix, layout, *description, i, sum, count, *result);
    }
}

void fdr_range(Data_matrix* /*matrix*/, Probe_result& result, const Data_description& description) {
    if (result.pvalue == nullptr || result.fdr == nullptr) return;
    gsl_vector_set_all(result.fdr, 1.0);
    std::vector<Ranked_pvalue> entries;
    const uint32_t probes = static_cast<uint32_t>(std::min(result.pvalue->size, result.fdr->size));
    for (uint32_t i = 0; i < probes; ++i) {
        const double p = gsl_vector_get(result.pvalue, i);
        if (!(p < tested_limit)) continue;
        Ranked_pvalue entry;
        entry.order.set(description.probe_index.get(i), p);
        entry.row = i;
        entries.push_back(entry);
    }
    const std::vector<double> fdr = running_max_fdr(entries);
    // Written back by row: a repeated identifier must not send two probes'
    // rates to one row.
    for (size_t k = 0; k < entries.size(); ++k) gsl_vector_set(result.fdr, entries[k].row, fdr[k]);
}

std::vector<double> running_max_fdr(std::vector<Ranked_pvalue>& entries) {
    // Equal (value, name) pairs, possible with repeated identifiers, keep row order.
    std::sort(entries.begin(), entries.end(), [](const Ranked_pvalue& a, const Ranked_pvalue& b) {
        if (a.order < b.order) return true;
        if (b.order < a.order) return false;
        return a.row < b.row;
    });
    const double m = static_cast<double>(entries.size());
    std::vector<double> fdr(entries.size());
    double running = 0.0;
    for (size_t r = 0; r < entries.size(); ++r) {
        running = std::max(running, m * entries[r].order.value / static_cast<double>(r + 1));
        fdr[r] = std::min(running, 1.0);
    }
    return fdr;
}
