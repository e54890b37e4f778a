#include "normalize.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include <gsl/gsl_statistics_double.h>

#include "time_out.h"

namespace {

constexpr size_t level_num = quantile_level_num;
constexpr double interval_tolerance = 1e-10;
const double no_quantile = std::numeric_limits<double>::quiet_NaN();

// A pass over the row-major matrix costs about the same for one column as
// for a handful, so the quantile workers gather several columns per pass;
// all workers together hold at most this many column buffers (at least one
// each).
constexpr size_t buffered_columns = 16;

// Selection of order statistics first counts the values into equal-width
// buckets and then selects only inside the buckets that hold a wanted rank;
// below the threshold plain selection is as fast.
constexpr size_t bucket_num = 4096;
constexpr size_t bucketing_threshold = 4096;

// Levels 0.01, 0.08, …, 0.99.
gsl_vector* quantile_levels() {
    gsl_vector* levels = gsl_vector_alloc(level_num);
    for (size_t k = 0; k < level_num; ++k) gsl_vector_set(levels, k, k * 0.07 + 0.01);
    return levels;
}

// The columns t, t + step, … below count.
std::vector<size_t> worker_columns(size_t t, size_t step, size_t count) {
    std::vector<size_t> columns;
    for (size_t c = t; c < count; c += step) columns.push_back(c);
    return columns;
}

// Asks for the cache lines of row r that hold columns first … last, ahead
// of their use.
void prefetch_row(const gsl_matrix* logit, size_t r, size_t first, size_t last) {
    const double* x = logit->data + r * logit->tda;
    for (size_t c = first; c <= last; c += 8) __builtin_prefetch(x + c);
    __builtin_prefetch(x + last);
}

// Appends the usable values (not NaN) of columns[0 … count-1] to values[i],
// in row order, in one pass over the rows. The rows are far apart in memory,
// so the lines of a row some rows ahead are requested early.
void gather_usable(const gsl_matrix* logit, const size_t* columns, size_t count,
                   std::vector<std::vector<double>>& values) {
    constexpr size_t ahead = 16;
    for (size_t i = 0; i < count; ++i) values[i].clear();
    for (size_t r = 0; r < logit->size1; ++r) {
        if (r + ahead < logit->size1) prefetch_row(logit, r + ahead, columns[0], columns[count - 1]);
        const double* x = logit->data + r * logit->tda;
        for (size_t i = 0; i < count; ++i) {
            if (is_usable(x[columns[i]])) values[i].push_back(x[columns[i]]);
        }
    }
}

// Position read by gsl_stats_quantile_from_sorted_data at level f among n
// sorted values: it interpolates between ranks lhs and lhs + 1 with weight
// delta, or takes rank lhs alone when it is the last. A level outside
// [0, 1] reads an end value instead of memory beyond the values.
void quantile_position(double f, size_t n, size_t& lhs, double& delta) {
    const double index = std::min(std::max(f, 0.0), 1.0) * (n - 1);
    lhs = static_cast<size_t>(static_cast<int>(index));
    delta = index - lhs;
}

// Places the order statistics of the ranks [rank_first, rank_last) (ascending,
// absolute positions in base) where a full sort would put them: each
// nth_element splits the range for the ranks on either side of it.
void select_ranks(double* base, size_t first, size_t last, const size_t* rank_first,
                  const size_t* rank_last) {
    if (rank_first == rank_last || first >= last) return;
    const size_t* middle = rank_first + (rank_last - rank_first) / 2;
    std::nth_element(base + first, base + *middle, base + last);
    select_ranks(base, first, *middle, rank_first, middle);
    select_ranks(base, *middle + 1, last, middle + 1, rank_last);
}

// Equal-width buckets over [low, high]. The bucket number never decreases
// as the value grows, so every value of a bucket is below every value of a
// later one and a rank's value lies in the bucket whose count span holds it.
struct Buckets {
    double low;
    double scale;
    size_t of(double x) const {
        size_t b = static_cast<size_t>((x - low) * scale);
        return b < bucket_num ? b : bucket_num - 1;
    }
};

// The order statistics of ranks (ascending, unique, below n) by bucket
// counting: the values of the buckets that hold a wanted rank are moved to
// the front and selected there. False when the value range does not allow
// buckets (a single value or an overflowing range). values is reordered.
bool bucketed_statistics(std::vector<double>& values, const std::vector<size_t>& ranks,
                         std::vector<double>& out) {
    auto [low, high] = std::minmax_element(values.begin(), values.end());
    const Buckets buckets{*low, bucket_num / (*high - *low)};
    if (!std::isfinite(buckets.scale) || buckets.scale <= 0.0) return false;
    std::vector<size_t> first(bucket_num + 1, 0);
    for (double x : values) ++first[buckets.of(x) + 1];
    for (size_t b = 0; b < bucket_num; ++b) first[b + 1] += first[b];
    std::vector<size_t> rank_bucket, packed_start(bucket_num, 0);
    std::vector<char> wanted(bucket_num, 0);
    for (size_t r : ranks) {
        rank_bucket.push_back(std::upper_bound(first.begin(), first.end(), r) - first.begin() - 1);
        wanted[rank_bucket.back()] = 1;
    }
    size_t packed = 0;
    for (size_t b = 0; b < bucket_num; ++b) {
        packed_start[b] = packed;
        if (wanted[b]) packed += first[b + 1] - first[b];
    }
    size_t kept = 0;
    for (double x : values) {
        if (wanted[buckets.of(x)]) values[kept++] = x;
    }
    std::vector<size_t> packed_ranks;
    for (size_t i = 0; i < ranks.size(); ++i) {
        packed_ranks.push_back(packed_start[rank_bucket[i]] + ranks[i] - first[rank_bucket[i]]);
    }
    select_ranks(values.data(), 0, kept, packed_ranks.data(), packed_ranks.data() + packed_ranks.size());
    out.clear();
    for (size_t r : packed_ranks) out.push_back(values[r]);
    return true;
}

// The values at ranks (ascending, unique, below n) of the sorted values.
std::vector<double> order_statistics(std::vector<double>& values, const std::vector<size_t>& ranks) {
    std::vector<double> out;
    if (values.size() >= bucketing_threshold && bucketed_statistics(values, ranks, out)) return out;
    select_ranks(values.data(), 0, values.size(), ranks.data(), ranks.data() + ranks.size());
    for (size_t r : ranks) out.push_back(values[r]);
    return out;
}

// Quantiles of values (n > 0) at every level, equal to what
// gsl_stats_quantile_from_sorted_data gives on the fully sorted values, from
// the order statistics at the two ranks each level reads. values is reordered.
void column_quantiles(std::vector<double>& values, const gsl_vector* levels, double* out,
                      size_t out_stride) {
    const size_t n = values.size();
    std::vector<size_t> ranks;
    for (size_t k = 0; k < levels->size; ++k) {
        size_t lhs;
        double delta;
        quantile_position(gsl_vector_get(levels, k), n, lhs, delta);
        ranks.push_back(lhs);
        if (lhs + 1 < n) ranks.push_back(lhs + 1);
    }
    std::sort(ranks.begin(), ranks.end());
    ranks.erase(std::unique(ranks.begin(), ranks.end()), ranks.end());
    std::vector<double> at = order_statistics(values, ranks);
    auto value = [&](size_t rank) { return at[std::lower_bound(ranks.begin(), ranks.end(), rank) - ranks.begin()]; };
    for (size_t k = 0; k < levels->size; ++k) {
        size_t lhs;
        double delta;
        quantile_position(gsl_vector_get(levels, k), n, lhs, delta);
        out[k * out_stride] = lhs == n - 1 ? value(lhs) : (1 - delta) * value(lhs) + delta * value(lhs + 1);
    }
}

// One sample's piecewise linear map from its own quantiles onto the
// reference; inactive for a sample without quantiles. Interval k is open,
// from low[k] = own[k] - 1e-10 to high[k] = own[k+1] + 1e-10.
struct Interval_map {
    static constexpr size_t padded = 16;
    bool active = false;
    bool ordered = false;  // low and high never decrease, at most 15 intervals
    std::vector<double> own, target, low, high;
    std::array<double, padded> high_padded;  // high, then +infinity
};

Interval_map interval_map(const gsl_vector* reference, const gsl_vector* q) {
    Interval_map map;
    for (size_t k = 0; k < q->size; ++k) {
        map.own.push_back(gsl_vector_get(q, k));
        map.target.push_back(gsl_vector_get(reference, k));
    }
    map.active = q->size >= 2 && !std::isnan(map.own[0]) && !std::isnan(map.target[0]);
    for (size_t k = 0; k + 1 < map.own.size(); ++k) {
        map.low.push_back(map.own[k] - interval_tolerance);
        map.high.push_back(map.own[k + 1] + interval_tolerance);
    }
    map.ordered = map.high.size() < Interval_map::padded &&
                  std::is_sorted(map.low.begin(), map.low.end()) &&
                  std::is_sorted(map.high.begin(), map.high.end());
    map.high_padded.fill(std::numeric_limits<double>::infinity());
    if (map.ordered) std::copy(map.high.begin(), map.high.end(), map.high_padded.begin());
    return map;
}

// x mapped linearly from interval k onto [target[k], target[k+1]]; a
// zero-width interval maps to target[k].
double map_in_interval(const Interval_map& map, size_t k, double x) {
    const double width = map.own[k + 1] - map.own[k];
    if (width == 0.0) return map.target[k];
    return (x - map.own[k]) * (map.target[k + 1] - map.target[k]) / width + map.target[k];
}

// The first interval that holds x maps it; x outside every interval is
// returned unchanged. The intervals are searched in ascending order.
double map_value_by_search(const Interval_map& map, double x) {
    for (size_t k = 0; k < map.low.size(); ++k) {
        if (map.low[k] < x && x < map.high[k]) return map_in_interval(map, k, x);
    }
    return x;
}

// The same result without the search: with ordered bounds the intervals
// that end at or below x come first, so the first interval that can hold x
// is the one after them, and it holds x when it starts below x. Their
// number is found by a branch-free binary search over the padded bounds.
double map_value(const Interval_map& map, double x) {
    if (!map.ordered) return map_value_by_search(map, x);
    const double* high = map.high_padded.data();
    size_t k = 0;
    k += !(x < high[k + 7]) ? 8 : 0;
    k += !(x < high[k + 3]) ? 4 : 0;
    k += !(x < high[k + 1]) ? 2 : 0;
    k += !(x < high[k]) ? 1 : 0;
    if (k >= map.high.size() || !(map.low[k] < x)) return x;
    return map_in_interval(map, k, x);
}

// Maps the worker's columns row by row, rows first … P-1 then 0 … first-1:
// workers start at different rows, so they do not write the same cache
// lines at the same time.
void map_rows(gsl_matrix* logit, const std::vector<size_t>& columns, const std::vector<Interval_map>& maps,
              size_t first) {
    const size_t rows = logit->size1;
    for (size_t i = 0; i < rows; ++i) {
        const size_t r = first + i < rows ? first + i : first + i - rows;
        double* x = logit->data + r * logit->tda;
        for (size_t j = 0; j < columns.size(); ++j) {
            const size_t c = columns[j];
            if (maps[j].active && is_usable(x[c])) x[c] = map_value(maps[j], x[c]);
        }
    }
}

// Worker t of step maps the t-th of step runs of neighbouring columns of
// logit (the whole matrix, or one block of its rows) from their own
// quantiles onto the reference. Runs rather than every step-th column: two
// workers then never write the same cache line. The mapping of a value does
// not depend on who maps it.
void map_columns_thread(gsl_matrix* logit, uint32_t t, uint32_t step, const gsl_vector* reference,
                        const gsl_matrix* quantiles) {
    std::vector<size_t> columns;
    const size_t count = logit->size2;
    for (size_t c = count * t / step; c < count * (t + 1) / step; ++c) columns.push_back(c);
    std::vector<Interval_map> maps;
    gsl_vector* own = gsl_vector_alloc(reference->size);
    for (size_t c : columns) {
        gsl_matrix_get_col(own, quantiles, c);
        maps.push_back(interval_map(reference, own));
    }
    gsl_vector_free(own);
    if (!columns.empty()) map_rows(logit, columns, maps, logit->size1 * t / step);
}

// The name of sample column c for a warning; its number when unnamed.
std::string sample_name(const Data_description* study, size_t c) {
    if (study != nullptr) {
        const std::string_view name = study->sample_index.name(static_cast<uint32_t>(c));
        if (!name.empty()) return std::string(name);
    }
    return "in column " + std::to_string(c + 1);
}

void warn_unusable_samples(const gsl_matrix* quantiles, const Data_description* study) {
    for (size_t c = 0; c < quantiles->size2; ++c) {
        if (!std::isnan(gsl_matrix_get(quantiles, 0, c))) continue;
        message("Warning: sample %s has no usable beta value, not normalized\n",
                sample_name(study, c).c_str());
    }
}

}  // namespace

