#include "probe_analysis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "sample_design.h"
#include "normalize.h"
#include "spill_file.h"
#include "time_out.h"

namespace {

bool has_matrix(const Data_matrix* matrix) {
    return matrix != nullptr && (matrix->logit != nullptr || matrix->spill != nullptr);
}

// e^m / (1 + e^m), kept finite where e^m overflows; a mean that is not a
// number (a group holding both +inf and -inf) reports the neutral 0.5.
double inverse_logit(double mean) {
    if (std::isnan(mean)) return 0.5;
    if (mean > 700.0) return 1.0;
    const double e = std::exp(mean);
    return e / (1.0 + e);
}

// Group means on the logit scale reported as betas, and their range, from
// the sums and counts of the probe's values per group. A group without any
// value has no mean (NaN: "-" in the table, no track line) rather than an
// invented one, and the range is taken over the groups that have a mean (0
// when fewer than two do).
void finish_group_means(const Sample_layout& layout, const Data_description& study, uint32_t probe,
                        const std::vector<double>& sum, const std::vector<double>& count, Probe_result& result) {
    double smallest = 1.0, largest = 0.0;
    uint32_t with_mean = 0;
    for (uint32_t g = 0; g < layout.groups; ++g) {
        if (count[g] < 1.0) {
            message("Warning: no valid beta value of probe %s in group %s\n",
                    study.probe_index.get(probe).c_str(), study.group_index.get(g).c_str());
            gsl_matrix_set(result.group_mean, probe, g, no_mean);
            continue;
        }
        const double beta = inverse_logit(sum[g] / count[g]);
        gsl_matrix_set(result.group_mean, probe, g, beta);
        smallest = std::min(smallest, beta);
        largest = std::max(largest, beta);
        ++with_mean;
    }
    gsl_vector_set(result.range, probe, with_mean >= 2 ? largest - smallest : 0.0);
}

// Group means of one probe: every usable value counts.
void group_means(const Data_matrix& matrix, const Sample_layout& layout, const Data_description& study,
                 uint32_t probe, std::vector<double>& sum, std::vector<double>& count, Probe_result& result) {
    std::fill(sum.begin(), sum.end(), 0.0);
    std::fill(count.begin(), count.end(), 0.0);
    const double* values = gsl_matrix_const_ptr(matrix.logit, probe, 0);
    for (uint32_t s = 0; s < layout.samples; ++s) {
        const uint32_t g = layout.group_of[s];
        if (!is_usable(values[s]) || g >= layout.groups) continue;
        sum[g] += values[s];
        count[g] += 1.0;
    }
    finish_group_means(layout, study, probe, sum, count, result);
}

// Stores the probe's p-value and, for a probe without a test, its warning.
void store_pvalue(const Data_description& study, uint32_t probe, double p, Probe_result& result) {
    gsl_vector_set(result.pvalue, probe, p);
    if (p > 1.0) {
        message("Warning: too few observations for probe %s\n", study.probe_index.get(probe).c_str());
    }
}

// The fast path's view of the designs, built once before the fan-out: every
// sample's reduced and full design row, and one nested factorisation of both
// designs on the base rows, the samples with a group and a finite design row
// (every sample, in a well-formed study). A probe that leaves out only a few
// base rows is fitted by updating the shared projection; any other goes
// through its own least-squares fits.
struct Fast_design {
    std::vector<double> reduced_rows;  // samples x reduced columns, row-major
    std::vector<double> full_rows;     // samples x full columns, row-major
    std::vector<uint32_t> base_row;    // per sample: its base row, or no_row
    std::vector<double> ones;          // 1 per base row
    uint32_t base_rows = 0;
    Nested_projector nested;           // on the base rows
};

constexpr uint32_t no_row = UINT32_MAX;

Fast_design fast_design(const Data_matrix& matrix, const Sample_layout& layout) {
    Fast_design design;
    const size_t pr = layout.reduced_columns(), pf = layout.full_columns();
    design.reduced_rows.assign(layout.samples * pr, 0.0);
    design.full_rows.assign(layout.samples * pf, 0.0);
    design.base_row.assign(layout.samples, no_row);
    std::vector<double> base_reduced, base_full;
    for (uint32_t s = 0; s < layout.samples; ++s) {
        if (layout.group_of[s] >= layout.groups) continue;
        double* reduced = &design.reduced_rows[s * pr];
        double* full = &design.full_rows[s * pf];
        design_row(matrix, layout, s, reduced, full);
        if (!layout.design_finite[s]) continue;
        design.base_row[s] = design.base_rows++;
        base_reduced.insert(base_reduced.end(), reduced, reduced + pr);
        base_full.insert(base_full.end(), full, full + pf);
    }
    design.ones.assign(design.base_rows, 1.0);
    design.nested = Nested_projector(base_reduced.data(), base_full.data(), design.base_rows, pr, pf);
    return design;
}

// One fast worker's buffers, sized once for all samples.
struct Fast_scratch {
    std::vector<double> y, reduced, full, projection, sum, count;
    std::vector<uint32_t> removed;  // base rows left out of the probe's fit
    Lsq_workspace workspace;

