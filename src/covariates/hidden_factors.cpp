#include "hidden_factors.h"

#include <algorithm>
#include <cmath>

#include <gsl/gsl_eigen.h>
#include <gsl/gsl_matrix.h>
#include <gsl/gsl_vector.h>

#include "time_out.h"

#ifdef CIMBREL_OPENBLAS
extern "C" {
void dgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k, const double* alpha,
            const double* a, const int* lda, const double* b, const int* ldb, const double* beta, double* c,
            const int* ldc);
void openblas_set_num_threads(int threads);
}
#endif

void add_tile(const double* a, size_t k, size_t lda, size_t i0, size_t ni, size_t j0, size_t nj, double* c,
              size_t ldc) {
#ifdef CIMBREL_OPENBLAS
    // Row-major c_IJ += a_I' a_J is, read column-major, c' += a_J a_I'.
    const int m = static_cast<int>(nj), n = static_cast<int>(ni), depth = static_cast<int>(k);
    const int ld = static_cast<int>(lda), ldc_int = static_cast<int>(ldc);
    const double one = 1.0;
    dgemm_("N", "T", &m, &n, &depth, &one, a + j0, &ld, a + i0, &ld, &one, c + i0 * ldc + j0, &ldc_int);
#else
    for (size_t r = 0; r < k; ++r) {
        const double* row = a + r * lda;
        for (size_t i = 0; i < ni; ++i) {
            const double ai = row[i0 + i];
            double* out = c + (i0 + i) * ldc + j0;
            const double* right = row + j0;
            for (size_t j = 0; j < nj; ++j) out[j] += ai * right[j];
        }
    }
#endif
}

Cross_product::Cross_product(size_t samples, uint32_t workers)
    : n_(samples), workers_(std::max<uint32_t>(workers, 1)), chunk_(chunk_rows * samples), sum_(samples * samples, 0.0) {
#ifdef CIMBREL_OPENBLAS
    // The workers share the tiles out themselves; each multiplication runs
    // on its caller's thread.
    openblas_set_num_threads(1);
#endif
}

void Cross_product::add(const double* values) {
    double mean = 0.0;
    for (size_t s = 0; s < n_; ++s) mean += values[s];
    mean /= static_cast<double>(n_);
    double* row = &chunk_[pending_ * n_];
    for (size_t s = 0; s < n_; ++s) row[s] = values[s] - mean;
    ++rows_;
    if (++pending_ == chunk_rows) flush();
}

void Cross_product::flush() {
    if (pending_ == 0) return;
    struct Tile {
        size_t i0, ni, j0, nj;
    };
    std::vector<Tile> tiles;
    for (size_t i0 = 0; i0 < n_; i0 += tile_size)
        for (size_t j0 = i0; j0 < n_; j0 += tile_size)
            tiles.push_back({i0, std::min(tile_size, n_ - i0), j0, std::min(tile_size, n_ - j0)});
    const uint32_t workers = static_cast<uint32_t>(std::min<size_t>(workers_, tiles.size()));
    auto work = [&](uint32_t t, uint32_t step) {
        for (size_t k = t; k < tiles.size(); k += step)
            add_tile(chunk_.data(), pending_, n_, tiles[k].i0, tiles[k].ni, tiles[k].j0, tiles[k].nj, sum_.data(), n_);
    };
    if (workers <= 1)
        work(0, 1);
    else
        fan_out(workers, work);
    pending_ = 0;
}

const std::vector<double>& Cross_product::finish() {
    flush();
    // Tiles on the diagonal were filled whole; mirror the upper tiles.
    for (size_t i = 0; i < n_; ++i)
        for (size_t j = i + 1; j < n_; ++j) {
            if (i / tile_size == j / tile_size) continue;
            sum_[j * n_ + i] = sum_[i * n_ + j];
        }
    return sum_;
}

