// The study's designs, shared by the probe stage and both region tests. A
// sample takes part in a fit when its group is known. Its row of the reduced
// design is (covariables, 1); its row of the full design is (covariables,
// one indicator per group) in group mode, or (covariables, 1, continuous
// value) in continuous mode. A vector of per-sample values is tested against
// these rows, taken at the samples that have a value (NaN = no value).
#ifndef CIMBREL_SAMPLE_DESIGN_H
#define CIMBREL_SAMPLE_DESIGN_H

#include <cstdint>
#include <vector>

#include "ancova.h"
#include "basic_type.h"

// What every fit needs about the study, read once before a stage fans out.
struct Sample_layout {
    uint32_t samples = 0;
    uint32_t covariables = 0;
    uint32_t groups = 0;
    bool continuous = false;
    // Group number of each sample column; `groups` when the sample has no
    // known group, which keeps it out of every fit and the group means.
    std::vector<uint32_t> group_of;
    // Per sample column: covariables (and continuous value) are all numbers.
    std::vector<char> design_finite;
    // Per group: its sample columns in order.
    std::vector<std::vector<uint32_t>> members;

    uint32_t reduced_columns() const { return covariables + 1; }
    uint32_t full_columns() const { return continuous ? covariables + 2 : covariables + groups; }
    // The value v of sample s enters a fit.
    bool in_fit(double v, uint32_t s) const { return is_usable(v) && group_of[s] < groups; }
};

Sample_layout sample_layout(const Data_matrix& matrix, const Data_description& study);

// The covariable and continuous matrices agree with the sample count, so
// every look-up of a sample's design row stays inside them.
bool consistent_shapes(const Data_matrix& matrix);

// Sample s's row of the reduced design (reduced_columns() values) and of the
// full design (full_columns() values); s must have a known group.
void design_row(const Data_matrix& matrix, const Sample_layout& layout, uint32_t s, double* reduced,
                double* full);

// The reference F test of one vector of per-sample values (one per sample
// column, NaN = no value): dense designs on the samples with a value, fitted
// by ancova. No value at all gives ancova's warning and no test.
double dense_pvalue(const Data_matrix& matrix, const Sample_layout& layout, const double* values);

#endif