    Fast_scratch(const Sample_layout& layout, const Fast_design& design)
        : y(layout.samples),
          reduced(static_cast<size_t>(layout.samples) * layout.reduced_columns()),
          full(static_cast<size_t>(layout.samples) * layout.full_columns()),
          projection(design.nested.scratch_size()),
          sum(layout.groups),
          count(layout.groups),
          removed(Nested_projector::max_removed) {}
};

// The sums from the probe's own fit: its usable values packed in sample
// order, centred on their mean (the reduced design has an intercept).
void own_fits(const Sample_layout& layout, const Fast_design& design, const double* values, Fit_summary& fit,
              Fast_scratch& scratch) {
    const size_t pr = layout.reduced_columns(), pf = layout.full_columns();
    uint32_t k = 0;
    double sum = 0.0;
    for (uint32_t s = 0; s < layout.samples; ++s) {
        if (!is_usable(values[s]) || layout.group_of[s] >= layout.groups) continue;
        const double* reduced = &design.reduced_rows[s * pr];
        const double* full = &design.full_rows[s * pf];
        std::copy(reduced, reduced + pr, &scratch.reduced[k * pr]);
        std::copy(full, full + pf, &scratch.full[k * pf]);
        scratch.y[k++] = values[s];
        sum += values[s];
    }
    const double mean = k > 0 ? sum / k : 0.0;
    for (uint32_t i = 0; i < k; ++i) scratch.y[i] -= mean;
    nested_least_squares(scratch.reduced.data(), scratch.full.data(), k, pr, pf, scratch.y.data(),
                         scratch.workspace, fit);
}

// Both residual sums of squares of one probe on its usable values, and their
// difference computed on its own: from the shared projections, updated for
// the base rows the probe leaves out, or from its own small least-squares
// fit when the update cannot be used. A
// value or design entry that is not a number makes the whole summary NaN,
// so that any region holding it is not tested. Leaves the probe's group
// sums and counts in scratch.sum and scratch.count. values: the probe's row
// of the beta matrix, one value per sample (NaN = excluded).
Fit_summary fast_fit(const double* values, const Sample_layout& layout, const Fast_design& design,
                     Fast_scratch& scratch) {
    const uint32_t* base_row = design.base_row.data();
    const uint32_t* group_of = layout.group_of.data();
    double* y = scratch.y.data();
    double* group_sum = scratch.sum.data();
    double* group_count = scratch.count.data();
    uint32_t* removed = scratch.removed.data();
    Fit_summary fit;
    bool finite = true;
    size_t left_out = 0;
    // One pass gathers the fit's values; rows left out hold 0 for the sums.
    for (uint32_t s = 0; s < layout.samples; ++s) {
        const uint32_t row = base_row[s];
        if (!is_usable(values[s]) || group_of[s] >= layout.groups) {
            if (row != no_row) {
                if (left_out < Nested_projector::max_removed) removed[left_out] = row;
                ++left_out;
                y[row] = 0.0;
            }
            continue;
        }
        const double value = values[s];
        finite = finite && std::isfinite(value) && row != no_row;
        if (row != no_row) y[row] = value;
        ++fit.n;
    }
    // Group sums in sample order within each group, as the reference takes
    // them; each group's running sum stays in a register.
    for (uint32_t g = 0; g < layout.groups; ++g) {
        double group_total = 0.0, group_values = 0.0;
        for (uint32_t s : layout.members[g]) {
            const bool counted = is_usable(values[s]);
            group_total += counted ? values[s] : 0.0;
            group_values += counted ? 1.0 : 0.0;
        }
        group_sum[g] = group_total;
        group_count[g] = group_values;
    }
    if (!finite) {
        fit.rss_reduced = fit.rss_full = fit.gain = fit.yy = std::numeric_limits<double>::quiet_NaN();
        return fit;
    }
    // Every usable value sits in a base row here, and left-out rows hold 0.
    fit.yy = sum_of_products(y, y, design.base_rows);
    const double sum = sum_of_products(y, design.ones.data(), design.base_rows);
    if (fit.n == 0) return fit;
    // With no more values than full columns the fit is exact: only a fresh
    // factorisation leaves exactly nothing rather than rounding noise.
    if (left_out <= Nested_projector::max_removed && fit.n > layout.full_columns()) {
        // The values centred on their mean, so that rounding follows their
        // spread rather than their level (the reduced design has an
        // intercept). Left-out rows take the mean of the others, 0 once
        // centred: close to their fitted values, which keeps the update's
        // cancellation small.
        const double mean = sum / fit.n;
        for (uint32_t row = 0; row < design.base_rows; ++row) y[row] -= mean;
        for (size_t k = 0; k < left_out; ++k) y[removed[k]] = 0.0;
        if (design.nested.rss(y, removed, left_out, scratch.projection.data(), fit.rss_reduced, fit.rss_full,
                              &fit.gain)) {
            return fit;
        }
    }
    own_fits(layout, design, values, fit, scratch);
    return fit;
}

// The F test from a probe's fit, with ancova's message and no-test rules.
double fast_pvalue(const Sample_layout& layout, const Fit_summary& fit) {
    const uint32_t pr = layout.reduced_columns(), pf = layout.full_columns();
    if (fit.n <= pf) {
        warn_too_few_observations();
        return untested;
    }
    return f_test_gain_pvalue(fit.gain, fit.rss_full, fit.yy, pf > pr ? pf - pr : 0, fit.n - pf);
}

// Rows [first, first + count) of the beta matrix held in memory: the whole
// matrix, or one block of rows loaded from the spill file.
struct Row_block {
    const double* data;  // row first
    size_t tda;          // values from one row to the next
    uint32_t first;
    uint32_t count;
};

// Fast worker: the block's rows first + t, first + t + step, … Writes only
// those probes' pvalue, range, group_mean rows and fit entries.
void probe_analysis_fast_thread(const Row_block* block, uint32_t t, uint32_t step,
                                const Data_description* study, const Sample_layout* layout,
                                const Fast_design* design, Probe_result* result) {
    if (step == 0) return;
    Fast_scratch scratch(*layout, *design);
    for (uint32_t k = t; k < block->count; k += step) {
        const uint32_t i = block->first + k;
        const Fit_summary fit = fast_fit(block->data + k * block->tda, *layout, *design, scratch);
        if (!result->fit.empty()) result->fit[i] = fit;
        store_pvalue(*study, i, fast_pvalue(*layout, fit), *result);
        finish_group_means(*layout, *study, i, scratch.sum, scratch.count, *result);
    }
}

// One block of rows loaded from the spill file, with its read buffer.
struct Loaded_block {
    gsl_matrix* values = nullptr;
    std::vector<double> scratch;
    std::string error;  // why the load failed

