// Quantile normalisation: quantiles by selection against the full sort with
// GSL's interpolation, the mapping onto the mean quantiles, what must stay
// untouched, thread-count independence, and the samples that would have
// produced NaN (no usable value, zero-width quantile intervals).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <random>
#include <vector>

#include <gsl/gsl_sort_vector.h>
#include <gsl/gsl_statistics_double.h>

#include "normalize.h"
#include "test_util.h"

namespace {

// A P x N study matrix, all values usable until excluded (set to NaN).
struct Matrix {
    Data_matrix* m = new Data_matrix;
    Matrix(size_t rows, size_t cols) { m->logit = gsl_matrix_calloc(rows, cols); }
    Matrix(Matrix&& other) : m(other.m) { other.m = nullptr; }
    Matrix(const Matrix&) = delete;
    Matrix& operator=(const Matrix&) = delete;
    ~Matrix() { data_matrix_free(m); }
    void set(size_t r, size_t c, double x) { gsl_matrix_set(m->logit, r, c, x); }
    double get(size_t r, size_t c) const { return gsl_matrix_get(m->logit, r, c); }
    void exclude(size_t r, size_t c) { gsl_matrix_set(m->logit, r, c, excluded_value); }
    std::vector<double> column(size_t c, bool usable_only) const {
        std::vector<double> values;
        for (size_t r = 0; r < m->logit->size1; ++r) {
            if (!usable_only || is_usable(get(r, c))) values.push_back(get(r, c));
        }
        return values;
    }
};

gsl_vector* levels() {
    gsl_vector* v = gsl_vector_alloc(15);
    for (size_t k = 0; k < 15; ++k) gsl_vector_set(v, k, k * 0.07 + 0.01);
    return v;
}

// The reference quantiles: full sort, then GSL's interpolation.
std::vector<double> sorted_quantiles(const std::vector<double>& values) {
    gsl_vector* v = gsl_vector_alloc(values.size());
    std::copy(values.begin(), values.end(), v->data);
    gsl_sort_vector(v);
    std::vector<double> q;
    for (size_t k = 0; k < 15; ++k) q.push_back(gsl_stats_quantile_from_sorted_data(v->data, 1, v->size, k * 0.07 + 0.01));
    gsl_vector_free(v);
    return q;
}

std::string run_normalize(Matrix& matrix, uint32_t threads, const Data_description* study = nullptr) {
    return capture_stdout([&] { EXPECT_TRUE(normalize(matrix.m, threads, study)); });
}


// Sample 0 holds 0, 1, …, 100 and sample 1 holds 2r + 5 for row r; row 101
// is excluded in both with values far outside. The quantiles are q1 = 100 f
// and q2 = 2 q1 + 5, so the reference is 1.5 q1 + 2.5.
Matrix two_samples() {
    Matrix matrix(102, 2);
    for (size_t r = 0; r <= 100; ++r) {
        matrix.set(r, 0, r);
        matrix.set(r, 1, 2.0 * r + 5);
    }
    matrix.set(101, 0, 1e6);
    matrix.set(101, 1, -1e6);
    matrix.exclude(101, 0);
    matrix.exclude(101, 1);
    return matrix;
}

}  // namespace