bool normalize(Data_matrix* matrix, uint32_t thread_num, const Data_description* study) {
    progress("     Normalizing data");
    if (matrix == nullptr || (matrix->logit == nullptr && matrix->spill == nullptr)) return true;
    const uint32_t workers = std::max<uint32_t>(thread_num, 1);
    const size_t sample_num = sample_count(*matrix);
    if (sample_num == 0) return true;
    gsl_vector* levels = quantile_levels();

    progress("       Finding quantile");
    // The reader finds the quantiles while it reads when it can; otherwise
    // they are found here from the matrix.
    if (matrix->quantiles == nullptr || matrix->quantiles->size2 != sample_num ||
        matrix->quantiles->size1 != level_num) {
        if (matrix->quantiles != nullptr) gsl_matrix_free(matrix->quantiles);
        matrix->quantiles = gsl_matrix_alloc(level_num, sample_num);
        fan_out(workers,
                [&](uint32_t t, uint32_t n) { find_quantile_thread(matrix, t, n, levels, matrix->quantiles); });
    }
    warn_unusable_samples(matrix->quantiles, study);

    gsl_vector* reference = gsl_vector_alloc(level_num);
    average_quantile(matrix->quantiles, reference);

    progress("       Correcting quantile");
    if (matrix->logit != nullptr) {
        fan_out(workers, [&](uint32_t t, uint32_t n) {
            normalize_function_thread(matrix, t, n, levels, reference, matrix->quantiles);
        });
        gsl_vector_free(reference);
    } else {
        // Spilled values are mapped block by block as the analysis loads them.
        if (matrix->reference != nullptr) gsl_vector_free(matrix->reference);
        matrix->reference = reference;
    }
    gsl_vector_free(levels);
    return true;
}

