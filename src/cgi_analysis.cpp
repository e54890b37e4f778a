// Region tests, pooled model and driver (the mean test is in region_mean.cpp).
// In the pooled model every region of two or more probes is one linear model
// in which each probe owns a block of columns (covariable slopes plus its
// constant, or its group levels, or its constant and continuous slope). The
// reference worker builds those dense block designs and fits them with
// ancova; the fast worker uses that the designs are block-diagonal, so a
// region's residual sums of squares are the sums of its probes' own ones.
#include "cgi_analysis.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "region_mean.h"
#include "time_out.h"

namespace {

bool usable(const Data_matrix& matrix, const Sample_layout& layout, uint32_t row, uint32_t sample) {
    return row < matrix.logit->size1 && layout.in_fit(gsl_matrix_get(matrix.logit, row, sample), sample);
}

// One usable probe-sample value of a region: probe slot, sample column, response.
struct Observation {
    uint32_t slot;
    uint32_t sample;
    double y;
};

// Probe-major, sample-minor, leaving out the values marked unusable.
std::vector<Observation> region_observations(const Data_matrix& matrix, const Sample_layout& layout,
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

// Row k of both dense designs: each observation fills only its own probe's
// block, laid out like a single probe's design rows.
void fill_design_row(const Data_matrix& matrix, const Sample_layout& layout, size_t k,
                     const Observation& o, gsl_matrix* reduced, gsl_matrix* full) {
    const size_t reduced_base = static_cast<size_t>(layout.reduced_columns()) * o.slot;
    const size_t full_base = static_cast<size_t>(layout.full_columns()) * o.slot;
    design_row(matrix, layout, o.sample, gsl_matrix_ptr(reduced, k, reduced_base),
               gsl_matrix_ptr(full, k, full_base));
}

// Dense fit of one region. A region without enough observations for its full
// design gets ancova's warning and no test, without building designs that
// ancova would refuse anyway (and GSL cannot allocate zero rows).
double reference_region_pvalue(const Data_matrix& matrix, const Sample_layout& layout,
                               const std::vector<uint32_t>& rows) {
    std::vector<Observation> observations = region_observations(matrix, layout, rows);
    const size_t reduced_columns = static_cast<size_t>(layout.reduced_columns()) * rows.size();
    const size_t full_columns = static_cast<size_t>(layout.full_columns()) * rows.size();
    if (observations.size() <= full_columns || reduced_columns == 0) {
        warn_too_few_observations();
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
double fast_region_pvalue(const Sample_layout& layout, const std::vector<uint32_t>& rows,
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
    const uint64_t full_columns = static_cast<uint64_t>(layout.full_columns()) * rows.size();
    if (observations <= full_columns || layout.reduced_columns() == 0) {
        warn_too_few_observations();
        return untested;
    }
    const uint32_t extra = layout.full_columns() > layout.reduced_columns()
                               ? layout.full_columns() - layout.reduced_columns()
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
void test_own_regions(uint32_t t, uint32_t step, const CGI_description& region_list, CGI_result& result,
                      Test test) {
    if (result.pvalue == nullptr || step == 0) return;
    const size_t count = std::min(region_list.regions.size(), result.pvalue->size);
    std::vector<uint32_t> rows;
    for (size_t i = t; i < count; i += step) {
        const uint32_t region = static_cast<uint32_t>(i);
        const uint32_t* first = region_list.region_probes.begin(region);
        rows.assign(first, first + region_list.region_probes.count(region));
        if (rows.size() < 2) continue;
        gsl_vector_set(result.pvalue, i, test(rows));
    }
}

// A study whose covariable and continuous matrices agree with its sample
// count; with values, the beta matrix itself is in memory too.
bool has_matrix(const Data_matrix* matrix, bool with_values) {
    if (matrix == nullptr || (with_values && matrix->logit == nullptr)) return false;
    return consistent_shapes(*matrix);
}

}  // namespace

void cgi_result_free(CGI_result& result) {
    if (result.pvalue != nullptr) gsl_vector_free(result.pvalue);
    if (result.fdr != nullptr) gsl_vector_free(result.fdr);
    result.pvalue = nullptr;
    result.fdr = nullptr;
}

bool region_test_choice(Region_test& test, std::string& error) {
    const char* setting = getenv("CIMBREL_REGION_TEST");
    const std::string choice = setting != nullptr ? setting : "";
    if (choice.empty() || choice == "mean") {
        test = Region_test::mean;
    } else if (choice == "pooled") {
        test = Region_test::pooled;
    } else {
        error = "CIMBREL_REGION_TEST must be mean or pooled, not \"" + choice + "\"";
        return false;
    }
    return true;
}

bool test_regions(Data_matrix* matrix, uint32_t thread_num, const Data_description& study,
                  CGI_result& result, const CGI_description& region_list,
                  const Probe_result* probe_result, Fit_path path, Region_test test, const char* fdr_title) {
    cgi_result_free(result);
    const size_t count = region_list.regions.size();
    // No region leaves both vectors null: GSL cannot allocate length zero.
    if (count > 0) {
        result.pvalue = gsl_vector_alloc(count);
        result.fdr = gsl_vector_alloc(count);
        gsl_vector_set_all(result.pvalue, untested);
        gsl_vector_set_all(result.fdr, untested);
    }
    bool ok = true;
    if (count > 0 && test == Region_test::mean && has_matrix(matrix, false)) {
        ok = mean_region_pvalues(*matrix, thread_num, study, region_list, path, result.pvalue);
        if (!ok) gsl_vector_set_all(result.pvalue, untested);
    }
    const bool fast = path == Fit_path::fast && probe_result != nullptr && matrix != nullptr &&
                      probe_result->fit.size() == probe_count(*matrix);
    if (count > 0 && test == Region_test::pooled && has_matrix(matrix, !fast)) {
        fan_out(std::max<uint32_t>(thread_num, 1), [&](uint32_t t, uint32_t n) {
            if (fast) {
                cgi_analysis_fast_thread(matrix, t, n, &study, &region_list, probe_result, &result);
            } else {
                cgi_analysis_thread(matrix, t, n, &study, &region_list, &result);
            }
        });
    }
    if (fdr_title != nullptr) progress(fdr_title);
    fdr_range_cgi(result);
    return ok;
}

bool cgi_analysis(Data_matrix* matrix, uint32_t thread_num, const Data_description& study,
                  CGI_result& result, const CGI_description& region_list,
                  const Probe_result* probe_result, Fit_path path, Region_test test) {
    progress("     Analyzing differentially methylated predefined region");
    progress("     Calculating pvalues for predefined region");
    return test_regions(matrix, thread_num, study, result, region_list, probe_result, path, test,
                        "       Finding fdr in predefined region analysis");
}

void cgi_analysis_thread(Data_matrix* matrix, uint32_t t, uint32_t step,
                         const Data_description* study, const CGI_description* region_list,
                         CGI_result* result) {
    if (!has_matrix(matrix, true)) return;
    const Sample_layout layout = sample_layout(*matrix, *study);
    test_own_regions(t, step, *region_list, *result,
                     [&](const std::vector<uint32_t>& rows) {
                         return reference_region_pvalue(*matrix, layout, rows);
                     });
}

void cgi_analysis_fast_thread(Data_matrix* matrix, uint32_t t, uint32_t step,
                              const Data_description* study, const CGI_description* region_list,
                              const Probe_result* probe_result, CGI_result* result) {
    if (!has_matrix(matrix, false) || probe_result == nullptr) return;
    const Sample_layout layout = sample_layout(*matrix, *study);
    test_own_regions(t, step, *region_list, *result,
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