TEST(find_quantile, selection_equals_full_sort_on_random_samples) {
    std::mt19937 rng(test_seed());
    gsl_vector* lv = levels();
    // Small samples, and samples large enough for the bucketed selection.
    const size_t sizes[] = {20, 3000, 30000};
    for (int round = 0; round < 400; ++round) {
        const size_t rows = 1 + rng() % sizes[round % 3], cols = 1 + rng() % 4;
        const int kind = rng() % 5;
        const double exclusion = (rng() % 4) * 0.2;
        Matrix matrix(rows, cols);
        std::normal_distribution<double> normal(0.0, 2.0);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (size_t r = 0; r < rows; ++r) {
            for (size_t c = 0; c < cols; ++c) {
                double x = normal(rng);
                switch (kind) {
                    case 1: x = std::round(x * 4) / 4; break;        // heavy ties
                    case 2: x = std::round(x / 3); break;            // few distinct values
                    case 3: x = x > 0 ? 1e300 * x : -1e300; break;   // range beyond double
                    case 4: x = unit(rng) < 0.6 ? -3.0 : x; break;   // one value dominates
                }
                matrix.set(r, c, x);
                if (unit(rng) < exclusion) matrix.exclude(r, c);
            }
        }
        gsl_matrix* q = gsl_matrix_alloc(15, cols);
        const uint32_t threads = 1 + rng() % 3;
        for (uint32_t t = 0; t < threads; ++t) ASSERT_TRUE(find_quantile_thread(matrix.m, t, threads, lv, q));
        for (size_t c = 0; c < cols; ++c) {
            std::vector<double> usable = matrix.column(c, true);
            if (usable.empty()) {
                EXPECT_TRUE(std::isnan(gsl_matrix_get(q, 0, c)));
                continue;
            }
            std::vector<double> expected = sorted_quantiles(usable);
            for (size_t k = 0; k < 15; ++k) {
                ASSERT_EQ(gsl_matrix_get(q, k, c), expected[k])
                    << "round " << round << " rows " << rows << " column " << c << " level " << k;
            }
        }
        gsl_matrix_free(q);
    }
    gsl_vector_free(lv);
}

TEST(normalize, two_samples_map_onto_mean_quantiles) {
    Matrix matrix = two_samples();
    std::string out = run_normalize(matrix, 1);
    EXPECT_EQ(mask_time_stamps(out),
              "[TIME]     Normalizing data\n[TIME]       Finding quantile\n[TIME]       Correcting quantile\n");
    for (size_t r = 1; r <= 99; ++r) {
        EXPECT_NEAR(matrix.get(r, 0), 1.5 * r + 2.5, 1e-9) << "row " << r;
        EXPECT_NEAR(matrix.get(r, 1), 0.75 * (2.0 * r + 5) - 1.25, 1e-9) << "row " << r;
    }
    // 8 lies on q1 at level 0.08 and 21 on q2: both become (8 + 21) / 2.
    EXPECT_NEAR(matrix.get(8, 0), 14.5, 1e-9);
    EXPECT_NEAR(matrix.get(8, 1), 14.5, 1e-9);
}

// Beyond q(0.01) and q(0.99) nothing is extrapolated; the excluded row keeps
// its values and does not shift any quantile (the mapping above holds).
TEST(normalize, tails_and_excluded_values_untouched) {
    Matrix matrix = two_samples();
    run_normalize(matrix, 2);
    EXPECT_EQ(matrix.get(0, 0), 0.0);
    EXPECT_EQ(matrix.get(100, 0), 100.0);
    EXPECT_EQ(matrix.get(0, 1), 5.0);
    EXPECT_EQ(matrix.get(100, 1), 205.0);
    EXPECT_TRUE(std::isnan(matrix.get(101, 0)));
    EXPECT_TRUE(std::isnan(matrix.get(101, 1)));
    EXPECT_NEAR(matrix.get(50, 0), 77.5, 1e-9);
}