    Loaded_block() = default;
    Loaded_block(const Loaded_block&) = delete;
    Loaded_block& operator=(const Loaded_block&) = delete;
    ~Loaded_block() {
        if (values != nullptr) gsl_matrix_free(values);
    }
};

// Loads block b of the spill file into loaded and normalises it (when the
// stage set a reference) with thread_num workers, writing the normalised
// block back when write_back is set. False, with the reason in
// loaded.error, when the spill file cannot be read or written.
bool load_block(const Data_matrix& matrix, uint32_t b, uint32_t thread_num, bool write_back, Loaded_block& loaded) {
    const Matrix_spill& spill = *matrix.spill;
    const uint32_t rows = spill_block_size(spill, b);
    if (loaded.values == nullptr || loaded.values->size1 != rows) {
        if (loaded.values != nullptr) gsl_matrix_free(loaded.values);
        loaded.values = gsl_matrix_alloc(rows, spill.sample_num);
        advise_huge_pages(loaded.values->data, loaded.values->size1 * loaded.values->tda * sizeof(double));
    }
    if (!spill_read_block(spill, b, loaded.values, loaded.scratch, loaded.error)) return false;
    if (matrix.reference == nullptr) return true;
    normalize_block(loaded.values, matrix.quantiles, matrix.reference, thread_num);
    return !write_back || spill_write_block(spill, b, loaded.values, loaded.scratch, loaded.error);
}

// The fast path over a spilled matrix, block by block: while the workers fit
// the rows of one block, one more thread loads and normalises the next, so
// reading the spill file overlaps with the fits. False, after a message,
// when the spill file cannot be read (the blocks before it are analysed).
bool analyse_spilled_blocks(const Data_matrix& matrix, uint32_t workers, const Data_description& study,
                            const Sample_layout& layout, const Fast_design& design, bool write_back,
                            Probe_result& result) {
    const Matrix_spill& spill = *matrix.spill;
    const uint32_t blocks = spill_block_count(spill);
    Loaded_block buffers[2];
    bool loaded = blocks == 0 || load_block(matrix, 0, workers, write_back, buffers[0]);
    for (uint32_t b = 0; loaded && b < blocks; ++b) {
        Loaded_block& current = buffers[b % 2];
        Loaded_block& next = buffers[(b + 1) % 2];
        boost::thread loader;
        bool next_loaded = true;
        if (b + 1 < blocks)
            loader = boost::thread([&] { next_loaded = load_block(matrix, b + 1, 1, write_back, next); });
        const Row_block rows_in_memory{current.values->data, current.values->tda, spill_block_first(spill, b),
                                       spill_block_size(spill, b)};
        fan_out(workers, [&](uint32_t t, uint32_t n) {
            probe_analysis_fast_thread(&rows_in_memory, t, n, &study, &layout, &design, &result);
        });
        if (loader.joinable()) loader.join();
        loaded = next_loaded;
    }
    if (!loaded) {
        const std::string& error = buffers[0].error.empty() ? buffers[1].error : buffers[0].error;
        message("Error: %s\n", error.c_str());
    }
    return loaded;
}

void allocate_result(uint32_t probes, uint32_t groups, Probe_result& result) {
    probe_result_free(result);
    result.pvalue = gsl_vector_alloc(probes);
    result.fdr = gsl_vector_alloc(probes);
    result.range = gsl_vector_alloc(probes);
    result.group_mean = gsl_matrix_alloc(probes, groups);
    gsl_vector_set_all(result.pvalue, untested);
    gsl_vector_set_all(result.fdr, 1.0);
    gsl_vector_set_all(result.range, -1.0);
    gsl_matrix_set_all(result.group_mean, no_mean);
}

}  // namespace