void normalize_block(gsl_matrix* block, const gsl_matrix* quantiles, const gsl_vector* reference,
                     uint32_t thread_num) {
    if (block == nullptr || quantiles == nullptr || reference == nullptr) return;
    if (quantiles->size2 != block->size2 || quantiles->size1 != reference->size) return;
    fan_out(std::max<uint32_t>(thread_num, 1), [&](uint32_t t, uint32_t n) {
        map_columns_thread(block, t, n, reference, quantiles);
    });
}

void sample_quantiles(std::vector<double>& values, double* out, size_t out_stride) {
    if (values.empty()) {
        for (size_t k = 0; k < level_num; ++k) out[k * out_stride] = no_quantile;
        return;
    }
    gsl_vector* levels = quantile_levels();
    column_quantiles(values, levels, out, out_stride);
    gsl_vector_free(levels);
}

// Worker t gathers its columns in batches (one pass over the rows per batch)
// and summarises each; a column without usable values gets NaN quantiles.
bool find_quantile_thread(Data_matrix* matrix, uint32_t t, uint32_t step,
                          const gsl_vector* levels, gsl_matrix* quantiles) {
    const size_t sample_num = matrix->logit->size2;
    if (quantiles->size2 != sample_num) {
        message("Error: sample number does not match\n");
        return false;
    }
    if (quantiles->size1 != levels->size) {
        message("Error: quantile number does not match\n");
        return false;
    }
    if (step == 0) return false;
    const std::vector<size_t> columns = worker_columns(t, step, sample_num);
    const size_t batch = std::min(std::max<size_t>(1, buffered_columns / step), columns.size());
    std::vector<std::vector<double>> values(batch);
    for (auto& column : values) column.reserve(matrix->logit->size1);
    for (size_t first = 0; first < columns.size(); first += batch) {
        const size_t count = std::min(batch, columns.size() - first);
        gather_usable(matrix->logit, &columns[first], count, values);
        for (size_t i = 0; i < count; ++i) {
            double* out = quantiles->data + columns[first + i];
            if (values[i].empty()) {
                for (size_t k = 0; k < levels->size; ++k) out[k * quantiles->tda] = no_quantile;
            } else {
                column_quantiles(values[i], levels, out, quantiles->tda);
            }
        }
    }
    return true;
}

