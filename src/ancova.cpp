#include "ancova.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <gsl/gsl_cdf.h>
#include <gsl/gsl_multifit.h>

#include "time_out.h"

namespace {

// Rank cut-off shared by both fitting routes. A column whose part outside the
// span of the columns already taken is at most 1e-10 of its own length (or a
// singular value at most 1e-10 of the largest, after the columns are scaled
// to unit length) is numerically a combination of the others. Rounding leaves
// remainders of about 1e-16 x sqrt(n) for exactly dependent columns, such as
// a duplicated covariable, so the cut sits far above that and far below any
// design worth fitting.
constexpr double rank_tolerance = 1e-10;

// Rounding level of a residual sum of squares. A computed residual vector is
// off by c x eps x |y| for a small c, so a sum of squares is uncertain by
// about noise_scale * sqrt(rss * yy) + noise_scale^2 * yy with noise_scale =
// c x eps. Anything within that of zero is zero: a constant response (or one
// the reduced model fits exactly) gives no test, and a full model that adds
// nothing gives p = 1 exactly, rather than F values made of rounding noise.
// noise_scale = 2^20 eps (2.3e-10) is generous: a constant response leaves
// below 1e-28 yy even with 10,000 samples and a covariable offset by 2e7,
// while a real methylation response never has a relative residual near 1e-10.
constexpr double noise_scale = 1048576.0 * std::numeric_limits<double>::epsilon();

bool all_finite(const double* values, size_t count, size_t stride) {
    for (size_t i = 0; i < count; ++i) {
        if (!std::isfinite(values[i * stride])) return false;
    }
    return true;
}

bool matrix_finite(const gsl_matrix* x) {
    for (size_t i = 0; i < x->size1; ++i) {
        if (!all_finite(x->data + i * x->tda, x->size2, 1)) return false;
    }
    return true;
}

double sum_of_squares(const gsl_vector* y) {
    double sum = 0.0;
    for (size_t i = 0; i < y->size; ++i) sum += gsl_vector_get(y, i) * gsl_vector_get(y, i);
    return sum;
}

// Least-squares fit of y on the columns of x by GSL's SVD fit (n > columns >
// 0 is the caller's guarantee): writes the fitted values and returns the
// residual sum of squares. The fit keeps only singular values above
// rank_tolerance: with the default cut-off at machine precision a
// near-duplicate covariable keeps a rounding-level singular value, and the
// fit then goes badly wrong. The sum is recomputed from the residual y - Xc,
// since GSL's own chi-square is not the least-squares minimum once a singular
// value has been dropped.
double svd_fit(const gsl_matrix* x, const gsl_vector* y, gsl_vector* fitted) {
    const size_t n = x->size1, p = x->size2;
    gsl_multifit_linear_workspace* work = gsl_multifit_linear_alloc(n, p);
    gsl_vector* coefficients = gsl_vector_alloc(p);
    gsl_matrix* covariance = gsl_matrix_alloc(p, p);
    double chisq = 0.0;
    size_t rank = 0;
    gsl_multifit_linear_tsvd(x, y, rank_tolerance, coefficients, covariance, &chisq, &rank, work);
    double rss = 0.0;
    for (size_t i = 0; i < n; ++i) {
        double value = 0.0;
        for (size_t j = 0; j < p; ++j) value += gsl_matrix_get(x, i, j) * gsl_vector_get(coefficients, j);
        gsl_vector_set(fitted, i, value);
        const double residual = gsl_vector_get(y, i) - value;
        rss += residual * residual;
    }
    gsl_vector_free(coefficients);
    gsl_matrix_free(covariance);
    gsl_multifit_linear_free(work);
    return rss;
}

// Fit of a design that may have no column at all (fitted values 0).
double design_fit(const gsl_matrix* x, const gsl_vector* y, gsl_vector* fitted) {
    if (x->size2 > 0) return svd_fit(x, y, fitted);
    gsl_vector_set_zero(fitted);
    return sum_of_squares(y);
}

// A column whose entries are all the same nonzero number: the design fits
// any constant, so the observations may be centred without changing a fit.
bool has_constant_column(const gsl_matrix* x) {
    for (size_t j = 0; j < x->size2; ++j) {
        const double first = gsl_matrix_get(x, 0, j);
        bool constant = first != 0.0;
        for (size_t i = 1; i < x->size1 && constant; ++i) constant = gsl_matrix_get(x, i, j) == first;
        if (constant) return true;
    }
    return false;
}

// Applies the reflector H = I - beta v v' (v nonzero in rows k..n-1) to c.
void reflect(const double* v, double beta, size_t k, size_t n, double* c) {
    double s = 0.0;
    for (size_t i = k; i < n; ++i) s += v[i] * c[i];
    s *= beta;
    for (size_t i = k; i < n; ++i) c[i] -= s * v[i];
}

// Column of a (column-major, n rows) among k..end-1 with the largest part
// below row k relative to its original length: the pivot order of the
// column-scaled design, so the rank decision does not depend on the units of
// a covariable. end when every remaining column is numerically dependent.
// norms[j] receives that part's squared length.
size_t choose_pivot(const double* a, size_t n, size_t end, size_t k, double* norms, const double* original) {
    size_t best = end;
    double best_ratio = rank_tolerance * rank_tolerance;
    for (size_t j = k; j < end; ++j) {
        double sum = 0.0;
        for (size_t i = k; i < n; ++i) sum += a[j * n + i] * a[j * n + i];
        norms[j] = sum;
        if (original[j] > 0.0 && sum > best_ratio * original[j]) {
            best = j;
            best_ratio = sum / original[j];
        }
    }
    return best;
}

// Householder QR with column pivoting of the column-major n x p matrix a, in
// place. On return the first `rank` columns hold the reflectors v_k (rows
// k..n-1), beta[k] their factors and perm the column order; b, when given,
// is overwritten by Q'b. norms needs 2p entries. Pivots come from the
// columns before `block` until those are used up or dependent (their count
// goes to block_rank, when given), and from all columns after that.
size_t pivoted_qr(double* a, size_t n, size_t p, double* b, double* beta, double* norms, size_t* perm,
                  size_t block, size_t* block_rank = nullptr) {
    double* original = norms + p;
    for (size_t j = 0; j < p; ++j) {
        perm[j] = j;
        original[j] = 0.0;
        for (size_t i = 0; i < n; ++i) original[j] += a[j * n + i] * a[j * n + i];
    }
    size_t rank = 0, end = std::min(block, p);
    if (block_rank != nullptr) *block_rank = 0;
    for (size_t k = 0; k < std::min(n, p); ++k) {
        size_t best = choose_pivot(a, n, end, k, norms, original);
        if (best == end && end < p) {
            end = p;
            best = choose_pivot(a, n, end, k, norms, original);
        }
        if (best == end) break;
        if (block_rank != nullptr && end < p) *block_rank = k + 1;
        if (best != k) {
            std::swap_ranges(a + k * n, a + (k + 1) * n, a + best * n);
            std::swap(norms[k], norms[best]);
            std::swap(original[k], original[best]);
            std::swap(perm[k], perm[best]);
        }
        // v = x - alpha e_k with alpha = -sign(x_k) |x|, so that H x = alpha e_k
        // and |v|^2 = 2 (|x|^2 + |x| |x_k|) suffers no cancellation.
        double* v = a + k * n;
        const double length = std::sqrt(norms[k]);
        const double lead = v[k];
        v[k] = lead > 0.0 ? lead + length : lead - length;
        beta[k] = 1.0 / (norms[k] + length * std::fabs(lead));
        for (size_t j = k + 1; j < p; ++j) reflect(v, beta[k], k, n, a + j * n);
        if (b != nullptr) reflect(v, beta[k], k, n, b);
        rank = k + 1;
    }
    if (block_rank != nullptr && block >= p) *block_rank = rank;
    return rank;
}

// The first `rank` columns of Q = H_0 H_1 ... H_{rank-1} from the reflectors
// left in a by pivoted_qr, as an n x rank row-major matrix: Q e_j is built by
// applying the reflectors from the last one on.
std::vector<double> explicit_q(const std::vector<double>& a, const std::vector<double>& beta, size_t n,
                               size_t rank) {
    std::vector<double> q(n * rank, 0.0), column(n);
    for (size_t j = 0; j < rank; ++j) {
        std::fill(column.begin(), column.end(), 0.0);
        column[j] = 1.0;
        for (size_t k = rank; k-- > 0;) reflect(a.data() + k * n, beta[k], k, n, column.data());
        for (size_t i = 0; i < n; ++i) q[i * rank + j] = column[i];
    }
    return q;
}

// Cholesky factor of the symmetric m x m matrix s (row-major, lower triangle
// read) in place, and then z = L^-1 z; returns |z|^2 = z' S^-1 z. False when
// a pivot falls below min_pivot (S is near singular).
bool cholesky_quadratic(double* s, size_t m, double* z, double min_pivot, double& quadratic) {
    for (size_t j = 0; j < m; ++j) {
        double pivot = s[j * m + j];
        for (size_t k = 0; k < j; ++k) pivot -= s[j * m + k] * s[j * m + k];
        if (!(pivot >= min_pivot)) return false;
        const double root = std::sqrt(pivot);
        s[j * m + j] = root;
        for (size_t i = j + 1; i < m; ++i) {
            double value = s[i * m + j];
            for (size_t k = 0; k < j; ++k) value -= s[i * m + k] * s[j * m + k];
            s[i * m + j] = value / root;
        }
    }
    quadratic = 0.0;
    for (size_t i = 0; i < m; ++i) {
        double value = z[i];
        for (size_t k = 0; k < i; ++k) value -= s[i * m + k] * z[k];
        z[i] = value / s[i * m + i];
        quadratic += z[i] * z[i];
    }
    return true;
}

// Copies the row-major n x p design into column-major storage.
void to_column_major(const double* x, size_t n, size_t p, double* a) {
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j < p; ++j) a[j * n + i] = x[i * p + j];
    }
}

