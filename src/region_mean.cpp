#include "region_mean.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include <gsl/gsl_matrix.h>

#include "normalize.h"
#include "probe_analysis.h"
#include "spill_file.h"
#include "time_out.h"

namespace {

constexpr double no_value = std::numeric_limits<double>::quiet_NaN();

// The matrix rows of a region in ascending order, the order in which every
// path adds them.
std::vector<uint32_t> sorted_rows(const CGI_description& region_list, uint32_t region) {
    const uint32_t* first = region_list.region_probes.begin(region);
    std::vector<uint32_t> rows(first, first + region_list.region_probes.count(region));
    std::sort(rows.begin(), rows.end());
    return rows;
}

// One worker's sums and sample values, reused from region to region.
struct Region_buffers {
    std::vector<double> sum, values;
    std::vector<uint32_t> count;
    bool finite = true;

    explicit Region_buffers(uint32_t samples) : sum(samples), values(samples), count(samples) {}
    Region_sums reset() {
        std::fill(sum.begin(), sum.end(), 0.0);
        std::fill(count.begin(), count.end(), 0);
        finite = true;
        return {sum.data(), count.data(), &finite};
    }
};

double test_sums(const Sample_layout& layout, Region_sums sums, double* values, Fast_row_test::Worker& worker) {
    if (!region_sample_values(layout, sums, values)) return untested;
    return worker.pvalue(values);
}

// Fast path with the values in memory: regions t, t + step, … one at a time.
void in_memory_thread(const Data_matrix& matrix, const Sample_layout& layout, const Fast_row_test& test,
                      const CGI_description& region_list, uint32_t t, uint32_t step, gsl_vector* pvalue) {
    Fast_row_test::Worker worker(test);
    Region_buffers buffers(layout.samples);
    const size_t regions = std::min(region_list.regions.size(), pvalue->size);
    for (size_t i = t; i < regions; i += step) {
        const std::vector<uint32_t> rows = sorted_rows(region_list, static_cast<uint32_t>(i));
        if (rows.size() < 2) continue;
        const Region_sums sums = buffers.reset();
        for (uint32_t row : rows) {
            if (row >= matrix.logit->size1) continue;
            add_centred_probe(gsl_matrix_const_ptr(matrix.logit, row, 0), layout, sums);
        }
        gsl_vector_set(pvalue, i, test_sums(layout, sums, buffers.values.data(), worker));
    }
}

// Regions whose sums are filled together in one pass over the spill file.
struct Spill_batch {
    std::vector<uint32_t> regions;            // region indices
    std::vector<std::vector<uint32_t>> rows;  // their rows, ascending
    std::vector<size_t> next;                 // per region: its first row not added yet
    std::vector<double> sum;                  // regions x samples
    std::vector<uint32_t> count;              // regions x samples
    std::unique_ptr<bool[]> finite;
    std::vector<char> needed;                 // per matrix row: some region of the batch has it

