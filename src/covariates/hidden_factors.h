// Hidden factors: principal components of the residuals of the probe
// model. With E the samples x probes matrix of residuals, the components
// are the eigenvectors of the samples x samples cross-product E E'. Since
// every residual is r = M y, M = I - Q Q' the projection off the model's
// columns (Q an orthonormal basis of them), E E' = M (sum y y') M: the
// probes are streamed once into S = sum y y', whatever the model, and M is
// applied to the small matrix at the end. Each y is centred first; the
// model always spans the intercept, so this changes no residual but keeps
// S free of the large common mean.
#ifndef CIMBREL_COVARIATES_HIDDEN_FACTORS_H
#define CIMBREL_COVARIATES_HIDDEN_FACTORS_H

#include <cstddef>
#include <cstdint>
#include <vector>

// S = sum of y y' over the rows added, y centred, n x n. Rows are gathered
// into chunks of a fixed number of rows and each chunk is added tile by
// tile, the tiles dealt out to the workers; a tile's sums run in the same
// order whichever worker takes it, so S does not depend on the worker count
// nor on how the rows were delivered.
class Cross_product {
public:
    Cross_product(size_t samples, uint32_t workers);
    // Adds one row of n values (all finite).
    void add(const double* values);
    // Adds the pending rows; S is then complete (upper and lower halves).
    const std::vector<double>& finish();
    uint64_t rows() const { return rows_; }

private:
    void flush();
    size_t n_;
    uint32_t workers_;
    std::vector<double> chunk_;  // pending rows x n, row-major
    size_t pending_ = 0;
    uint64_t rows_ = 0;
    std::vector<double> sum_;    // n x n, upper half while adding
};

// Rows of a chunk and edge of a tile of S.
constexpr size_t chunk_rows = 512;
constexpr size_t tile_size = 128;

// c (m x m, row-major) += a' b for a (k x m, row stride lda) restricted to
// the tile rows [i0, i0 + ni) and columns [j0, j0 + nj).
void add_tile(const double* a, size_t k, size_t lda, size_t i0, size_t ni, size_t j0, size_t nj, double* c,
              size_t ldc);

// An orthonormal basis (n x rank, column after column) of the columns of
// x (n x p, row-major), by Gram-Schmidt applied twice; columns that add
// nothing new (relative norm below 1e-10) are dropped.
std::vector<double> orthonormal_basis(const std::vector<double>& x, size_t n, size_t p, size_t& rank);

// M S M for M = I - Q Q', Q n x rank by column.
std::vector<double> project_off(const std::vector<double>& s, const std::vector<double>& q, size_t n,
                                size_t rank);

struct Components {
    std::vector<double> scores;     // samples x count, row-major
    std::vector<double> fractions;  // of the residual variance, per component
};

// The leading count components of the residual cross-product c (n x n):
// scores u_k sqrt(lambda_k), signed so that the largest absolute score is
// positive; fractions lambda_k / trace(c). False when the decomposition
// fails.
bool principal_components(const std::vector<double>& c, size_t n, size_t count, Components& components);

#endif