// F and its upper-tail probability from the gain and the full residual sum,
// both already cut to 0 at their rounding levels.
double f_test_of_gain(double gain, double rss_full, uint32_t d1, uint32_t d2) {
    if (rss_full == 0.0) return gain > 0.0 ? 0.0 : untested;  // exact full fit, or 0/0
    if (gain == 0.0) return 1.0;
    const double f = (gain / static_cast<double>(d1)) / (rss_full / static_cast<double>(d2));
    const double p = gsl_cdf_fdist_Q(f, static_cast<double>(d1), static_cast<double>(d2));
    // The incomplete beta function gives up (NaN) for degrees of freedom near
    // a million; such a test is reported as not made rather than as a number.
    return p >= 0.0 && p <= 1.0 ? p : untested;
}

}  // namespace

double f_test_pvalue(double rss_reduced, double rss_full, double yy, uint32_t d1, uint32_t d2) {
    if (d1 == 0 || d2 == 0) return untested;
    if (!std::isfinite(rss_reduced) || !std::isfinite(rss_full) || !std::isfinite(yy)) return untested;
    const double floor_level = noise_scale * noise_scale * std::max(yy, 0.0);
    if (rss_reduced <= floor_level) rss_reduced = 0.0;
    if (rss_full <= floor_level) rss_full = 0.0;
    double gain = rss_reduced - rss_full;
    if (gain <= noise_scale * std::sqrt(rss_reduced * std::max(yy, 0.0)) + floor_level) gain = 0.0;
    return f_test_of_gain(gain, rss_full, d1, d2);
}