    Region_sums sums(size_t k, uint32_t samples) {
        return {&sum[k * samples], &count[k * samples], &finite[k]};
    }
};

// The regions from `from` on whose sums fit in `bytes` (at least one region).
size_t fill_batch(const CGI_description& region_list, const std::vector<uint32_t>& testable, size_t from,
                  uint64_t bytes, uint32_t samples, uint32_t probes, Spill_batch& batch) {
    const uint64_t per_region = 12ull * samples + 64;
    const size_t size = std::max<uint64_t>(1, std::min<uint64_t>(bytes / per_region, testable.size() - from));
    batch.regions.assign(testable.begin() + from, testable.begin() + from + size);
    batch.rows.clear();
    batch.needed.assign(probes, 0);
    for (uint32_t region : batch.regions) {
        batch.rows.push_back(sorted_rows(region_list, region));
        for (uint32_t row : batch.rows.back()) {
            if (row < probes) batch.needed[row] = 1;
        }
    }
    batch.next.assign(size, 0);
    batch.sum.assign(size * samples, 0.0);
    batch.count.assign(size * samples, 0);
    batch.finite.reset(new bool[size]);
    std::fill(batch.finite.get(), batch.finite.get() + size, true);
    return size;
}

// Adds the rows [first, first + chunk->size1) held in chunk to the sums of
// the batch's regions t, t + step, …
void add_chunk_thread(const gsl_matrix* chunk, uint32_t first, const Sample_layout& layout, Spill_batch& batch,
                      uint32_t t, uint32_t step) {
    const uint32_t end = first + static_cast<uint32_t>(chunk->size1);
    for (size_t k = t; k < batch.regions.size(); k += step) {
        const std::vector<uint32_t>& rows = batch.rows[k];
        size_t& next = batch.next[k];
        const Region_sums sums = batch.sums(k, layout.samples);
        for (; next < rows.size() && rows[next] < end; ++next) {
            add_centred_probe(gsl_matrix_const_ptr(chunk, rows[next] - first, 0), layout, sums);
        }
    }
}

// One pass over the spill file for one batch: the blocks are loaded a chunk
// of rows at a time (skipping chunks without a row of the batch), normalised
// as in the probe stage, and added to the sums.
bool fill_batch_sums(const Data_matrix& matrix, uint32_t workers, const Sample_layout& layout,
                     uint32_t chunk_rows, Spill_batch& batch) {
    const Matrix_spill& spill = *matrix.spill;
    gsl_matrix* chunk = gsl_matrix_alloc(chunk_rows, spill.sample_num);
    std::vector<double> scratch;
    bool ok = true;
    for (uint32_t b = 0; ok && b < spill_block_count(spill); ++b) {
        const uint32_t block_first = spill_block_first(spill, b), block_size = spill_block_size(spill, b);
        for (uint32_t offset = 0; ok && offset < block_size; offset += chunk_rows) {
            const uint32_t first = block_first + offset, rows = std::min(chunk_rows, block_size - offset);
            const auto begin = batch.needed.begin() + first;
            if (std::find(begin, begin + rows, 1) == begin + rows) continue;
            gsl_matrix_view view = gsl_matrix_submatrix(chunk, 0, 0, rows, spill.sample_num);
            std::string error;
            if (!spill_read_rows(spill, b, offset, &view.matrix, scratch, error)) {
                message("Error: %s\n", error.c_str());
                ok = false;
                break;
            }
            if (matrix.reference != nullptr) {
                normalize_block(&view.matrix, matrix.quantiles, matrix.reference, workers);
            }
            fan_out(workers, [&](uint32_t t, uint32_t n) {
                add_chunk_thread(&view.matrix, first, layout, batch, t, n);
            });
        }
    }
    gsl_matrix_free(chunk);
    return ok;
}

// Fast path over the spill file. The stage may use what the probe stage's
// blocks took: an eighth of a block for the rows loaded at once, and as
// much again as one block plus a quarter for the sums of the regions filled
// together (the rest of the second block is left for the batch's lists of
// rows); regions that do not fit wait for another pass, each a whole read
// of the spill file.
bool spilled_pvalues(const Data_matrix& matrix, uint32_t workers, const Sample_layout& layout,
                     const Fast_row_test& test, const CGI_description& region_list, gsl_vector* pvalue) {
    const Matrix_spill& spill = *matrix.spill;
    const uint64_t block_bytes = static_cast<uint64_t>(spill.block_rows) * spill.sample_num * sizeof(double);
    const uint64_t sum_bytes = block_bytes + block_bytes / 4;
    const uint32_t chunk_rows = static_cast<uint32_t>(std::max<uint64_t>(1, spill.block_rows / 8));
    std::vector<uint32_t> testable;
    const size_t regions = std::min(region_list.regions.size(), pvalue->size);
    for (uint32_t i = 0; i < regions; ++i) {
        if (region_list.region_probes.count(i) >= 2) testable.push_back(i);
    }
    Spill_batch batch;
    for (size_t from = 0; from < testable.size();) {
        const size_t size = fill_batch(region_list, testable, from, sum_bytes, layout.samples, spill.probe_num, batch);
        if (!fill_batch_sums(matrix, workers, layout, chunk_rows, batch)) return false;
        fan_out(workers, [&](uint32_t t, uint32_t n) {
            Fast_row_test::Worker worker(test);
            std::vector<double> values(layout.samples);
            for (size_t k = t; k < size; k += n) {
                const double p = test_sums(layout, batch.sums(k, layout.samples), values.data(), worker);
                gsl_vector_set(pvalue, batch.regions[k], p);
            }
        });
        from += size;
    }
    return true;
}

}  // namespace