struct Fast_row_test::Design {
    Fast_design fast;
};

struct Fast_row_test::Worker::Buffers {
    Fast_scratch scratch;
};

Fast_row_test::Fast_row_test(const Data_matrix& matrix, const Sample_layout& layout)
    : layout_(layout), design_(new Design{fast_design(matrix, layout)}) {}

Fast_row_test::~Fast_row_test() = default;

Fast_row_test::Worker::Worker(const Fast_row_test& test)
    : test_(test), buffers_(new Buffers{Fast_scratch(test.layout_, test.design_->fast)}) {}

Fast_row_test::Worker::~Worker() = default;

double Fast_row_test::Worker::pvalue(const double* values) {
    const Fit_summary fit = fast_fit(values, test_.layout_, test_.design_->fast, buffers_->scratch);
    return fast_pvalue(test_.layout_, fit);
}

void probe_result_free(Probe_result& result) {
    if (result.pvalue != nullptr) gsl_vector_free(result.pvalue);
    if (result.fdr != nullptr) gsl_vector_free(result.fdr);
    if (result.range != nullptr) gsl_vector_free(result.range);
    if (result.group_mean != nullptr) gsl_matrix_free(result.group_mean);
    result.pvalue = result.fdr = result.range = nullptr;
    result.group_mean = nullptr;
    result.fit.clear();
}