double f_test_gain_pvalue(double gain, double rss_full, double yy, uint32_t d1, uint32_t d2) {
    if (d1 == 0 || d2 == 0) return untested;
    if (!std::isfinite(gain) || !std::isfinite(rss_full) || !std::isfinite(yy)) return untested;
    const double floor_level = noise_scale * noise_scale * std::max(yy, 0.0);
    if (rss_full <= floor_level) rss_full = 0.0;
    if (gain <= floor_level) gain = 0.0;
    return f_test_of_gain(gain, rss_full, d1, d2);
}

void warn_too_few_observations() { message("Warning: too few observations in linear regression.\n"); }

double ancova(const gsl_vector* observations, const gsl_matrix* reduced, const gsl_matrix* full) {
    if (observations == nullptr || reduced == nullptr || full == nullptr ||
        reduced->size1 != observations->size || full->size1 != observations->size) {
        message("Error: non consistent observation number in linear regression!\n");
        return untested;
    }
    const size_t n = observations->size;
    if (n <= full->size2) {
        warn_too_few_observations();
        return untested;
    }
    // Nothing to test (a single group gives d1 = 0), or no numbers to fit
    // (a beta of exactly 0 or 1 has an infinite logit).
    if (full->size2 <= reduced->size2) return untested;
    if (!all_finite(observations->data, n, observations->stride) || !matrix_finite(reduced) ||
        !matrix_finite(full)) {
        return untested;
    }
    const size_t d1 = full->size2 - reduced->size2;
    const size_t d2 = n - full->size2;
    if (d1 > UINT32_MAX || d2 > UINT32_MAX) return untested;
    const double yy = sum_of_squares(observations);
    // With an intercept in the reduced design both fits are those of the
    // centred values, whose rounding is that of the spread, not of the level.
    gsl_vector* y = gsl_vector_alloc(n);
    gsl_vector_memcpy(y, observations);
    if (has_constant_column(reduced)) {
        double mean = 0.0;
        for (size_t i = 0; i < n; ++i) mean += gsl_vector_get(y, i);
        gsl_vector_add_constant(y, -mean / static_cast<double>(n));
    }
    // The gain is the squared distance between the two fitted vectors (the
    // part of y that the full design adds beyond the reduced one), not the
    // difference of the residual sums, which cancels when the fits are close.
    gsl_vector* fitted_reduced = gsl_vector_alloc(n);
    gsl_vector* fitted_full = gsl_vector_alloc(n);
    design_fit(reduced, y, fitted_reduced);
    const double rss_full = design_fit(full, y, fitted_full);
    double gain = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double step = gsl_vector_get(fitted_full, i) - gsl_vector_get(fitted_reduced, i);
        gain += step * step;
    }
    gsl_vector_free(fitted_full);
    gsl_vector_free(fitted_reduced);
    gsl_vector_free(y);
    return f_test_gain_pvalue(gain, rss_full, yy, static_cast<uint32_t>(d1), static_cast<uint32_t>(d2));
}

