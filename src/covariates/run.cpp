#include "run.h"

#include <cstdio>
#include <memory>

#include "cell_reference.h"
#include "estimates.h"
#include "line_reader.h"
#include "outputs.h"
#include "parameter.h"
#include "read_file.h"
#include "staged_output.h"
#include "study_pass.h"

namespace {

struct Matrix_deleter {
    void operator()(Data_matrix* matrix) const { data_matrix_free(matrix); }
};
using Matrix_handle = std::unique_ptr<Data_matrix, Matrix_deleter>;

// The reference file --cells names ("blood": the bundled one); "" after error.
std::string reference_path(const Covariates_options& options, std::string& error) {
    std::string path = options.cells;
    if (options.cells == "blood") {
        path = bundled_reference_path(blood_reference);
        if (path.empty()) {
            error = std::string("the bundled blood reference ") + blood_reference +
                    " is not installed next to this program";
        }
    }
    return path;
}

// The whole configuration file as text (plain or gzip).
bool read_text(const std::string& path, std::string& text, std::string& error) {
    Line_reader reader;
    if (!reader.open(path)) {
        error = "cannot open " + path;
        return false;
    }
    std::string_view line;
    while (reader.next(line)) text += line;
    if (!reader.failed()) return true;
    error = path + ": " + reader.error();
    return false;
}

std::vector<std::string> sample_names(const Data_description& study, size_t samples) {
    std::vector<std::string> names;
    for (size_t s = 0; s < samples; ++s) names.emplace_back(study.sample_index.name(static_cast<uint32_t>(s)));
    return names;
}

std::string percent(double fraction) {
    char text[32];
    snprintf(text, sizeof text, "%.3g%%", 100.0 * fraction);
    return text;
}

// Everything estimated, ready to be written.
struct Estimates {
    Cell_reference reference;
    Cell_estimate cells;
    Components components;
};

bool check_component_count(const Covariates_options& options, const Data_matrix& matrix,
                           const Data_description& study, size_t cell_columns, std::string& error) {
    if (options.components == 0) return true;
    const size_t samples = sample_count(matrix);
    const size_t p = model_columns(matrix, study, cell_columns);
    if (samples >= p + 2 && options.components <= samples - p - 1) return true;
    error = "--pcs " + std::to_string(options.components) + " asks for more components than the " +
            std::to_string(samples) + " samples leave beside the model's " + std::to_string(p) +
            " columns (at most samples - " + std::to_string(p) + " - 1 = " +
            (samples >= p + 2 ? std::to_string(samples - p - 1) : std::string("0")) + ")";
    return false;
}

bool estimate(const Covariates_options& options, Data_matrix& matrix, const Data_description& study,
              Estimates& out, Covariates_report& report) {
    const bool cells = !options.cells.empty();
    const size_t types = out.reference.type_count();
    if (!check_component_count(options, matrix, study, cells ? types - 1 : 0, report.error)) return false;
    Reference_rows rows;
    if (cells) {
        rows = find_reference_rows(out.reference, study);
        report.notes.push_back(std::to_string(rows.study_row.size()) + " of the reference's " +
                               std::to_string(out.reference.probes.size()) + " probes are in the study");
        if (rows.study_row.size() < 3 * types) {
            report.error = "the reference has " + std::to_string(rows.study_row.size()) +
                           " probes in the study, fewer than " + std::to_string(3 * types) + " (3 per cell type)";
            return false;
        }
    }
    const size_t samples = sample_count(matrix);
    std::unique_ptr<Cross_product> product;
    if (options.components > 0) product.reset(new Cross_product(samples, options.threads));
    Reference_betas betas;
    if (!stream_study(matrix, study, options.threads, rows, betas, product.get(), report.error)) return false;
    if (cells) {
        if (!estimate_cells(out.reference, rows, betas, study, out.cells, report.error)) return false;
        report.notes.push_back("baseline cell type " + out.reference.cell_types[out.cells.baseline] +
                               " (largest mean proportion) is left out of the configuration");
    }
    if (options.components == 0) return true;
    if (product->rows() == 0) {
        report.error = "no probe is usable in every sample";
        return false;
    }
    size_t p = 0;
    const std::vector<double> extra = cells ? out.cells.model_columns() : std::vector<double>();
    const std::vector<double> design = residual_design(matrix, study, extra, cells ? types - 1 : 0, p);
    if (!residual_components(product->finish(), samples, design, p, options.components, out.components,
                             report.error))
        return false;
    std::string fractions;
    for (size_t k = 0; k < options.components; ++k)
        fractions += (k ? ", PC" : "PC") + std::to_string(k + 1) + " " + percent(out.components.fractions[k]);
    report.notes.push_back(std::to_string(product->rows()) + " probes usable in every sample; residual variance: " +
                           fractions);
    return true;
}

New_columns configuration_columns(const Covariates_options& options, const Estimates& estimates, size_t samples) {
    New_columns columns;
    const size_t types = estimates.reference.type_count(), count = options.components;
    for (size_t k = 0; k < types; ++k)
        if (k != estimates.cells.baseline) columns.names.push_back(estimates.reference.cell_types[k]);
    for (size_t k = 1; k <= count; ++k) columns.names.push_back("PC" + std::to_string(k));
    const std::vector<double> cells = estimates.cells.model_columns();
    const size_t cell_columns = types == 0 ? 0 : types - 1;
    for (size_t s = 0; s < samples; ++s) {
        columns.values.insert(columns.values.end(), cells.begin() + s * cell_columns,
                              cells.begin() + (s + 1) * cell_columns);
        const double* scores = estimates.components.scores.data() + s * count;
        columns.values.insert(columns.values.end(), scores, scores + count);
    }
    return columns;
}

std::string cimbrel_command(const Covariates_options& options, size_t added) {
    std::string command = "cimbrel -c " + options.out + " --covariable " + std::to_string(options.covariables + added);
    if (options.continuous) command += " --continuous";
    return command;
}

// The outputs, staged from the start (so that an output that cannot be
// written, or that names an input, stops the run before the study is read)
// and put in place together at the end.
class Outputs {
public:
    bool open(const Covariates_options& options, const std::vector<std::string>& inputs, std::string& error) {
        paths_ = {options.out};
        if (!options.table.empty()) paths_.push_back(options.table);
        for (const std::string& path : paths_) {
            std::string temporary;
            if (!check_not_input(path, inputs, error) || !files_.add(path, temporary, error)) return false;
            temporaries_.push_back(temporary);
        }
        return true;
    }
    // Writes texts[k] to output k and puts them all in place.
    bool commit(const std::vector<std::string>& texts, std::string& error) {
        for (size_t k = 0; k < paths_.size(); ++k) {
            FILE* out = fopen(temporaries_[k].c_str(), "wb");
            bool ok = out != nullptr && fwrite(texts[k].data(), 1, texts[k].size(), out) == texts[k].size();
            if (out != nullptr) ok = fclose(out) == 0 && ok;
            if (!ok) {
                error = paths_[k] + ": cannot write the file";
                return false;
            }
        }
        return files_.commit(error);
    }

private:
    Staged_files files_;
    std::vector<std::string> paths_, temporaries_;
};

}  // namespace