std::vector<double> orthonormal_basis(const std::vector<double>& x, size_t n, size_t p, size_t& rank) {
    std::vector<double> q;
    rank = 0;
    std::vector<double> v(n);
    for (size_t j = 0; j < p; ++j) {
        double original = 0.0;
        for (size_t i = 0; i < n; ++i) {
            v[i] = x[i * p + j];
            original += v[i] * v[i];
        }
        for (int pass = 0; pass < 2; ++pass) {
            for (size_t k = 0; k < rank; ++k) {
                const double* column = &q[k * n];
                double dot = 0.0;
                for (size_t i = 0; i < n; ++i) dot += column[i] * v[i];
                for (size_t i = 0; i < n; ++i) v[i] -= dot * column[i];
            }
        }
        double norm = 0.0;
        for (size_t i = 0; i < n; ++i) norm += v[i] * v[i];
        if (!(norm > 1e-20 * original) || norm == 0.0) continue;
        norm = std::sqrt(norm);
        for (size_t i = 0; i < n; ++i) q.push_back(v[i] / norm);
        ++rank;
    }
    return q;
}

std::vector<double> project_off(const std::vector<double>& s, const std::vector<double>& q, size_t n,
                                size_t rank) {
    // w = S Q (n x rank), g = Q' S Q (rank x rank).
    std::vector<double> w(n * rank, 0.0), g(rank * rank, 0.0);
    for (size_t i = 0; i < n; ++i)
        for (size_t k = 0; k < rank; ++k) {
            double sum = 0.0;
            for (size_t j = 0; j < n; ++j) sum += s[i * n + j] * q[k * n + j];
            w[i * rank + k] = sum;
        }
    for (size_t a = 0; a < rank; ++a)
        for (size_t b = 0; b < rank; ++b) {
            double sum = 0.0;
            for (size_t i = 0; i < n; ++i) sum += q[a * n + i] * w[i * rank + b];
            g[a * rank + b] = sum;
        }
    // M S M = S - Q W' - W Q' + Q G Q', taken symmetric from the upper half.
    std::vector<double> c(n * n);
    std::vector<double> qg(n * rank, 0.0);  // Q G, n x rank
    for (size_t i = 0; i < n; ++i)
        for (size_t b = 0; b < rank; ++b) {
            double sum = 0.0;
            for (size_t a = 0; a < rank; ++a) sum += q[a * n + i] * g[a * rank + b];
            qg[i * rank + b] = sum;
        }
    for (size_t i = 0; i < n; ++i)
        for (size_t j = i; j < n; ++j) {
            double value = s[i * n + j];
            for (size_t k = 0; k < rank; ++k) {
                const double qi = q[k * n + i], qj = q[k * n + j];
                value += -qi * w[j * rank + k] - w[i * rank + k] * qj + qg[i * rank + k] * qj;
            }
            c[i * n + j] = c[j * n + i] = value;
        }
    return c;
}

bool principal_components(const std::vector<double>& c, size_t n, size_t count, Components& components) {
    if (count == 0 || count > n) return false;
    gsl_matrix* a = gsl_matrix_alloc(n, n);
    std::copy(c.begin(), c.end(), a->data);
    double trace = 0.0;
    for (size_t i = 0; i < n; ++i) trace += c[i * n + i];
    gsl_vector* values = gsl_vector_alloc(n);
    gsl_matrix* vectors = gsl_matrix_alloc(n, n);
    gsl_eigen_symmv_workspace* workspace = gsl_eigen_symmv_alloc(n);
    const int status = gsl_eigen_symmv(a, values, vectors, workspace);
    gsl_eigen_symmv_free(workspace);
    gsl_matrix_free(a);
    if (status == 0) gsl_eigen_symmv_sort(values, vectors, GSL_EIGEN_SORT_VAL_DESC);
    components.scores.assign(n * count, 0.0);
    components.fractions.assign(count, 0.0);
    for (size_t k = 0; status == 0 && k < count; ++k) {
        const double lambda = std::max(0.0, gsl_vector_get(values, k));
        size_t largest = 0;
        for (size_t i = 1; i < n; ++i)
            if (std::fabs(gsl_matrix_get(vectors, i, k)) > std::fabs(gsl_matrix_get(vectors, largest, k))) largest = i;
        const double sign = gsl_matrix_get(vectors, largest, k) < 0.0 ? -1.0 : 1.0;
        for (size_t i = 0; i < n; ++i)
            components.scores[i * count + k] = sign * gsl_matrix_get(vectors, i, k) * std::sqrt(lambda);
        components.fractions[k] = trace > 0.0 ? lambda / trace : 0.0;
    }
    gsl_matrix_free(vectors);
    gsl_vector_free(values);
    return status == 0;
}