double least_squares_rss(const double* x, size_t n, size_t p, const double* y, Lsq_workspace& ws) {
    if (n == 0) return 0.0;
    if (ws.a.size() < n * p) ws.a.resize(n * p);
    if (ws.r.size() < n) ws.r.resize(n);
    if (ws.tau.size() < 3 * p) ws.tau.resize(3 * p);
    if (ws.perm.size() < p) ws.perm.resize(p);
    to_column_major(x, n, p, ws.a.data());
    std::copy(y, y + n, ws.r.begin());
    const size_t rank =
        pivoted_qr(ws.a.data(), n, p, ws.r.data(), ws.tau.data(), ws.tau.data() + p, ws.perm.data(), p);
    double rss = 0.0;
    for (size_t i = rank; i < n; ++i) rss += ws.r[i] * ws.r[i];
    return rss;
}

void nested_least_squares(const double* reduced, const double* full, size_t n, size_t pr, size_t pf,
                          const double* y, Lsq_workspace& ws, Fit_summary& fit) {
    fit.rss_reduced = fit.rss_full = fit.gain = 0.0;
    if (n == 0) return;
    const size_t p = pr + pf;
    if (ws.a.size() < n * p) ws.a.resize(n * p);
    if (ws.r.size() < n) ws.r.resize(n);
    if (ws.tau.size() < 3 * p) ws.tau.resize(3 * p);
    if (ws.perm.size() < p) ws.perm.resize(p);
    to_column_major(reduced, n, pr, ws.a.data());
    to_column_major(full, n, pf, ws.a.data() + n * pr);
    std::copy(y, y + n, ws.r.begin());
    size_t kept = 0;
    const size_t rank = pivoted_qr(ws.a.data(), n, p, ws.r.data(), ws.tau.data(), ws.tau.data() + p,
                                   ws.perm.data(), pr, &kept);
    // Q'y: the leading `kept` entries belong to the reduced design, the next
    // ones to what the full design adds, the rest to the residual.
    for (size_t k = kept; k < rank; ++k) fit.gain += ws.r[k] * ws.r[k];
    for (size_t i = rank; i < n; ++i) fit.rss_full += ws.r[i] * ws.r[i];
    fit.rss_reduced = fit.rss_full + fit.gain;
}