bool run_covariates(const Covariates_options& options, Covariates_report& report) {
    Estimates estimates;
    std::vector<std::string> inputs = {options.configuration};
    if (!options.cells.empty()) {
        inputs.push_back(reference_path(options, report.error));
        if (inputs.back().empty() || !read_cell_reference(inputs.back(), estimates.reference, report.error))
            return false;
    }
    std::string original;
    if (!read_text(options.configuration, original, report.error)) return false;
    for (const std::string& file : data_files(original)) inputs.push_back(file);
    Outputs outputs;
    if (!outputs.open(options, inputs, report.error)) return false;
    Parameter parameters;
    parameters.configure_file = options.configuration;
    parameters.covariable_num = options.covariables;
    parameters.continuous_on = options.continuous;
    parameters.thread_num = options.threads;
    parameters.normalize_on = options.components > 0;
    Data_description study;
    Matrix_handle matrix(read_data(options.configuration, study, options.covariables, options.threads, parameters));
    if (matrix == nullptr) {
        report.error = "the study of " + options.configuration + " cannot be read";
        return false;
    }
    if (!estimate(options, *matrix, study, estimates, report)) return false;
    const size_t samples = sample_count(*matrix);
    const New_columns columns = configuration_columns(options, estimates, samples);
    std::string text, why;
    if (!configuration_with_columns(original, options.covariables, options.continuous, columns, text, why)) {
        report.error = options.configuration + ": " + why;
        return false;
    }
    std::vector<std::string> texts = {text};
    if (!options.table.empty())
        texts.push_back(estimate_table(sample_names(study, samples), estimates.reference.cell_types,
                                       estimates.cells.proportions, options.components, estimates.components.scores,
                                       estimates.components.fractions));
    if (!outputs.commit(texts, report.error)) return false;
    report.command = cimbrel_command(options, columns.names.size());
    return true;
}
