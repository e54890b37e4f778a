// Promises of a beta matrix returned by the study reader, shared by the
// configuration and data file targets: P x N values, in memory or in the
// spill file, each a finite logit or the excluded mark (NaN), never an
// infinity; covariables and continuous values finite and sized N x K and
// N x 1; each sample's quantiles (when found) ascending and finite, or all
// NaN exactly when the sample has no usable value; under --nosnp every
// probe whose identifier starts with "rs" excluded in every sample.
#ifndef CIMBREL_FUZZ_STUDY_CHECK_H
#define CIMBREL_FUZZ_STUDY_CHECK_H

#include <cstdint>
#include <vector>

#include "basic_type.h"
#include "parameter.h"

// The P x N values row by row, whether in memory or spilled.
std::vector<double> study_values(const Data_matrix& matrix);

// Aborts (through FUZZ_CHECK) on the first broken promise; returns the values.
std::vector<double> check_study_matrix(const Data_matrix& matrix, const Data_description& study,
                                       const Parameter& options, uint32_t probes, uint32_t samples);

#endif