Projector::Projector(const double* x, size_t n, size_t p) : n_(n) {
    if (n == 0) return;
    std::vector<double> a(n * p), beta(p), norms(2 * p);
    std::vector<size_t> perm(p);
    to_column_major(x, n, p, a.data());
    rank_ = pivoted_qr(a.data(), n, p, nullptr, beta.data(), norms.data(), perm.data(), p);
    q_ = explicit_q(a, beta, n, rank_);
}

double Projector::rss(const double* y, double* scratch) const {
    std::fill(scratch, scratch + rank_, 0.0);
    for (size_t i = 0; i < n_; ++i) {
        const double* q = q_.data() + i * rank_;
        for (size_t k = 0; k < rank_; ++k) scratch[k] += q[k] * y[i];
    }
    double rss = 0.0;
    for (size_t i = 0; i < n_; ++i) {
        const double* q = q_.data() + i * rank_;
        double residual = y[i];
        for (size_t k = 0; k < rank_; ++k) residual -= q[k] * scratch[k];
        rss += residual * residual;
    }
    return rss;
}

Nested_projector::Nested_projector(const double* reduced, const double* full, size_t n, size_t pr, size_t pf)
    : n_(n) {
    if (n == 0) return;
    const size_t p = pr + pf;
    std::vector<double> a(n * p), beta(p), norms(2 * p);
    std::vector<size_t> perm(p);
    to_column_major(reduced, n, pr, a.data());
    to_column_major(full, n, pf, a.data() + n * pr);
    rank_ = pivoted_qr(a.data(), n, p, nullptr, beta.data(), norms.data(), perm.data(), pr, &reduced_rank_);
    // Stored by column: each probe's projections run down whole columns.
    const std::vector<double> q = explicit_q(a, beta, n, rank_);
    q_.resize(n * rank_);
    for (size_t i = 0; i < n; ++i) {
        for (size_t k = 0; k < rank_; ++k) q_[k * n + i] = q[i * rank_ + k];
    }
}

