#include "sample_design.h"

#include <algorithm>
#include <cmath>
#include <string>

#include <gsl/gsl_matrix.h>
#include <gsl/gsl_vector.h>

namespace {

// Sample column -> sample name -> group name -> group number.
uint32_t group_of_sample(const Data_description& study, uint32_t sample, uint32_t groups) {
    const std::string name = study.sample_index.get(sample);
    if (name.empty()) return groups;
    const std::string group = study.sample_group.get_group(name);
    uint32_t number = groups;
    if (group.empty() || !study.group_index.find(group, number) || number >= groups) return groups;
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

}  // namespace

Sample_layout sample_layout(const Data_matrix& matrix, const Data_description& study) {
    Sample_layout layout;
    layout.samples = sample_count(matrix);
    layout.covariables = matrix.covariable != nullptr ? static_cast<uint32_t>(matrix.covariable->size2) : 0;
    layout.groups = study.group_index.size();
    layout.continuous = matrix.continuous != nullptr;
    layout.group_of.resize(layout.samples);
    layout.design_finite.resize(layout.samples);
    for (uint32_t s = 0; s < layout.samples; ++s) {
        layout.group_of[s] = group_of_sample(study, s, layout.groups);
        layout.design_finite[s] = sample_design_finite(matrix, s);
    }
    layout.members.resize(layout.groups);
    for (uint32_t s = 0; s < layout.samples; ++s) {
        if (layout.group_of[s] < layout.groups) layout.members[layout.group_of[s]].push_back(s);
    }
    return layout;
}

bool consistent_shapes(const Data_matrix& matrix) {
    const size_t samples = sample_count(matrix);
    if (matrix.covariable != nullptr && matrix.covariable->size1 != samples) return false;
    return matrix.continuous == nullptr ||
           (matrix.continuous->size1 == samples && matrix.continuous->size2 >= 1);
}

void design_row(const Data_matrix& matrix, const Sample_layout& layout, uint32_t s, double* reduced,
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

double dense_pvalue(const Data_matrix& matrix, const Sample_layout& layout, const double* values) {
    uint32_t n = 0;
    for (uint32_t s = 0; s < layout.samples; ++s) n += layout.in_fit(values[s], s);
    if (n == 0) {  // GSL cannot allocate zero rows
        warn_too_few_observations();
        return untested;
    }
    gsl_vector* y = gsl_vector_alloc(n);
    gsl_matrix* reduced = gsl_matrix_calloc(n, layout.reduced_columns());
    gsl_matrix* full = gsl_matrix_calloc(n, layout.full_columns());
    uint32_t k = 0;
    for (uint32_t s = 0; s < layout.samples; ++s) {
        if (!layout.in_fit(values[s], s)) continue;
        gsl_vector_set(y, k, values[s]);
        design_row(matrix, layout, s, gsl_matrix_ptr(reduced, k, 0), gsl_matrix_ptr(full, k, 0));
        ++k;
    }
    const double p = ancova(y, reduced, full);
    gsl_matrix_free(full);
    gsl_matrix_free(reduced);
    gsl_vector_free(y);
    return p;
}
