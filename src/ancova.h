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

// The no-test result of every test (any stored p-value above 1 means the
// same), and the bound below which a stored p-value enters an FDR step.
constexpr double untested = 2.0;
constexpr double tested_limit = 1.000001;

// Which implementation a stage uses: the dense per-item fit (the reference,
// kept for tests and benchmarks) or the fast path that shares factorisations.
enum class Fit_path { reference, fast };

// The sums a region test needs from one probe's own fits on its usable values.
struct Fit_summary {
    double rss_reduced = 0.0;  // residual sum of squares of the reduced fit
    double rss_full = 0.0;     // residual sum of squares of the full fit
    double gain = 0.0;         // rss_reduced - rss_full, computed on its own (no cancellation)
    double yy = 0.0;           // sum of squared observations (scale for rounding)
    uint32_t n = 0;            // usable observations
};

// Reference test: fits both designs with gsl_multifit_linear and returns the
// upper-tail F p-value. Prints "Error: non consistent observation number in
// linear regression!" (row counts differ from y) or "Warning: too few
// observations in linear regression." (n <= columns of full) and returns 2.0.
double ancova(const gsl_vector* observations, const gsl_matrix* reduced, const gsl_matrix* full);

// ancova's "too few observations" warning, for the callers that find too few
// observations before they build a design.
void warn_too_few_observations();

// Final step: F = ((rss_r - rss_f)/d1) / (rss_f/d2) and its upper-tail
// probability, from two residual sums of separate fits. Sums below rounding
// level relative to yy count as 0, and so does a difference within the
// rounding of rss_r; d1 == 0, d2 == 0 or 0/0 give 2.0; a negative F counts as 0.
double f_test_pvalue(double rss_reduced, double rss_full, double yy, uint32_t d1, uint32_t d2);

// The same test from the gain rss_r - rss_f computed directly (as the squared
// projection of y onto what the full design adds beyond the reduced one).
// Only its own rounding level relative to yy counts as 0, so a full model
// that adds very little still gives its small F rather than p = 1.
double f_test_gain_pvalue(double gain, double rss_full, double yy, uint32_t d1, uint32_t d2);

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

// Both residual sums and the gain of a reduced design (n x pr) and a full
// design (n x pf) that spans it, row-major, from one pivoted factorisation of
// [reduced | full]: the gain is the squared projection of y onto what the full
// design adds, so it carries no cancellation. Exact minima for rank-deficient
// designs as well. Centre y first when the reduced design has an intercept.
void nested_least_squares(const double* reduced, const double* full, size_t n, size_t pr, size_t pf,
                          const double* y, Lsq_workspace& ws, Fit_summary& fit);

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

// Orthonormal bases of a reduced design and of a full design that spans it,
// from one pivoted factorisation of [reduced | full] with the reduced columns
// taken first: the leading reduced_rank() columns of Q span the reduced
// design, all rank() columns the full one. One projection of y then gives
// both residual sums: rss_full = |y - Q Q'y|^2 and rss_reduced = rss_full +
// the squares of the coefficients beyond the reduced ones.
//
// Leaving out a few rows S needs no new factorisation: the fit on the other
// rows equals the fit on all rows with one indicator column per left-out row,
// so rss_without_S = |e|^2 - e_S' (I - Q_S Q_S')^-1 e_S, with e the residual on
// all rows and Q_S the rows of Q at S (for each of the two bases).
class Nested_projector {
public:
    // Most left-out rows handled by the update; more make rss() return false.
    static constexpr size_t max_removed = 8;
    // Smallest ratio of an updated gain to the rounding scale of its update
    // (a few eps of it): keeps the update's error within about 1e-11 of the
    // gain; a smaller gain is left to a fresh fit.
    static constexpr double min_update_gain = 1e-4;
    // Smallest Cholesky pivot of I - Q_S Q_S' accepted (a leverage of 0.999):
    // below it the rows left out carry (nearly) all of some column, the
    // design on the other rows loses rank, and only a fresh fit is exact.
    static constexpr double min_pivot = 1e-3;

    Nested_projector() = default;
    // reduced: n x pr, full: n x pf, both row-major; full must span reduced.
    Nested_projector(const double* reduced, const double* full, size_t n, size_t pr, size_t pf);
    size_t rows() const { return n_; }
    size_t rank() const { return rank_; }
    size_t reduced_rank() const { return reduced_rank_; }
    // Residual sums of both fits of y (n values) on every row except the m
    // rows listed in removed (distinct, ascending not needed). The values of
    // y in removed rows do not change the result, but values near the fit
    // (such as the mean of the others) keep the update's rounding small.
    // scratch must hold scratch_size() doubles. gain, when given, receives
    // rss_reduced - rss_full without cancellation (for y centred on its
    // kept values when the reduced design has an intercept). False, with
    // nothing written, when m > max_removed, the update is ill-conditioned, it
    // would take off more than half of a sum (the rest would carry too few
    // digits), or the gain asked for is below min_update_gain.
    bool rss(const double* y, const uint32_t* removed, size_t m, double* scratch, double& rss_reduced,
             double& rss_full, double* gain = nullptr) const;
    size_t scratch_size() const { return rank_ + n_ + 2 * max_removed * (max_removed + 1); }

private:
    // What leaving out the rows S takes off each residual sum, from the
    // coefficients c and the residual e on all rows.
    bool removed_rows_drop(const uint32_t* removed, size_t m, const double* c, const double* e, double* scratch,
                           double& drop_full, double& drop_reduced) const;

    size_t n_ = 0;
    size_t rank_ = 0;
    size_t reduced_rank_ = 0;
    std::vector<double> q_;  // n x rank, by column: q_[k * n + i]
};

// a'b over n values, with four running sums so that the additions do not
// wait on each other (the inner loop of every projection).
double sum_of_products(const double* a, const double* b, size_t n);

#endif
