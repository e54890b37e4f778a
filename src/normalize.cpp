#include "normalize.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include <gsl/gsl_statistics_double.h>

#include "time_out.h"

namespace {

constexpr size_t level_num = 15;
constexpr double interval_tolerance = 1e-10;
const double no_quantile = std::numeric_limits<double>::quiet_NaN();

// Levels 0.01, 0.08, …, 0.99.
gsl_vector* quantile_levels() {
    gsl_vector* levels = gsl_vector_alloc(level_num);
    for (size_t k = 0; k < level_num; ++k) gsl_vector_set(levels, k, k * 0.07 + 0.01);
    return levels;
}

// Copies the usable values (flag > 0) of column c into values, in row order.
void usable_column(const Data_matrix* matrix, size_t c, std::vector<double>& values) {
    const gsl_matrix* logit = matrix->logit;
    const gsl_matrix_char* valid = matrix->valid;
    const double* x = logit->data + c;
    const char* flag = valid->data + c;
    values.clear();
    for (size_t r = 0; r < logit->size1; ++r, x += logit->tda, flag += valid->tda) {
        if (*flag > 0) values.push_back(*x);
    }
}

// Interpolation of gsl_stats_quantile_from_sorted_data at level f, given the
// values at the two ranks it reads (lhs and lhs + 1, or lhs alone at the end).
void quantile_position(double f, size_t n, size_t& lhs, double& delta) {
    const double index = f * (n - 1);
    lhs = static_cast<size_t>(static_cast<int>(index));
    delta = index - lhs;
}

// Places the order statistics of the ranks [rank_first, rank_last) (ascending,
// absolute positions in base) where a full sort would put them, by recursive
// selection: each nth_element splits the range for the ranks on either side.
void select_ranks(double* base, size_t first, size_t last, const size_t* rank_first,
                  const size_t* rank_last) {
    if (rank_first == rank_last || first >= last) return;
    const size_t* middle = rank_first + (rank_last - rank_first) / 2;
    std::nth_element(base + first, base + *middle, base + last);
    select_ranks(base, first, *middle, rank_first, middle);
    select_ranks(base, *middle + 1, last, middle + 1, rank_last);
}

// Quantiles of values (n > 0) at every level, as gsl_stats_quantile_from_sorted_data
// gives them from the fully sorted values, but found by selection of the
// two order statistics each level reads. values is reordered.
void select_quantiles(std::vector<double>& values, const gsl_vector* levels, double* out,
                      size_t out_stride) {
    const size_t n = values.size();
    std::vector<size_t> ranks;
    ranks.reserve(2 * levels->size);
    for (size_t k = 0; k < levels->size; ++k) {
        size_t lhs;
        double delta;
        quantile_position(gsl_vector_get(levels, k), n, lhs, delta);
        ranks.push_back(lhs);
        if (lhs + 1 < n) ranks.push_back(lhs + 1);
    }
    std::sort(ranks.begin(), ranks.end());
    ranks.erase(std::unique(ranks.begin(), ranks.end()), ranks.end());
    select_ranks(values.data(), 0, n, ranks.data(), ranks.data() + ranks.size());
    for (size_t k = 0; k < levels->size; ++k) {
        size_t lhs;
        double delta;
        quantile_position(gsl_vector_get(levels, k), n, lhs, delta);
        double q = lhs == n - 1 ? values[lhs]
                                : (1 - delta) * values[lhs] + delta * values[lhs + 1];
        out[k * out_stride] = q;
    }
}

// The name of sample column c for a warning; its number when unnamed.
std::string sample_name(const Data_description* description, size_t c) {
    if (description != nullptr) {
        const auto& names = description->sample_index.index_to_id;
        auto found = names.find(static_cast<uint32_t>(c));
        if (found != names.end()) return found->second;
    }
    return "in column " + std::to_string(c + 1);
}

void warn_unusable_samples(const gsl_matrix* quantiles, const Data_description* description) {
    for (size_t c = 0; c < quantiles->size2; ++c) {
        if (!std::isnan(gsl_matrix_get(quantiles, 0, c))) continue;
        message("Warning: sample %s has no usable beta value, not normalized\n",
                sample_name(description, c).c_str());
    }
}

}  // namespace

bool normalize(Data_matrix* matrix, uint32_t thread_num, const Data_description* description) {
    progress("     Normalizing data");
    if (matrix == nullptr || matrix->logit == nullptr || matrix->valid == nullptr) return true;
    const uint32_t workers = std::max<uint32_t>(thread_num, 1);
    const size_t sample_num = matrix->logit->size2;
    if (sample_num == 0) return true;
    gsl_vector* levels = quantile_levels();
    gsl_matrix* quantiles = gsl_matrix_alloc(level_num, sample_num);

    progress("       Finding quantile");
    fan_out(workers, [&](uint32_t t, uint32_t n) { find_quantile_thread(matrix, t, n, levels, quantiles); });
    warn_unusable_samples(quantiles, description);

    gsl_vector* reference = gsl_vector_alloc(level_num);
    average_quantile(quantiles, reference);

    progress("       Correcting quantile");
    fan_out(workers, [&](uint32_t t, uint32_t n) {
        normalize_function_thread(matrix, t, n, levels, reference, quantiles);
    });

    gsl_vector_free(reference);
    gsl_matrix_free(quantiles);
    gsl_vector_free(levels);
    return true;
}

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
    std::vector<double> values;
    values.reserve(matrix->logit->size1);
    for (size_t c = t; c < sample_num; c += step) {
        usable_column(matrix, c, values);
        double* out = quantiles->data + c;
        if (values.empty()) {
            for (size_t k = 0; k < levels->size; ++k) out[k * quantiles->tda] = no_quantile;
        } else {
            select_quantiles(values, levels, out, quantiles->tda);
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
    gsl_vector* own = gsl_vector_alloc(levels->size);
    for (size_t c = t; c < sample_num; c += step) {
        gsl_matrix_get_col(own, quantiles, c);
        normalize_function(matrix, static_cast<uint32_t>(c), levels, reference, own);
    }
    gsl_vector_free(own);
    return true;
}

bool normalize_function(Data_matrix* matrix, uint32_t c, const gsl_vector* levels,
                        const gsl_vector* reference, const gsl_vector* q) {
    const size_t count = levels->size;
    if (reference->size != count || q->size != count) {
        message("Error: quantile and value does not match\n");
        return false;
    }
    if (count < 2 || std::isnan(gsl_vector_get(q, 0)) || std::isnan(gsl_vector_get(reference, 0))) {
        return true;  // a sample without quantiles keeps its values
    }
    std::vector<double> own(count), target(count);
    for (size_t k = 0; k < count; ++k) {
        own[k] = gsl_vector_get(q, k);
        target[k] = gsl_vector_get(reference, k);
    }
    gsl_matrix* logit = matrix->logit;
    const gsl_matrix_char* valid = matrix->valid;
    double* x = logit->data + c;
    const char* flag = valid->data + c;
    for (size_t r = 0; r < logit->size1; ++r, x += logit->tda, flag += valid->tda) {
        if (*flag < 0) continue;
        for (size_t k = 0; k + 1 < count; ++k) {
            if (own[k] - interval_tolerance < *x && *x < own[k + 1] + interval_tolerance) {
                double width = own[k + 1] - own[k];
                *x = width == 0.0 ? target[k]
                                  : (*x - own[k]) * (target[k + 1] - target[k]) / width + target[k];
                break;
            }
        }
    }
    return true;
}