TEST(normalize, one_three_and_surplus_workers_agree) {
    std::mt19937 rng(7);
    std::normal_distribution<double> normal(0.0, 1.5);
    std::vector<std::vector<double>> results;
    for (uint32_t threads : {1u, 3u, 10u}) {
        Matrix matrix(500, 7);
        std::mt19937 same(11);
        for (size_t r = 0; r < 500; ++r) {
            for (size_t c = 0; c < 7; ++c) {
                std::normal_distribution<double> column(c * 0.3, 1.0 + c * 0.2);
                matrix.set(r, c, column(same));
                if (same() % 9 == 0) matrix.exclude(r, c);
            }
        }
        std::vector<double> before(matrix.m->logit->data, matrix.m->logit->data + 3500);
        run_normalize(matrix, threads);
        results.emplace_back(matrix.m->logit->data, matrix.m->logit->data + 3500);
        EXPECT_NE(results.back(), before);
    }
    EXPECT_EQ(std::memcmp(results[0].data(), results[1].data(), 3500 * sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(results[0].data(), results[2].data(), 3500 * sizeof(double)), 0);
}

// The row-order workers (interval found without a search) give, bit for
// bit, what the column-by-column mapping with its ascending interval search
// gives: on sample quantiles, on values lying exactly on a quantile or on
// its 1e-10 bound, on zero-width intervals and on quantiles out of order.
TEST(normalize_function_thread, equals_column_by_column_search) {
    std::mt19937 rng(test_seed());
    gsl_vector* lv = levels();
    std::normal_distribution<double> normal(0.0, 2.0);
    for (int round = 0; round < 200; ++round) {
        const size_t rows = 1 + rng() % 400, cols = 1 + rng() % 9;
        gsl_matrix* q = gsl_matrix_alloc(15, cols);
        gsl_vector* reference = gsl_vector_alloc(15);
        for (size_t k = 0; k < 15; ++k) {
            for (size_t c = 0; c < cols; ++c) gsl_matrix_set(q, k, c, std::round(normal(rng) * 2) / 2);
            gsl_vector_set(reference, k, normal(rng));
        }
        if (round % 2 == 0) {  // sorted, as sample quantiles are
            for (size_t c = 0; c < cols; ++c) {
                gsl_vector_view column = gsl_matrix_column(q, c);
                gsl_sort_vector(&column.vector);
            }
        }
        Matrix by_rows(rows, cols), by_column(rows, cols);
        for (size_t r = 0; r < rows; ++r) {
            for (size_t c = 0; c < cols; ++c) {
                double on = gsl_matrix_get(q, rng() % 15, c);
                double offsets[] = {0.0, 1e-10, -1e-10, 2e-10, normal(rng)};
                double x = on + offsets[rng() % 5];
                by_rows.set(r, c, x);
                by_column.set(r, c, x);
                if (rng() % 7 == 0) by_rows.exclude(r, c), by_column.exclude(r, c);
            }
        }
        const uint32_t threads = 1 + rng() % 4;
        for (uint32_t t = 0; t < threads; ++t) normalize_function_thread(by_rows.m, t, threads, lv, reference, q);
        gsl_vector* own = gsl_vector_alloc(15);
        for (size_t c = 0; c < cols; ++c) {
            gsl_matrix_get_col(own, q, c);
            normalize_function(by_column.m, static_cast<uint32_t>(c), lv, reference, own);
        }
        ASSERT_EQ(std::memcmp(by_rows.m->logit->data, by_column.m->logit->data, rows * cols * sizeof(double)), 0)
            << "round " << round;
        gsl_vector_free(own);
        gsl_vector_free(reference);
        gsl_matrix_free(q);
    }
    gsl_vector_free(lv);
}

// S3 has no usable value: it stays as it is, is named in a warning and does
// not enter the reference, so S1 and S2 map exactly as without it.
TEST(normalize, sample_without_usable_value_is_left_alone) {
    Matrix two = two_samples();
    run_normalize(two, 1);
    Matrix matrix(102, 3);
    Matrix original = two_samples();
    for (size_t r = 0; r < 102; ++r) {
        for (size_t c = 0; c < 2; ++c) {
            matrix.set(r, c, original.get(r, c));
            if (r == 101) matrix.exclude(r, c);
        }
        matrix.set(r, 2, 0.5 * r);
        matrix.exclude(r, 2);
    }
    Data_description study;
    study.sample_index.add("S1", 0);
    study.sample_index.add("S2", 1);
    study.sample_index.add("S3", 2);
    std::string out = run_normalize(matrix, 2, &study);
    EXPECT_NE(out.find("Warning: sample S3 has no usable beta value, not normalized\n"), std::string::npos);
    EXPECT_EQ(out.find("S1"), std::string::npos);
    for (size_t r = 0; r < 102; ++r) {
        EXPECT_TRUE(std::isnan(matrix.get(r, 2)));
        if (r == 101) continue;  // excluded in every sample
        EXPECT_EQ(matrix.get(r, 0), two.get(r, 0));
        EXPECT_EQ(matrix.get(r, 1), two.get(r, 1));
    }
}

TEST(normalize, no_usable_value_anywhere_changes_nothing) {
    Matrix matrix(3, 2);
    for (size_t r = 0; r < 3; ++r) {
        for (size_t c = 0; c < 2; ++c) {
            matrix.set(r, c, r + 10.0 * c);
            matrix.exclude(r, c);
        }
    }
    std::string out = run_normalize(matrix, 1);
    EXPECT_NE(out.find("Warning: sample in column 1 has no usable beta value"), std::string::npos);
    EXPECT_NE(out.find("Warning: sample in column 2 has no usable beta value"), std::string::npos);
    for (size_t r = 0; r < 3; ++r) {
        for (size_t c = 0; c < 2; ++c) EXPECT_TRUE(std::isnan(matrix.get(r, c)));
    }
}

// Sample A: sixty values of -3, then 1 … 41, so its lower quantiles are all
// -3 (zero-width intervals). Sample C has a single usable value, so all its
// quantiles are equal. Both map such values to the reference's first level.
TEST(normalize, zero_width_interval_maps_to_its_reference_quantile) {
    Matrix matrix(101, 3);
    for (size_t r = 0; r < 101; ++r) {
        matrix.set(r, 0, r < 60 ? -3.0 : r - 59.0);
        matrix.set(r, 1, r);
        matrix.set(r, 2, 7.0);
        if (r > 0) matrix.exclude(r, 2);
    }
    std::vector<double> qa = sorted_quantiles(matrix.column(0, true));
    std::vector<double> qb = sorted_quantiles(matrix.column(1, true));
    std::vector<double> qc = sorted_quantiles(matrix.column(2, true));
    ASSERT_EQ(qa[0], qa[1]);
    double first[] = {qa[0], qb[0], qc[0]};
    const double reference0 = gsl_stats_mean(first, 1, 3);
    run_normalize(matrix, 2);
    for (size_t r = 0; r < 60; ++r) EXPECT_EQ(matrix.get(r, 0), reference0) << "row " << r;
    EXPECT_EQ(matrix.get(0, 2), reference0);
    for (size_t r = 0; r < 101; ++r) {
        for (size_t c = 0; c < 3; ++c) EXPECT_TRUE(std::isfinite(matrix.get(r, c)) || (c == 2 && r > 0));
    }
}

// Each step checks the sizes of its own arguments before touching a column.
TEST(normalize, size_checks_print_their_message_and_change_nothing) {
    Matrix matrix = two_samples();
    gsl_vector* lv = levels();
    gsl_vector* short_vector = gsl_vector_calloc(14);
    gsl_vector* reference = gsl_vector_calloc(15);
    gsl_matrix* wide = gsl_matrix_calloc(15, 3);
    gsl_matrix* short_rows = gsl_matrix_calloc(14, 2);
    gsl_matrix* fitting = gsl_matrix_calloc(15, 2);
    struct Case {
        const char* expected;
        std::function<bool()> call;
    } cases[] = {
        {"Error: sample number does not match\n", [&] { return find_quantile_thread(matrix.m, 0, 1, lv, wide); }},
        {"Error: quantile number does not match\n",
         [&] { return find_quantile_thread(matrix.m, 0, 1, lv, short_rows); }},
        {"Error: quantile number does not match\n", [&] { return average_quantile(fitting, short_vector); }},
        {"Error: quantile and value are not match\n",
         [&] { return normalize_function_thread(matrix.m, 0, 1, lv, short_vector, fitting); }},
        {"Error: sample number does not match\n",
         [&] { return normalize_function_thread(matrix.m, 0, 1, lv, reference, wide); }},
        {"Error: quantile and value does not match\n",
         [&] { return normalize_function(matrix.m, 0, lv, reference, short_vector); }},
    };
    for (const Case& c : cases) {
        bool ok = true;
        EXPECT_EQ(capture_stdout([&] { ok = c.call(); }), c.expected);
        EXPECT_FALSE(ok);
    }
    Matrix untouched = two_samples();
    EXPECT_EQ(std::memcmp(matrix.m->logit->data, untouched.m->logit->data, 102 * 2 * sizeof(double)), 0);
    gsl_matrix_free(fitting);
    gsl_matrix_free(short_rows);
    gsl_matrix_free(wide);
    gsl_vector_free(reference);
    gsl_vector_free(short_vector);
    gsl_vector_free(lv);
}