bool Nested_projector::rss(const double* y, const uint32_t* removed, size_t m, double* scratch,
                           double& rss_reduced, double& rss_full, double* gain) const {
    if (m > max_removed || m > n_) return false;
    const size_t n = n_, rank = rank_, kept = reduced_rank_;
    double* c = scratch;
    double* e = c + rank;
    for (size_t k = 0; k < rank; ++k) c[k] = sum_of_products(q_.data() + k * n, y, n);
    // The full residual computed explicitly, not as |y|^2 - |c|^2, which
    // would cancel for a well-fitted probe.
    std::copy(y, y + n, e);
    for (size_t k = 0; k < rank; ++k) {
        const double* q = q_.data() + k * n;
        const double ck = c[k];
        for (size_t i = 0; i < n; ++i) e[i] -= ck * q[i];
    }
    double full = sum_of_products(e, e, n);
    double extra = 0.0;
    for (size_t k = kept; k < rank; ++k) extra += c[k] * c[k];
    double reduced = full + extra;
    if (m > 0) {
        double drop_full = 0.0, drop_reduced = 0.0;
        if (!removed_rows_drop(removed, m, c, e, e + n, drop_full, drop_reduced)) return false;
        // A difference that cancels most of the sum loses digits: leave such
        // a probe (few values left, or a wild fill value) to a fresh fit.
        if (drop_full > 0.5 * full || drop_reduced > 0.5 * reduced) return false;
        // The updated gain is a difference: the drops come from residuals
        // accurate to a few eps of |y|, the sums to a few eps of themselves.
        // When the gain is not well above that rounding, a fresh fit
        // computes it directly instead.
        double yy = full;
        for (size_t k = 0; k < rank; ++k) yy += c[k] * c[k];
        const double rounding = 2.0 * std::sqrt((drop_full + drop_reduced) * yy) + extra + drop_reduced + drop_full;
        extra = (extra - drop_reduced) + drop_full;
        full = std::max(full - drop_full, 0.0);
        reduced = std::max(reduced - drop_reduced, 0.0);
        if (gain != nullptr && !(extra >= min_update_gain * rounding)) return false;
    }
    rss_full = full;
    rss_reduced = reduced;
    if (gain != nullptr) *gain = std::max(extra, 0.0);
    return true;
}

bool Nested_projector::removed_rows_drop(const uint32_t* removed, size_t m, const double* c, const double* e,
                                         double* scratch, double& drop_full, double& drop_reduced) const {
    const size_t n = n_, rank = rank_, kept = reduced_rank_;
    double* s_full = scratch;
    double* s_reduced = s_full + max_removed * max_removed;
    double* e_full = s_reduced + max_removed * max_removed;
    double* e_reduced = e_full + max_removed;
    // Residuals of both fits at the left-out rows, and I - Q_S Q_S' for both bases.
    for (size_t a = 0; a < m; ++a) {
        const size_t ra = removed[a];
        double fitted_extra = 0.0;
        for (size_t k = kept; k < rank; ++k) fitted_extra += q_[k * n + ra] * c[k];
        e_full[a] = e[ra];
        e_reduced[a] = e[ra] + fitted_extra;
        for (size_t b = 0; b <= a; ++b) {
            const size_t rb = removed[b];
            double dot_reduced = 0.0, dot_extra = 0.0;
            for (size_t k = 0; k < kept; ++k) dot_reduced += q_[k * n + ra] * q_[k * n + rb];
            for (size_t k = kept; k < rank; ++k) dot_extra += q_[k * n + ra] * q_[k * n + rb];
            const double identity = a == b ? 1.0 : 0.0;
            s_reduced[a * m + b] = identity - dot_reduced;
            s_full[a * m + b] = identity - dot_reduced - dot_extra;
        }
    }
    return cholesky_quadratic(s_full, m, e_full, min_pivot, drop_full) &&
           cholesky_quadratic(s_reduced, m, e_reduced, min_pivot, drop_reduced);
}

double sum_of_products(const double* a, const double* b, size_t n) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        s0 += a[i] * b[i];
        s1 += a[i + 1] * b[i + 1];
        s2 += a[i + 2] * b[i + 2];
        s3 += a[i + 3] * b[i + 3];
    }
    for (; i < n; ++i) s0 += a[i] * b[i];
    return (s0 + s1) + (s2 + s3);
}
