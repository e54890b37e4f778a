// Region tests. Every region of two or more probes is one linear model in
// which each probe owns a block of columns (covariable slopes plus its
// constant, or its group levels, or its constant and continuous slope). The
// reference worker builds those dense block designs and fits them with
// ancova; the fast worker uses that the designs are block-diagonal, so a
// region's residual sums of squares are the sums of its probes' own ones.
#include "cgi_analysis.h"

#include <algorithm>
#include <string>
#include <vector>

#include "time_out.h"

namespace {

constexpr double untested = 2.0;
// A stored p-value below this takes part in the FDR step.
constexpr double tested_limit = 1.000001;

// Column layout shared by every region of a study.
struct Region_layout {
    uint32_t samples = 0;
    uint32_t covariables = 0;
    uint32_t groups = 0;
    bool continuous = false;
    std::vector<uint32_t> sample_group;  // group number of every sample column

    uint32_t reduced_block() const { return covariables + 1; }
    uint32_t full_block() const { return continuous ? covariables + 2 : groups + covariables; }
};

// Sample name from sample_index, group name from sample_group, number from
// group_index: the three look-ups that place a sample column in its group.
// A sample without a known group gets `groups` and stays out of every fit,
// as in the probe stage, whose per-probe fits the fast path sums.
uint32_t group_of_sample(const Data_description& study, uint32_t sample, uint32_t groups) {
    const std::string name = study.sample_index.get(sample);
    const std::string group = name.empty() ? std::string() : study.sample_group.get_group(name);
    uint32_t number = groups;
    if (group.empty() || !study.group_index.find(group, number) || number >= groups) return groups;
    return number;
}

// The fast path needs no sample groups (with_groups false).
Region_layout layout_of(const Data_matrix& matrix, const Data_description& study,
                        bool with_groups) {
    Region_layout layout;
    layout.samples = sample_count(matrix);
    layout.covariables = matrix.covariable ? static_cast<uint32_t>(matrix.covariable->size2) : 0;
    layout.groups = study.group_index.size();
    layout.continuous = matrix.continuous != nullptr;
    if (!with_groups) return layout;
    layout.sample_group.resize(layout.samples);
    for (uint32_t s = 0; s < layout.samples; ++s) {
        layout.sample_group[s] = group_of_sample(study, s, layout.groups);
    }
    return layout;
}

bool usable(const Data_matrix& matrix, const Region_layout& layout, uint32_t row, uint32_t sample) {
    return row < matrix.logit->size1 && is_usable(gsl_matrix_get(matrix.logit, row, sample)) &&
           layout.sample_group[sample] < layout.groups;
}

// One usable probe-sample value of a region: probe slot, sample column, response.
struct Observation {
    uint32_t slot;
    uint32_t sample;
    double y;
};

// Probe-major, sample-minor, leaving out the values marked unusable.
std::vector<Observation> region_observations(const Data_matrix& matrix, const Region_layout& layout,
                                             const std::vector<uint32_t>& rows) {
    std::vector<Observation> observations;
    for (uint32_t slot = 0; slot < rows.size(); ++slot) {
        for (uint32_t s = 0; s < layout.samples; ++s) {
            if (!usable(matrix, layout, rows[slot], s)) continue;
            observations.push_back({slot, s, gsl_matrix_get(matrix.logit, rows[slot], s)});
        }
    }
    return observations;
}

// Row k of both dense designs: each observation fills only its own probe's block.
void fill_design_row(const Data_matrix& matrix, const Region_layout& layout, size_t k,
                     const Observation& o, gsl_matrix* reduced, gsl_matrix* full) {
    const size_t reduced_base = static_cast<size_t>(layout.reduced_block()) * o.slot;
    const size_t full_base = static_cast<size_t>(layout.full_block()) * o.slot;
    const uint32_t K = layout.covariables;
    for (uint32_t c = 0; c < K; ++c) {
        double value = gsl_matrix_get(matrix.covariable, o.sample, c);
        gsl_matrix_set(reduced, k, reduced_base + c, value);
        gsl_matrix_set(full, k, full_base + c, value);
    }
    gsl_matrix_set(reduced, k, reduced_base + K, 1.0);
    if (layout.continuous) {
        gsl_matrix_set(full, k, full_base + K, 1.0);
        gsl_matrix_set(full, k, full_base + K + 1, gsl_matrix_get(matrix.continuous, o.sample, 0));
        return;
    }
    gsl_matrix_set(full, k, full_base + K + layout.sample_group[o.sample], 1.0);
}

// Dense fit of one region. A region without enough observations for its full
// design gets ancova's warning and no test, without building designs that
// ancova would refuse anyway (and GSL cannot allocate zero rows).
double reference_region_pvalue(const Data_matrix& matrix, const Region_layout& layout,
                               const std::vector<uint32_t>& rows) {
    std::vector<Observation> observations = region_observations(matrix, layout, rows);
    const size_t reduced_columns = static_cast<size_t>(layout.reduced_block()) * rows.size();
    const size_t full_columns = static_cast<size_t>(layout.full_block()) * rows.size();
    if (observations.size() <= full_columns || reduced_columns == 0) {
        message("Warning: too few observations in linear regression.\n");
        return untested;
    }
    gsl_vector* y = gsl_vector_alloc(observations.size());
    gsl_matrix* reduced = gsl_matrix_calloc(observations.size(), reduced_columns);
    gsl_matrix* full = gsl_matrix_calloc(observations.size(), full_columns);
    for (size_t k = 0; k < observations.size(); ++k) {
        gsl_vector_set(y, k, observations[k].y);
        fill_design_row(matrix, layout, k, observations[k], reduced, full);
    }
    double p = ancova(y, reduced, full);
    gsl_matrix_free(full);
    gsl_matrix_free(reduced);
    gsl_vector_free(y);
    return p;
}

// The same test from the probes' own fits: block-diagonal designs have the
// sum of the blocks' residual sums of squares, while the degrees of freedom
// still count every column of every block.
double fast_region_pvalue(const Region_layout& layout, const std::vector<uint32_t>& rows,
                          const std::vector<Fit_summary>& fits) {
    double rss_reduced = 0.0, rss_full = 0.0, yy = 0.0;
    uint64_t observations = 0;
    for (uint32_t row : rows) {
        if (row >= fits.size()) continue;
        rss_reduced += fits[row].rss_reduced;
        rss_full += fits[row].rss_full;
        yy += fits[row].yy;
        observations += fits[row].n;
    }
    const uint64_t full_columns = static_cast<uint64_t>(layout.full_block()) * rows.size();
    if (observations <= full_columns || layout.reduced_block() == 0) {
        message("Warning: too few observations in linear regression.\n");
        return untested;
    }
    const uint32_t extra = layout.full_block() > layout.reduced_block()
                               ? layout.full_block() - layout.reduced_block()
                               : 0;
    const uint64_t d1 = static_cast<uint64_t>(extra) * rows.size();
    const uint64_t d2 = observations - full_columns;
    if (d1 > UINT32_MAX || d2 > UINT32_MAX) return untested;
    return f_test_pvalue(rss_reduced, rss_full, yy, static_cast<uint32_t>(d1),
                         static_cast<uint32_t>(d2));
}

// Calls test(rows) for regions t, t+step, … that have two probes or more and
// stores what it returns.
template <class Test>
void test_own_regions(uint32_t t, uint32_t step, const CGI_description& description, CGI_result& result,
                      Test test) {
    if (result.pvalue == nullptr || step == 0) return;
    const size_t count = std::min(description.regions.size(), result.pvalue->size);
    std::vector<uint32_t> rows;
    for (size_t i = t; i < count; i += step) {
        const uint32_t region = static_cast<uint32_t>(i);
        const uint32_t* first = description.region_probes.begin(region);
        rows.assign(first, first + description.region_probes.count(region));
        if (rows.size() < 2) continue;
        gsl_vector_set(result.pvalue, i, test(rows));
    }
}

// A study whose covariable and continuous matrices agree with its sample
// count, so that every look-up stays inside them; with values, the beta
// matrix itself is in memory too.
bool has_matrix(const Data_matrix* matrix, bool with_values) {
    if (matrix == nullptr || (with_values && matrix->logit == nullptr)) return false;
    const size_t samples = sample_count(*matrix);
    if (matrix->covariable != nullptr && matrix->covariable->size1 != samples) return false;
    return matrix->continuous == nullptr ||
           (matrix->continuous->size1 == samples && matrix->continuous->size2 >= 1);
}

}  // namespace