void add_centred_probe(const double* values, const Sample_layout& layout, Region_sums sums) {
    double total = 0.0;
    uint32_t n = 0;
    for (uint32_t s = 0; s < layout.samples; ++s) {
        if (!layout.in_fit(values[s], s)) continue;
        total += values[s];
        ++n;
    }
    if (n == 0) return;
    const double mean = total / n;
    if (!std::isfinite(mean)) {
        *sums.finite = false;
        return;
    }
    for (uint32_t s = 0; s < layout.samples; ++s) {
        if (!layout.in_fit(values[s], s)) continue;
        sums.sum[s] += values[s] - mean;
        ++sums.count[s];
    }
}

bool region_sample_values(const Sample_layout& layout, Region_sums sums, double* values) {
    if (!*sums.finite) return false;
    for (uint32_t s = 0; s < layout.samples; ++s) {
        values[s] = sums.count[s] > 0 ? sums.sum[s] / sums.count[s] : no_value;
    }
    return true;
}

double mean_region_pvalue_reference(const Data_matrix& matrix, const Sample_layout& layout,
                                    const std::vector<uint32_t>& rows) {
    // The region's values as a dense probes x samples table; NaN = not usable.
    const size_t samples = layout.samples;
    std::vector<double> table;
    for (uint32_t row : rows) {
        if (row >= matrix.logit->size1) continue;
        for (uint32_t s = 0; s < samples; ++s) {
            const double v = gsl_matrix_get(matrix.logit, row, s);
            table.push_back(layout.in_fit(v, s) ? v : no_value);
        }
    }
    const size_t probes = table.size() / std::max<size_t>(samples, 1);
    for (size_t p = 0; p < probes; ++p) {
        double* probe = &table[p * samples];
        double total = 0.0, n = 0.0;
        for (size_t s = 0; s < samples; ++s) {
            if (std::isnan(probe[s])) continue;
            total += probe[s];
            n += 1.0;
        }
        const double mean = total / n;
        if (n > 0.0 && !std::isfinite(mean)) return untested;
        for (size_t s = 0; s < samples; ++s) probe[s] -= mean;
    }
    std::vector<double> values(samples, no_value);
    for (size_t s = 0; s < samples; ++s) {
        double total = 0.0, n = 0.0;
        for (size_t p = 0; p < probes; ++p) {
            if (std::isnan(table[p * samples + s])) continue;
            total += table[p * samples + s];
            n += 1.0;
        }
        if (n > 0.0) values[s] = total / n;
    }
    return dense_pvalue(matrix, layout, values.data());
}

bool mean_region_pvalues(const Data_matrix& matrix, uint32_t thread_num, const Data_description& study,
                         const CGI_description& region_list, Fit_path path, gsl_vector* pvalue) {
    if (pvalue == nullptr || (matrix.logit == nullptr && matrix.spill == nullptr)) return true;
    const uint32_t workers = std::max<uint32_t>(thread_num, 1);
    const Sample_layout layout = sample_layout(matrix, study);
    if (path == Fit_path::reference && matrix.logit != nullptr) {
        const size_t regions = std::min(region_list.regions.size(), pvalue->size);
        fan_out(workers, [&](uint32_t t, uint32_t n) {
            for (uint32_t i = t; i < regions; i += n) {
                const uint32_t* first = region_list.region_probes.begin(i);
                const std::vector<uint32_t> rows(first, first + region_list.region_probes.count(i));
                if (rows.size() >= 2) gsl_vector_set(pvalue, i, mean_region_pvalue_reference(matrix, layout, rows));
            }
        });
        return true;
    }
    const Fast_row_test test(matrix, layout);
    if (matrix.logit == nullptr) return spilled_pvalues(matrix, workers, layout, test, region_list, pvalue);
    fan_out(workers, [&](uint32_t t, uint32_t n) {
        in_memory_thread(matrix, layout, test, region_list, t, n, pvalue);
    });
    return true;
}