bool probe_analysis(Data_matrix* matrix, uint32_t thread_num, const Data_description& study,
                    Probe_result& result, Fit_path path, Probe_stage_keeps keeps) {
    progress("     Probe analysis");
    const uint32_t groups = study.group_index.size();
    if (!has_matrix(matrix) || probe_count(*matrix) == 0 || groups == 0) {
        message("Error: no probe or no sample group to analyse\n");
        probe_result_free(result);
        return false;
    }
    const uint32_t probes = probe_count(*matrix);
    allocate_result(probes, groups, result);
    progress("       Calculate pvalue");
    const uint32_t workers = std::max<uint32_t>(thread_num, 1);
    bool ok = true;
    if (!consistent_shapes(*matrix)) {
        message("Error: the beta, covariable and continuous matrices disagree on the sample count\n");
        ok = false;
    } else if (path == Fit_path::fast || matrix->logit == nullptr) {
        const Sample_layout layout = sample_layout(*matrix, study);
        const Fast_design design = fast_design(*matrix, layout);
        result.fit.clear();
        if (keeps.fits) {
            result.fit.reserve(probes);
            advise_huge_pages(result.fit.data(), probes * sizeof(Fit_summary));
            result.fit.assign(probes, Fit_summary());
        }
        if (matrix->logit == nullptr) {
            ok = analyse_spilled_blocks(*matrix, workers, study, layout, design, keeps.normalised_values, result);
            if (ok && keeps.normalised_values && matrix->reference != nullptr) {
                gsl_vector_free(matrix->reference);
                matrix->reference = nullptr;  // the spill file now holds normalised values
            }
        } else {
            const Row_block all{matrix->logit->data, matrix->logit->tda, 0, probes};
            fan_out(workers, [&](uint32_t t, uint32_t n) {
                probe_analysis_fast_thread(&all, t, n, &study, &layout, &design, &result);
            });
        }
    } else {
        fan_out(workers, [&](uint32_t t, uint32_t n) {
            probe_analysis_thread(matrix, t, n, &study, &result);
        });
    }
    if (!ok) return false;
    progress("       Calculate fdr and range");
    fdr_range(matrix, result, study);
    return true;
}

