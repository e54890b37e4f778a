#include "study_pass.h"

#include <cmath>

#include "normalize.h"
#include "spill_file.h"

namespace {

double beta_of(double logit) { return is_usable(logit) ? 1.0 / (1.0 + std::exp(-logit)) : logit; }

// Takes the betas of the reference rows that fall in [first, first + count)
// from a block of rows held row-major (stride tda).
void take_betas(const double* block, size_t tda, uint32_t first, uint32_t count, const Reference_rows& rows,
                Reference_betas& betas) {
    for (size_t k = 0; k < rows.study_row.size(); ++k) {
        const uint32_t row = rows.study_row[k];
        if (row < first || row - first >= count) continue;
        const double* values = block + static_cast<size_t>(row - first) * tda;
        for (size_t s = 0; s < betas.samples; ++s) betas.betas[k * betas.samples + s] = beta_of(values[s]);
    }
}

void add_complete_rows(const double* block, size_t tda, uint32_t count, size_t samples, Cross_product& product) {
    for (uint32_t r = 0; r < count; ++r) {
        const double* values = block + static_cast<size_t>(r) * tda;
        bool complete = true;
        for (size_t s = 0; s < samples && complete; ++s) complete = std::isfinite(values[s]);
        if (complete) product.add(values);
    }
}

bool stream_spilled(Data_matrix& matrix, uint32_t threads, const Reference_rows& rows, Reference_betas& betas,
                    Cross_product* product, std::string& error) {
    const Matrix_spill& spill = *matrix.spill;
    std::vector<double> scratch;
    gsl_matrix* block = nullptr;
    bool ok = true;
    for (uint32_t b = 0; ok && b < spill_block_count(spill); ++b) {
        const uint32_t count = spill_block_size(spill, b), first = spill_block_first(spill, b);
        if (block == nullptr || block->size1 != count) {
            if (block != nullptr) gsl_matrix_free(block);
            block = gsl_matrix_alloc(count, spill.sample_num);
        }
        ok = spill_read_block(spill, b, block, scratch, error);
        if (!ok) break;
        take_betas(block->data, block->tda, first, count, rows, betas);
        if (product == nullptr) continue;
        if (matrix.reference != nullptr) normalize_block(block, matrix.quantiles, matrix.reference, threads);
        add_complete_rows(block->data, block->tda, count, spill.sample_num, *product);
    }
    if (block != nullptr) gsl_matrix_free(block);
    return ok;
}

}  // namespace

Reference_rows find_reference_rows(const Cell_reference& reference, const Data_description& study) {
    Reference_rows rows;
    for (size_t k = 0; k < reference.probes.size(); ++k) {
        uint32_t row = 0;
        if (!study.probe_index.find(reference.probes[k], row)) continue;
        rows.reference_row.push_back(k);
        rows.study_row.push_back(row);
    }
    return rows;
}

bool stream_study(Data_matrix& matrix, const Data_description& study, uint32_t threads,
                  const Reference_rows& rows, Reference_betas& betas, Cross_product* product, std::string& error) {
    betas.rows = rows.study_row.size();
    betas.samples = sample_count(matrix);
    betas.betas.assign(betas.rows * betas.samples, excluded_value);
    if (matrix.logit == nullptr) {
        if (product != nullptr) normalize(&matrix, threads, &study);
        return stream_spilled(matrix, threads, rows, betas, product, error);
    }
    const gsl_matrix& logit = *matrix.logit;
    take_betas(logit.data, logit.tda, 0, static_cast<uint32_t>(logit.size1), rows, betas);
    if (product == nullptr) return true;
    normalize(&matrix, threads, &study);
    add_complete_rows(logit.data, logit.tda, static_cast<uint32_t>(logit.size1), logit.size2, *product);
    return true;
}
