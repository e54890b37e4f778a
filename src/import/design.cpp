#include "design.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

#include "delimited.h"
#include "line_reader.h"

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

// A marker of a missing value as spreadsheets and R write them.
bool is_missing_marker(const std::string& cell) {
    const std::string lower = lower_case(cell);
    return lower == "na" || lower == "n/a" || lower == "nan" || lower == "null" || lower == "#n/a";
}

// Text the C library reads whole as a number, finite or not ("inf", "1e400", "0x10").
bool looks_numeric(const std::string& cell) {
    char* end = nullptr;
    (void)std::strtod(cell.c_str(), &end);
    return !cell.empty() && !is_space(cell[0]) && end == cell.c_str() + cell.size();
}

// A word: a cell that is neither a number in any spelling nor a missing-value marker.
bool is_word(const std::string& cell) { return !looks_numeric(cell) && !is_missing_marker(cell); }

// The cells of a numeric covariable, copied as written; false, with error
// naming the line and sample, for a missing or non-finite value.
bool add_numeric(const Sheet& sheet, size_t sample_column, size_t column, Design& design, std::string& error) {
    for (size_t s = 0; s < sheet.rows.size(); ++s) {
        const Sheet_row& row = sheet.rows[s];
        double number = 0.0;
        if (!is_number(row.cells[column], number)) {
            error = at_line(sheet.file, row.line, "sample \"" + row.cells[sample_column] + "\": value \"" +
                                                      row.cells[column] + "\" of the numeric covariable \"" +
                                                      sheet.header[column] + "\" is missing or not a finite number");
            return false;
        }
        design.samples[s].covariables.push_back(row.cells[column]);
    }
    return true;
}

// Adds one covariable column: the numbers as written, or the indicators of a
// categorical column. A column is categorical when one of its values is a word.
bool add_covariable(const Sheet& sheet, size_t sample_column, size_t column, Design& design, std::string& error) {
    const std::string& title = sheet.header[column];
    bool numeric = true;
    std::set<std::string> levels;
    for (const Sheet_row& row : sheet.rows) {
        if (!required_cell(sheet, row, sample_column, column, error)) return false;
        numeric = numeric && !is_word(row.cells[column]);
        levels.insert(row.cells[column]);
    }
    if (numeric) {
        design.covariable_names.push_back(underscore_spaces(title));
        return add_numeric(sheet, sample_column, column, design, error);
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

// Every configuration column name once: levels that differ only in white
// space, or a level that makes another covariable's name, would give two
// columns one name.
bool unique_covariable_names(const Sheet& sheet, const std::vector<size_t>& columns, const Design& design,
                             std::string& error) {
    std::map<std::string, std::vector<std::string>> sources;  // column name -> the values that make it
    for (size_t column : columns) {
        const std::string& title = sheet.header[column];
        sources[underscore_spaces(title)].push_back("covariable \"" + title + "\"");
        std::set<std::string> levels;
        for (const Sheet_row& row : sheet.rows) levels.insert(row.cells[column]);
        for (const std::string& level : levels)
            sources[underscore_spaces(title + "_" + level)].push_back("level \"" + level + "\" of \"" + title + "\"");
    }
    for (const std::string& name : design.covariable_names) {
        const std::vector<std::string>& from = sources[name];
        if (from.size() < 2) continue;
        std::string list;
        for (size_t i = 0; i < from.size(); ++i)
            list += (i == 0 ? "" : i + 1 == from.size() ? " and " : ", ") + from[i];
        error = at_line(sheet.file, sheet.header_line, list + " all become the configuration column \"" + name +
                                                           "\"; make them differ in more than white space");
        return false;
    }
    return true;
}

// The covariable columns named by the options; false for a name that is not
// in the header or is given twice.
bool find_covariables(const Sheet& sheet, const Design_options& options, std::vector<size_t>& columns,
                      std::string& error) {
    columns.resize(options.covariables.size());
    for (size_t c = 0; c < options.covariables.size(); ++c) {
        if (!find_column(sheet, options.covariables[c], columns[c], error)) return false;
        if (std::find(columns.begin(), columns.begin() + static_cast<std::ptrdiff_t>(c), columns[c]) ==
            columns.begin() + static_cast<std::ptrdiff_t>(c))
            continue;
        error = "covariable \"" + options.covariables[c] + "\" is given twice";
        return false;
    }
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
    std::vector<size_t> covariable_columns;
    if (!find_covariables(sheet, options, covariable_columns, error)) return false;
    if (sheet.rows.empty()) {
        error = sheet.file + ": the sheet lists no sample";
        return false;
    }
    if (!read_samples(sheet, sample_column, value_column, design, error)) return false;
    for (size_t column : covariable_columns)
        if (!add_covariable(sheet, sample_column, column, design, error)) return false;
    return unique_covariable_names(sheet, covariable_columns, design, error);
}
