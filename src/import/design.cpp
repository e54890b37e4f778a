#include "design.h"

#include <algorithm>
#include <map>
#include <set>

#include "delimited.h"

namespace {

bool find_column(const Sheet& sheet, const std::string& name, size_t& index, std::string& error) {
    if (sheet.column(name, index)) return true;
    std::string names;
    for (const std::string& column : sheet.header) names += (names.empty() ? "" : ", ") + column;
    error = at_line(sheet.file, sheet.header_line, "no column \"" + name + "\" in the header (columns: " + names + ")");
    return false;
}

// The cell of a required value; false, with error naming the sample, when it is empty.
bool required_cell(const Sheet& sheet, const Sheet_row& row, size_t sample_column, size_t column,
                   std::string& error) {
    if (!row.cells[column].empty()) return true;
    error = at_line(sheet.file, row.line, "sample \"" + row.cells[sample_column] + "\" has no value in column \"" +
                                              sheet.header[column] + "\"");
    return false;
}

// Sample names and their group or continuous value, in sheet order.
bool read_samples(const Sheet& sheet, size_t sample_column, size_t value_column, Design& design,
                  std::string& error) {
    std::map<std::string, size_t> seen;  // configuration name -> sheet line
    size_t renamed = 0;
    std::string example;
    for (const Sheet_row& row : sheet.rows) {
        const std::string& name = row.cells[sample_column];
        if (name.empty()) {
            error = at_line(sheet.file, row.line, "empty sample name in column \"" + sheet.header[sample_column] + "\"");
            return false;
        }
        if (!required_cell(sheet, row, sample_column, value_column, error)) return false;
        Design_sample sample;
        sample.sheet_name = name;
        sample.name = underscore_spaces(name);
        sample.value = design.continuous ? row.cells[value_column] : underscore_spaces(row.cells[value_column]);
        sample.line = row.line;
        double number = 0.0;
        if (design.continuous && !is_number(sample.value, number)) {
            error = at_line(sheet.file, row.line, "sample \"" + name + "\": value \"" + sample.value + "\" of column \"" +
                                                      sheet.header[value_column] + "\" is not a number");
            return false;
        }
        auto [at, fresh] = seen.emplace(sample.name, row.line);
        if (!fresh) {
            error = at_line(sheet.file, row.line, "sample \"" + sample.name + "\" appears again (first on line " +
                                                      std::to_string(at->second) + ")");
            return false;
        }
        for (const std::string* text : {&name, &row.cells[value_column]}) {
            if (!has_space(*text)) continue;  // a continuous value never has any: it is a number
            if (renamed++ == 0) example = "\"" + *text + "\" becomes \"" + underscore_spaces(*text) + "\"";
        }
        design.samples.push_back(std::move(sample));
    }
    if (renamed > 0)
        design.notes.push_back(plural(renamed, "sample or group name") + " hold white space, which the "
                               "configuration cannot: each run of it is replaced by \"_\" (" + example + ")");
    return true;
}

// Adds one covariable column: the numbers as written, or the indicators of a categorical column.
bool add_covariable(const Sheet& sheet, size_t sample_column, size_t column, Design& design, std::string& error) {
    const std::string& title = sheet.header[column];
    bool numeric = true;
    std::set<std::string> levels;
    for (const Sheet_row& row : sheet.rows) {
        if (!required_cell(sheet, row, sample_column, column, error)) return false;
        double number = 0.0;
        numeric = numeric && is_number(row.cells[column], number);
        levels.insert(row.cells[column]);
    }
    if (numeric) {
        design.covariable_names.push_back(underscore_spaces(title));
        for (size_t s = 0; s < sheet.rows.size(); ++s) design.samples[s].covariables.push_back(sheet.rows[s].cells[column]);
        return true;
    }
    std::vector<std::string> sorted(levels.begin(), levels.end());  // std::set keeps byte-wise order
    std::string names, list;
    for (size_t l = 1; l < sorted.size(); ++l) {
        design.covariable_names.push_back(underscore_spaces(title + "_" + sorted[l]));
        names += (l > 1 ? ", " : "") + design.covariable_names.back();
        for (size_t s = 0; s < sheet.rows.size(); ++s)
            design.samples[s].covariables.push_back(sheet.rows[s].cells[column] == sorted[l] ? "1" : "0");
    }
    for (const std::string& level : sorted) list += (list.empty() ? "" : ", ") + level;
    design.notes.push_back("covariable \"" + title + "\" is categorical with " + plural(sorted.size(), "level") +
                           " (" + list + "): " + plural(sorted.size() - 1, "indicator column") +
                           (names.empty() ? "" : " (" + names + ")") +
                           ", level \"" + sorted[0] + "\" is the baseline");
    return true;
}

}  // namespace

bool build_design(const Sheet& sheet, const Design_options& options, Design& design, std::string& error) {
    design = Design();
    design.continuous = !options.continuous_column.empty();
    const std::string& value_name = design.continuous ? options.continuous_column : options.group_column;
    size_t sample_column = 0, value_column = 0;
    if (!find_column(sheet, options.sample_column, sample_column, error) ||
        !find_column(sheet, value_name, value_column, error))
        return false;
    std::vector<size_t> covariable_columns(options.covariables.size());
    for (size_t c = 0; c < options.covariables.size(); ++c)
        if (!find_column(sheet, options.covariables[c], covariable_columns[c], error)) return false;
    if (sheet.rows.empty()) {
        error = sheet.file + ": the sheet lists no sample";
        return false;
    }
    if (!read_samples(sheet, sample_column, value_column, design, error)) return false;
    for (size_t column : covariable_columns)
        if (!add_covariable(sheet, sample_column, column, design, error)) return false;
    return true;
}
