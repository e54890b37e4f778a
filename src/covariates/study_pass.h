// One pass over a study read by cimbrel's own reader: the raw betas at the
// probes of a cell reference are set aside as read, then the values are
// quantile-normalised as cimbrel normalises them and every probe usable in
// all samples goes into the residual cross-product. The values may be in
// memory or spilled to disk in blocks of rows (CIMBREL_MEMORY); the result
// is the same either way.
#ifndef CIMBREL_COVARIATES_STUDY_PASS_H
#define CIMBREL_COVARIATES_STUDY_PASS_H

#include <cstdint>
#include <string>
#include <vector>

#include "basic_type.h"
#include "cell_reference.h"
#include "hidden_factors.h"

// The reference probes present in the study: their reference line and
// study row, in reference order.
struct Reference_rows {
    std::vector<size_t> reference_row;
    std::vector<uint32_t> study_row;
};

Reference_rows find_reference_rows(const Cell_reference& reference, const Data_description& study);

// Betas (not logits) at the reference rows, as read: rows x samples,
// row-major; NaN for an excluded value.
struct Reference_betas {
    size_t rows = 0;
    size_t samples = 0;
    std::vector<double> betas;
};

// Normalises the study (unless cross_product is null: then only the betas
// are taken) and streams it: betas at rows.study_row into betas, every row
// usable in all samples into cross_product. False, with error, when the
// spill file cannot be read.
bool stream_study(Data_matrix& matrix, const Data_description& study, uint32_t threads,
                  const Reference_rows& rows, Reference_betas& betas, Cross_product* cross_product,
                  std::string& error);

#endif
