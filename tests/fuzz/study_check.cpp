#include "study_check.h"

#include <cmath>
#include <string>
#include <string_view>

#include "fuzz_util.h"
#include "spill_file.h"

namespace {

// Every entry of an optional sample table (N x columns) finite.
void check_sample_table(const gsl_matrix* table, bool expected, uint32_t samples, uint32_t columns,
                        const char* what) {
    FUZZ_CHECK((table != nullptr) == expected, what);
    if (table == nullptr) return;
    FUZZ_CHECK(table->size1 == samples && table->size2 == columns, what);
    for (size_t i = 0; i < table->size1; ++i)
        for (size_t j = 0; j < table->size2; ++j) FUZZ_CHECK(std::isfinite(gsl_matrix_get(table, i, j)), what);
}

bool snp_probe(std::string_view id) { return id.size() >= 2 && id[0] == 'r' && id[1] == 's'; }

// Column c of the quantiles: ascending finite levels, or all NaN for a
// sample without usable values.
void check_quantiles(const gsl_matrix& quantiles, uint32_t column, bool has_usable) {
    for (size_t level = 0; level < quantiles.size1; ++level) {
        const double value = gsl_matrix_get(&quantiles, level, column);
        FUZZ_CHECK(has_usable ? std::isfinite(value) : std::isnan(value), "quantile of the wrong kind");
        if (has_usable && level > 0) FUZZ_CHECK(gsl_matrix_get(&quantiles, level - 1, column) <= value, "quantiles descend");
    }
}

}  // namespace

std::vector<double> study_values(const Data_matrix& matrix) {
    const uint32_t probes = probe_count(matrix), samples = sample_count(matrix);
    std::vector<double> values(static_cast<size_t>(probes) * samples);
    if (matrix.logit != nullptr) {
        for (uint32_t r = 0; r < probes; ++r)
            for (uint32_t c = 0; c < samples; ++c) values[size_t(r) * samples + c] = gsl_matrix_get(matrix.logit, r, c);
        return values;
    }
    FUZZ_CHECK(matrix.spill != nullptr, "values neither in memory nor spilled");
    std::vector<double> scratch;
    std::string error;
    for (uint32_t b = 0; b < spill_block_count(*matrix.spill); ++b) {
        const uint32_t first = spill_block_first(*matrix.spill, b);
        gsl_matrix* block = gsl_matrix_alloc(spill_block_size(*matrix.spill, b), samples);
        FUZZ_CHECK(spill_read_block(*matrix.spill, b, block, scratch, error), "spilled block unreadable");
        for (size_t r = 0; r < block->size1; ++r)
            for (uint32_t c = 0; c < samples; ++c) values[(first + r) * samples + c] = gsl_matrix_get(block, r, c);
        gsl_matrix_free(block);
    }
    return values;
}

std::vector<double> check_study_matrix(const Data_matrix& matrix, const Data_description& study,
                                       const Parameter& options, uint32_t probes, uint32_t samples) {
    FUZZ_CHECK(probe_count(matrix) == probes && sample_count(matrix) == samples, "matrix is not P x N");
    check_sample_table(matrix.continuous, options.continuous_on, samples, 1, "continuous values");
    check_sample_table(matrix.covariable, options.covariable_num > 0, samples, options.covariable_num,
                       "covariables");
    const std::vector<double> values = study_values(matrix);
    std::vector<bool> has_usable(samples, false);
    for (uint32_t row = 0; row < probes; ++row) {
        const bool snp = options.nosnp && snp_probe(study.probe_index.name(row));
        for (uint32_t column = 0; column < samples; ++column) {
            const double value = values[size_t(row) * samples + column];
            FUZZ_CHECK(!std::isinf(value), "infinite value stored");
            FUZZ_CHECK(!(snp && is_usable(value)), "SNP probe kept under --nosnp");
            if (is_usable(value)) has_usable[column] = true;
        }
    }
    if (matrix.quantiles != nullptr) {
        FUZZ_CHECK(matrix.quantiles->size2 == samples, "quantiles of another sample count");
        for (uint32_t column = 0; column < samples; ++column)
            check_quantiles(*matrix.quantiles, column, has_usable[column]);
    }
    return values;
}
