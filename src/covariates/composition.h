// Cell composition by constrained projection: a sample's betas at the
// reference probes are taken as a mixture of the purified cell types'
// profiles, and the proportions w minimise |y - X w|^2 subject to w >= 0 and
// sum(w) <= 1. The quadratic program is solved exactly by a primal
// active-set method; the small systems it meets are solved directly.
#ifndef CIMBREL_COVARIATES_COMPOSITION_H
#define CIMBREL_COVARIATES_COMPOSITION_H

#include <cstddef>
#include <string>
#include <vector>

// min 1/2 w'Hw + c'w  s.t. w >= 0, sum(w) <= 1, for H (t x t, row-major)
// symmetric positive definite. False when H is not positive definite on some
// face the method visits, or the method does not settle (neither happens for
// a positive definite H in exact arithmetic).
bool simplex_qp(const std::vector<double>& h, const std::vector<double>& c, size_t t, std::vector<double>& w);

// The proportions of one sample: x holds its n usable reference rows (n x t,
// row-major), y the n betas. H = X'X, c = -X'y. False as simplex_qp.
bool cell_proportions(const std::vector<double>& x, const std::vector<double>& y, size_t t,
                      std::vector<double>& w);

// Solves the symmetric positive definite system a z = b (m x m, row-major)
// in place by Cholesky; false when a pivot is not clearly positive
// (relative to the diagonal's scale).
bool solve_spd(std::vector<double> a, std::vector<double>& b, size_t m);

#endif
