#include "estimates.h"

#include <algorithm>

#include "composition.h"
#include "sample_design.h"

namespace {

// The reference profiles and betas of one sample at its usable rows.
void sample_problem(const Cell_reference& reference, const Reference_rows& rows, const Reference_betas& betas,
                    size_t sample, std::vector<double>& x, std::vector<double>& y) {
    const size_t t = reference.type_count();
    x.clear();
    y.clear();
    for (size_t k = 0; k < betas.rows; ++k) {
        const double beta = betas.betas[k * betas.samples + sample];
        if (!is_usable(beta)) continue;
        y.push_back(beta);
        const double* profile = &reference.betas[rows.reference_row[k] * t];
        x.insert(x.end(), profile, profile + t);
    }
}

}  // namespace

std::vector<double> Cell_estimate::model_columns() const {
    std::vector<double> columns;
    const size_t samples = types == 0 ? 0 : proportions.size() / types;
    for (size_t s = 0; s < samples; ++s)
        for (size_t k = 0; k < types; ++k)
            if (k != baseline) columns.push_back(proportions[s * types + k]);
    return columns;
}

bool estimate_cells(const Cell_reference& reference, const Reference_rows& rows, const Reference_betas& betas,
                    const Data_description& study, Cell_estimate& estimate, std::string& error) {
    const size_t t = reference.type_count();
    estimate = Cell_estimate();
    estimate.types = t;
    estimate.proportions.assign(betas.samples * t, 0.0);
    std::vector<double> x, y, w, mean(t, 0.0);
    for (size_t s = 0; s < betas.samples; ++s) {
        sample_problem(reference, rows, betas, s, x, y);
        const std::string name(study.sample_index.name(static_cast<uint32_t>(s)));
        if (y.size() < 3 * t) {
            error = "sample " + name + " has " + std::to_string(y.size()) + " usable reference probes, fewer than " +
                    std::to_string(3 * t) + " (3 per cell type)";
            return false;
        }
        if (!cell_proportions(x, y, t, w)) {
            error = "sample " + name + ": the reference profiles are linearly dependent at its usable probes";
            return false;
        }
        for (size_t k = 0; k < t; ++k) {
            estimate.proportions[s * t + k] = w[k];
            mean[k] += w[k];
        }
    }
    for (size_t k = 1; k < t; ++k)
        if (mean[k] > mean[estimate.baseline]) estimate.baseline = k;
    return true;
}

size_t model_columns(const Data_matrix& matrix, const Data_description& study, size_t extra_columns) {
    return sample_layout(matrix, study).full_columns() + extra_columns;
}

std::vector<double> residual_design(const Data_matrix& matrix, const Data_description& study,
                                    const std::vector<double>& extra, size_t extra_columns, size_t& p) {
    const Sample_layout layout = sample_layout(matrix, study);
    const size_t full = layout.full_columns();
    p = full + extra_columns;
    std::vector<double> x(layout.samples * p, 0.0), reduced(layout.reduced_columns());
    for (uint32_t s = 0; s < layout.samples; ++s) {
        double* row = &x[s * p];
        if (layout.group_of[s] < layout.groups) design_row(matrix, layout, s, reduced.data(), row);
        std::copy(extra.begin() + s * extra_columns, extra.begin() + (s + 1) * extra_columns, row + full);
    }
    return x;
}

bool residual_components(const std::vector<double>& s, size_t n, const std::vector<double>& design, size_t p,
                         size_t count, Components& components, std::string& error) {
    size_t rank = 0;
    const std::vector<double> q = orthonormal_basis(design, n, p, rank);
    const std::vector<double> c = project_off(s, q, n, rank);
    if (!principal_components(c, n, count, components)) {
        error = "the eigen-decomposition of the residual cross-product failed";
        return false;
    }
    return true;
}
