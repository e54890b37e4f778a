// The one statistical test: the extra-sum-of-squares F test of a reduced
// against a full ordinary-least-squares model on the same observations.
// Results: a p-value in [0, 1], or exactly 2.0 when no test can be made.
// Degrees of freedom always come from the column counts, never the rank;
// rank-deficient designs (all-zero or collinear columns) are fitted to their
// true least-squares minimum.
#ifndef CIMBREL_ANCOVA_H
#define CIMBREL_ANCOVA_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include <gsl/gsl_matrix.h>
#include <gsl/gsl_vector.h>

// Which implementation a stage uses: the dense per-item fit (the reference,
// kept for tests and benchmarks) or the fast path that shares factorisations.
enum class Fit_path { reference, fast };

// The sums a region test needs from one probe's own fits on its usable values.
struct Fit_summary {
    double rss_reduced = 0.0;  // residual sum of squares of the reduced fit
    double rss_full = 0.0;     // residual sum of squares of the full fit
    double yy = 0.0;           // sum of squared observations (scale for rounding)
    uint32_t n = 0;            // usable observations
};

// Reference test: fits both designs with gsl_multifit_linear and returns the
// upper-tail F p-value. Prints "Error: non consistent observation number in
// linear regression!" (row counts differ from y) or "Warning: too few
// observations in linear regression." (n <= columns of full) and returns 2.0.
double ancova(const gsl_vector* observations, const gsl_matrix* reduced, const gsl_matrix* full);

// Final step shared by every path: F = ((rss_r - rss_f)/d1) / (rss_f/d2) and
// its upper-tail probability. Residual sums below rounding level relative to
// yy count as 0; d1 == 0, d2 == 0 or 0/0 give 2.0; a negative F counts as 0.
double f_test_pvalue(double rss_reduced, double rss_full, double yy, uint32_t d1, uint32_t d2);

// Scratch space for least_squares_rss, reused across calls (no allocation per
// call once it has grown to the largest design).
struct Lsq_workspace {
    std::vector<double> a;
    std::vector<double> r;
    std::vector<double> tau;
    std::vector<size_t> perm;
};

// Residual sum of squares of the least-squares fit of y (n values) on the
// columns of x (n rows x p columns, row-major, row stride p), by Householder
// QR with column pivoting; exact minimum for rank-deficient x as well.
double least_squares_rss(const double* x, size_t n, size_t p, const double* y, Lsq_workspace& ws);

// An orthonormal basis of the column space of one design, for projecting many
// response vectors that share it: rss(y) = |y - Q Q'y|^2.
class Projector {
public:
    Projector() = default;
    // x: n rows x p columns, row-major.
    Projector(const double* x, size_t n, size_t p);
    size_t rows() const { return n_; }
    size_t rank() const { return rank_; }
    // Residual sum of squares of y (n values); scratch must hold rank() values.
    double rss(const double* y, double* scratch) const;

private:
    size_t n_ = 0;
    size_t rank_ = 0;
    std::vector<double> q_;  // n x rank, row-major
};

#endif
