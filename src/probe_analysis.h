// Probe-level statistics: per probe an F test (groups, or a continuous
// variable, adjusted for the covariables), group means taken on the logit
// scale and reported as betas, their range, and the false discovery rate.
// A p-value of 2.0 means the probe could not be tested (its FDR stays 1.0).
#ifndef CIMBREL_PROBE_ANALYSIS_H
#define CIMBREL_PROBE_ANALYSIS_H

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include <gsl/gsl_matrix.h>
#include <gsl/gsl_vector.h>

#include "ancova.h"
#include "basic_type.h"
#include "sample_design.h"

// Owned by main; the GSL objects are allocated by probe_analysis (P probes,
// G groups) and released by probe_result_free.
struct Probe_result {
    gsl_vector* pvalue = nullptr;      // 2.0 = not tested
    gsl_vector* fdr = nullptr;         // 1.0 for untested probes
    gsl_vector* range = nullptr;       // largest minus smallest group mean (of groups with one)
    gsl_matrix* group_mean = nullptr;  // P x G, beta scale; NaN for a group without values
    // Each probe's own reduced and full fits on its usable values (filled by
    // the fast path when asked to keep them); the pooled region model sums
    // these over a region's probes. Empty when not kept.
    std::vector<Fit_summary> fit;
};

void probe_result_free(Probe_result& result);

// The group_mean of a group without any usable value of the probe. has_mean
// is the one test the writers make: a mean is drawn only when it is a beta
// value, so no_mean, or anything else outside (0, 1], is never drawn.
constexpr double no_mean = std::numeric_limits<double>::quiet_NaN();
inline bool has_mean(double group_mean) { return group_mean > 0.0 && group_mean <= 1.0; }

// What the stages after the probe stage want of it.
struct Probe_stage_keeps {
    // Every probe's fit in result.fit, for the pooled region model (the
    // region mean test does not use them; a fit is 40 bytes per probe).
    bool fits = true;
    // Out of core, the normalised values: each block the stage loads and
    // normalises is written back over its raw values, and the matrix's
    // normalisation reference is released, so the region mean test, which
    // reads the spill file again, does not normalise it again.
    bool normalised_values = false;
};

// The stage: progress lines, allocation, thread_num workers, FDR. False,
// after an error message, when there is no probe or no group, when the beta,
// covariable and continuous matrices disagree on the sample count, or when a
// block of spilled values cannot be read back (or written back).
bool probe_analysis(Data_matrix* matrix, uint32_t thread_num, const Data_description& study,
                    Probe_result& result, Fit_path path = Fit_path::fast,
                    Probe_stage_keeps keeps = Probe_stage_keeps());

// Reference worker: probes first, first+step, … each fitted with ancova on
// freshly built dense designs. Writes only its probes' pvalue, range and
// group_mean entries.
void probe_analysis_thread(Data_matrix* matrix, uint32_t first, uint32_t step,
                           const Data_description* study, Probe_result* result);

// The probe stage's fast F test for any vector of per-sample values laid out
// like a row of the beta matrix (NaN = no value), such as the derived sample
// values of the region mean test. Built once before a fan-out and only read
// afterwards; each worker tests through its own Worker.
class Fast_row_test {
public:
    Fast_row_test(const Data_matrix& matrix, const Sample_layout& layout);
    ~Fast_row_test();
    Fast_row_test(const Fast_row_test&) = delete;
    Fast_row_test& operator=(const Fast_row_test&) = delete;

    class Worker {
    public:
        explicit Worker(const Fast_row_test& test);
        ~Worker();
        // p-value of values, one per sample column; 2.0 when no test can be
        // made (with ancova's warning when there are too few values).
        double pvalue(const double* values);

    private:
        struct Buffers;
        const Fast_row_test& test_;
        std::unique_ptr<Buffers> buffers_;
    };

private:
    struct Design;
    const Sample_layout& layout_;
    std::unique_ptr<Design> design_;
};

// FDR step: running maximum of m * p(r) / r over the ranked p-values below
// 1.000001, capped at 1; written back by row. The matrix is not read.
void fdr_range(Data_matrix* matrix, Probe_result& result, const Data_description& study);

// One ranked entry of an FDR step: its Order key and the row it belongs to.
struct Ranked_pvalue {
    Order order;
    uint32_t row;
};

// Sorts entries by their Order and returns, per entry in sorted order, its FDR
// min(1, max over j <= r of m * p(j) / j). Shared by the probe and region steps.
std::vector<double> running_max_fdr(std::vector<Ranked_pvalue>& entries);

#endif