void probe_analysis_thread(Data_matrix* matrix, uint32_t first, uint32_t step,
                           const Data_description* study, Probe_result* result) {
    if (!has_matrix(matrix) || matrix->logit == nullptr || !consistent_shapes(*matrix) || step == 0) return;
    const Sample_layout layout = sample_layout(*matrix, *study);
    std::vector<double> sum(layout.groups), count(layout.groups);
    for (uint32_t i = first; i < probe_count(*matrix); i += step) {
        store_pvalue(*study, i, dense_pvalue(*matrix, layout, gsl_matrix_const_ptr(matrix->logit, i, 0)),
                     *result);
        group_means(*matrix, layout, *study, i, sum, count, *result);
    }
}

namespace {

// Sort key of one ranked p-value: its value and its row; the identifier is
// read from the registry only when two values are equal. 16-byte keys keep
// the step fast at 850,000 probes; the order is that of Order, then row.
struct Rank_key {
    double value;
    uint32_t row;
};

// min(1, max over j <= r of m * p(j) / j) for values in ranked order.
std::vector<double> running_max(const std::vector<Rank_key>& keys) {
    const double m = static_cast<double>(keys.size());
    std::vector<double> fdr(keys.size());
    double running = 0.0;
    for (size_t r = 0; r < keys.size(); ++r) {
        running = std::max(running, m * keys[r].value / static_cast<double>(r + 1));
        fdr[r] = std::min(running, 1.0);
    }
    return fdr;
}

// Ranks keys by value, then by the name that name_of gives for their row,
// then by row.
template <class Name_of>
void sort_ranks(std::vector<Rank_key>& keys, Name_of name_of) {
    std::sort(keys.begin(), keys.end(), [&name_of](const Rank_key& a, const Rank_key& b) {
        if (a.value < b.value) return true;
        if (a.value > b.value) return false;
        const int names = name_of(a.row).compare(name_of(b.row));
        if (names != 0) return names < 0;
        return a.row < b.row;
    });
}

}  // namespace

void fdr_range(Data_matrix* /*matrix*/, Probe_result& result, const Data_description& study) {
    if (result.pvalue == nullptr || result.fdr == nullptr) return;
    gsl_vector_set_all(result.fdr, 1.0);
    const uint32_t probes = static_cast<uint32_t>(std::min(result.pvalue->size, result.fdr->size));
    std::vector<Rank_key> keys;
    keys.reserve(probes);
    for (uint32_t i = 0; i < probes; ++i) {
        const double p = gsl_vector_get(result.pvalue, i);
        if (p < tested_limit) keys.push_back({p, i});
        // A row without an identifier ranks with the empty name, after the
        // registry's own message for the failed look-up.
        if (p < tested_limit && study.probe_index.name(i).empty()) study.probe_index.get(i);
    }
    sort_ranks(keys, [&study](uint32_t row) { return study.probe_index.name(row); });
    const std::vector<double> fdr = running_max(keys);
    // Written back by row: a repeated identifier must not send two probes'
    // rates to one row.
    for (size_t k = 0; k < keys.size(); ++k) gsl_vector_set(result.fdr, keys[k].row, fdr[k]);
}

std::vector<double> running_max_fdr(std::vector<Ranked_pvalue>& entries) {
    // Keys carry the entry's place in `row` while sorting; equal (value, name)
    // pairs, possible with repeated identifiers, keep the entries' row order.
    std::vector<Rank_key> keys(entries.size());
    for (size_t k = 0; k < entries.size(); ++k) keys[k] = {entries[k].order.value, static_cast<uint32_t>(k)};
    std::stable_sort(keys.begin(), keys.end(), [&entries](const Rank_key& a, const Rank_key& b) {
        if (a.value < b.value) return true;
        if (a.value > b.value) return false;
        const int names = entries[a.row].order.name.compare(entries[b.row].order.name);
        if (names != 0) return names < 0;
        return entries[a.row].row < entries[b.row].row;
    });
    std::vector<Ranked_pvalue> sorted;
    sorted.reserve(entries.size());
    for (const Rank_key& key : keys) sorted.push_back(std::move(entries[key.row]));
    entries.swap(sorted);
    return running_max(keys);
}