void cgi_result_free(CGI_result& result) {
    if (result.pvalue != nullptr) gsl_vector_free(result.pvalue);
    if (result.fdr != nullptr) gsl_vector_free(result.fdr);
    result.pvalue = nullptr;
    result.fdr = nullptr;
}

void test_regions(Data_matrix* matrix, uint32_t thread_num, const Data_description& study,
                  CGI_result& result, const CGI_description& description,
                  const Probe_result* probe_result, Fit_path path, const char* fdr_title) {
    cgi_result_free(result);
    const size_t count = description.regions.size();
    // No region leaves both vectors null: GSL cannot allocate length zero.
    if (count > 0) {
        result.pvalue = gsl_vector_alloc(count);
        result.fdr = gsl_vector_alloc(count);
        gsl_vector_set_all(result.pvalue, untested);
        gsl_vector_set_all(result.fdr, untested);
    }
    const bool fast = path == Fit_path::fast && probe_result != nullptr && matrix != nullptr &&
                      probe_result->fit.size() == probe_count(*matrix);
    if (count > 0 && has_matrix(matrix, !fast)) {
        fan_out(std::max<uint32_t>(thread_num, 1), [&](uint32_t t, uint32_t n) {
            if (fast) {
                cgi_analysis_fast_thread(matrix, t, n, &study, &description, probe_result, &result);
            } else {
                cgi_analysis_thread(matrix, t, n, &study, &description, &result);
            }
        });
    }
    if (fdr_title != nullptr) progress(fdr_title);
    fdr_range_cgi(result);
}

