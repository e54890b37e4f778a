#include "estimates.h"

#include "composition.h"

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

uint32_t group_number(const Data_description& description, uint32_t sample) {
    const std::string group = description.sample_group.get_group(std::string(description.sample_index.name(sample)));
    uint32_t number = 0;
    description.group_index.find(group, number);
    return number;
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
                    const Data_description& description, Cell_estimate& estimate, std::string& error) {
    const size_t t = reference.type_count();
    estimate = Cell_estimate();
    estimate.types = t;
    estimate.proportions.assign(betas.samples * t, 0.0);
    std::vector<double> x, y, w, mean(t, 0.0);
    for (size_t s = 0; s < betas.samples; ++s) {
        sample_problem(reference, rows, betas, s, x, y);
        const std::string name(description.sample_index.name(static_cast<uint32_t>(s)));
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

size_t model_columns(const Data_matrix& matrix, const Data_description& description, size_t extra_columns) {
    const size_t k = matrix.covariable != nullptr ? matrix.covariable->size2 : 0;
    return (matrix.continuous != nullptr ? 2 : description.group_index.size()) + k + extra_columns;
}

std::vector<double> residual_design(const Data_matrix& matrix, const Data_description& description,
                                    const std::vector<double>& extra, size_t extra_columns, size_t& p) {
    const size_t n = sample_count(matrix);
    const size_t k = matrix.covariable != nullptr ? matrix.covariable->size2 : 0;
    const size_t lead = matrix.continuous != nullptr ? 2 : description.group_index.size();
    p = lead + k + extra_columns;
    std::vector<double> x(n * p, 0.0);
    for (size_t s = 0; s < n; ++s) {
        double* row = &x[s * p];
        if (matrix.continuous != nullptr) {
            row[0] = 1.0;
            row[1] = gsl_matrix_get(matrix.continuous, s, 0);
        } else {
            row[group_number(description, static_cast<uint32_t>(s))] = 1.0;
        }
        for (size_t j = 0; j < k; ++j) row[lead + j] = gsl_matrix_get(matrix.covariable, s, j);
        for (size_t j = 0; j < extra_columns; ++j) row[lead + k + j] = extra[s * extra_columns + j];
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