bool average_quantile(const gsl_matrix* quantiles, gsl_vector* reference) {
    if (reference->size != quantiles->size1) {
        message("Error: quantile number does not match\n");
        return false;
    }
    std::vector<double> row;
    row.reserve(quantiles->size2);
    for (size_t k = 0; k < quantiles->size1; ++k) {
        row.clear();
        for (size_t c = 0; c < quantiles->size2; ++c) {
            double q = gsl_matrix_get(quantiles, k, c);
            if (!std::isnan(q)) row.push_back(q);
        }
        double mean = row.empty() ? no_quantile : gsl_stats_mean(row.data(), 1, row.size());
        gsl_vector_set(reference, k, mean);
    }
    return true;
}

// Worker t maps its columns in one pass over the rows (the same mapping as
// normalize_function, column by column).
bool normalize_function_thread(Data_matrix* matrix, uint32_t t, uint32_t step,
                               const gsl_vector* levels, const gsl_vector* reference,
                               const gsl_matrix* quantiles) {
    if (levels->size != reference->size || levels->size != quantiles->size1) {
        message("Error: quantile and value are not match\n");
        return false;
    }
    const size_t sample_num = matrix->logit->size2;
    if (quantiles->size2 != sample_num) {
        message("Error: sample number does not match\n");
        return false;
    }
    if (step == 0) return false;
    map_columns_thread(matrix->logit, t, step, reference, quantiles);
    return true;
}

bool normalize_function(Data_matrix* matrix, uint32_t c, const gsl_vector* levels,
                        const gsl_vector* reference, const gsl_vector* q) {
    if (reference->size != levels->size || q->size != levels->size) {
        message("Error: quantile and value does not match\n");
        return false;
    }
    const Interval_map map = interval_map(reference, q);
    if (!map.active) return true;  // a sample without quantiles keeps its values
    gsl_matrix* logit = matrix->logit;
    double* x = logit->data + c;
    for (size_t r = 0; r < logit->size1; ++r, x += logit->tda) {
        if (is_usable(*x)) *x = map_value_by_search(map, *x);
    }
    return true;
}