void cgi_analysis(Data_matrix* matrix, uint32_t thread_num, const Data_description& study,
                  CGI_result& result, const CGI_description& description,
                  const Probe_result* probe_result, Fit_path path) {
    progress("     Analyzing differentially methylated predefined region");
    progress("     Calculating pvalues for predefined region");
    test_regions(matrix, thread_num, study, result, description, probe_result, path,
                 "       Finding fdr in predefined region analysis");
}

void cgi_analysis_thread(Data_matrix* matrix, uint32_t t, uint32_t step,
                         const Data_description* study, const CGI_description* description,
                         CGI_result* result) {
    if (!has_matrix(matrix, true)) return;
    const Region_layout layout = layout_of(*matrix, *study, true);
    test_own_regions(t, step, *description, *result,
                     [&](const std::vector<uint32_t>& rows) {
                         return reference_region_pvalue(*matrix, layout, rows);
                     });
}

void cgi_analysis_fast_thread(Data_matrix* matrix, uint32_t t, uint32_t step,
                              const Data_description* study, const CGI_description* description,
                              const Probe_result* probe_result, CGI_result* result) {
    if (!has_matrix(matrix, false) || probe_result == nullptr) return;
    const Region_layout layout = layout_of(*matrix, *study, false);
    test_own_regions(t, step, *description, *result,
                     [&](const std::vector<uint32_t>& rows) {
                         return fast_region_pvalue(layout, rows, probe_result->fit);
                     });
}

void fdr_range_cgi(CGI_result& result) {
    if (result.pvalue == nullptr || result.fdr == nullptr) return;
    std::vector<Ranked_pvalue> entries;
    const size_t count = std::min(result.pvalue->size, result.fdr->size);
    for (size_t i = 0; i < count; ++i) {
        const double p = gsl_vector_get(result.pvalue, i);
        if (!(p < tested_limit)) continue;
        Ranked_pvalue entry;
        entry.order.name = std::to_string(i);
        entry.order.value = p;
        entry.row = static_cast<uint32_t>(i);
        entries.push_back(entry);
    }
    if (entries.empty()) return;
    const std::vector<double> fdr = running_max_fdr(entries);
    for (size_t k = 0; k < entries.size() && k < fdr.size(); ++k) {
        gsl_vector_set(result.fdr, entries[k].row, fdr[k]);
    }
}
