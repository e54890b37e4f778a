// The covariables cimbrel-covariates adds: cell proportions per sample from
// a reference, and principal components of the residuals of cimbrel's full
// probe model (groups or intercept and continuous value, the study's own
// covariables, and the cell proportions written to the configuration).
#ifndef CIMBREL_COVARIATES_ESTIMATES_H
#define CIMBREL_COVARIATES_ESTIMATES_H

#include <cstddef>
#include <string>
#include <vector>

#include "basic_type.h"
#include "cell_reference.h"
#include "hidden_factors.h"
#include "study_pass.h"

struct Cell_estimate {
    std::vector<double> proportions;  // samples x cell types, row-major
    size_t types = 0;
    size_t baseline = 0;              // the type with the largest mean proportion

    // The proportions of every type but the baseline (samples x types - 1):
    // all of them together nearly sum to one and would repeat the intercept.
    std::vector<double> model_columns() const;
};

// Proportions of every sample from its usable betas at the reference rows.
// False, with error naming the sample, when a sample has fewer than 3 x
// (cell types) usable reference probes or its problem cannot be solved.
bool estimate_cells(const Cell_reference& reference, const Reference_rows& rows, const Reference_betas& betas,
                    const Data_description& study, Cell_estimate& estimate, std::string& error);

// Columns of the residual model, samples x p, row-major: cimbrel's full
// design row of each sample (the K covariables, then the group indicators,
// or 1 and the continuous value), then extra (samples x extra_columns).
std::vector<double> residual_design(const Data_matrix& matrix, const Data_description& study,
                                    const std::vector<double>& extra, size_t extra_columns, size_t& p);

// The model's column count as the component limit counts it: G + K for G
// groups, K + 2 in continuous mode, plus extra columns.
size_t model_columns(const Data_matrix& matrix, const Data_description& study, size_t extra_columns);

// Components of the residuals given the probes' cross-product s (n x n)
// and the design (n x p). False, with error, when the decomposition fails.
bool residual_components(const std::vector<double>& s, size_t n, const std::vector<double>& design, size_t p,
                         size_t count, Components& components, std::string& error);

#endif
