#include "matrix.h"

#include <set>

#include "line_reader.h"

namespace {

// "Detection Pval" in any case, also as R and other tools spell it when they
// rename columns ("Detection.Pval", "Detection_Pval", "Detection P-value").
bool is_detection_column(std::string_view header) {
    std::string letters;
    for (char c : lower_case(header))
        if (c != ' ' && c != '.' && c != '_' && c != '-') letters += c;
    return letters.find("detectionpval") != std::string::npos;
}

}  // namespace

Matrix_reader::Matrix_reader(Line_reader& reader, std::string file, Delimiter delimiter)
    : reader_(reader), file_(std::move(file)), delimiter_(delimiter) {
    reader_.cr_line_ends(true);
}

// The next line that is not blank and not a series-matrix "!" line; false at the end.
bool Matrix_reader::next_line(std::string_view& line, std::string& error) {
    while (reader_.next(line)) {
        if (++line_ == 1) line = without_bom(line);
        if (is_blank(line) || line.front() == '!') continue;
        if (splitter_.split(line, delimiter_char_)) return true;
        error = at_line(file_, line_, splitter_.error());
        return false;
    }
    read_failed(reader_, file_, error);
    return false;
}

bool Matrix_reader::take_columns(std::string& error) {
    const std::vector<std::string_view>& fields = splitter_.fields();
    std::set<std::string_view> names;
    for (size_t i = 1; i < fields.size(); ++i) {
        std::string_view name = trim(fields[i]);
        std::string what;
        if (is_detection_column(name)) {
            interleaved_ = true;
            if (samples_.empty() || samples_.back().beta != i - 1)
                what = "column " + std::to_string(i + 1) + " (\"" + std::string(name) +
                       "\") holds detection p-values, but no sample column stands before it";
            else
                samples_.back().detection = i;
        } else if (name.empty()) {
            what = "column " + std::to_string(i + 1) + " has no sample name";
        } else if (!names.insert(name).second) {
            what = "sample \"" + std::string(name) + "\" names two columns";
        } else {
            samples_.push_back(Matrix_sample{std::string(name), i, 0});
        }
        if (what.empty()) continue;
        error = at_line(file_, line_, what);
        return false;
    }
    return true;
}

bool Matrix_reader::read_header(std::string& error) {
    std::string_view line;
    while (reader_.next(line)) {
        if (++line_ == 1) line = without_bom(line);
        if (!is_blank(line) && line.front() != '!') break;
        line = std::string_view();
    }
    if (line.empty()) {
        if (!read_failed(reader_, file_, error)) error = file_ + ": no header row";
        return false;
    }
    delimiter_char_ = delimiter_char(delimiter_, line);
    if (!splitter_.split(line, delimiter_char_)) {
        error = at_line(file_, line_, splitter_.error());
        return false;
    }
    fields_ = splitter_.fields().size();
    if (!take_columns(error)) return false;
    for (const Matrix_sample& sample : samples_) {
        if (sample.detection != 0 || !interleaved_) continue;
        error = at_line(file_, line_, "sample \"" + sample.name + "\" has no Detection Pval column after it, "
                                      "but other samples have one");
        return false;
    }
    if (samples_.empty())
        error = at_line(file_, line_, std::string("the header names no sample column (separated by ") +
                                          (delimiter_char_ == '\t' ? "tabs" : "commas") + ")");
    return !samples_.empty();
}

int Matrix_reader::next(std::string& error) {
    error.clear();
    std::string_view line;
    if (!next_line(line, error)) return error.empty() ? 0 : -1;
    const std::vector<std::string_view>& fields = splitter_.fields();
    std::string what;
    if (fields.size() != fields_)
        what = "row has " + std::to_string(fields.size()) + " fields, but the header has " + std::to_string(fields_);
    id_ = trim(fields[0]);
    if (what.empty() && id_.empty()) what = "row has no probe identifier";
    if (what.empty() && has_space(id_)) what = "probe identifier \"" + std::string(id_) + "\" holds white space";
    if (what.empty()) return 1;
    error = at_line(file_, line_, what);
    return -1;
}

Cell read_cell(std::string_view cell, double& value) {
    if (cell.empty()) return Cell::missing;
    if (cell.size() <= 3 && (cell[0] == 'n' || cell[0] == 'N')) {
        std::string lower = lower_case(cell);
        if (lower == "na" || lower == "nan") return Cell::missing;
    }
    return is_number(cell, value) ? Cell::number : Cell::bad;
}
