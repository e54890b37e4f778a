#include "matrix.h"

#include <cstring>
#include <map>
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

enum class Column_kind { plain, beta, detection, methylated, unmethylated, ignored };

// Column name endings of the vendor software's exports, lower case.
const std::pair<const char*, Column_kind> vendor_suffixes[] = {
    {"avg_beta", Column_kind::beta},          {"methylated signal", Column_kind::methylated},
    {"unmethylated signal", Column_kind::unmethylated},
    {"signal_b", Column_kind::methylated},    {"signal_a", Column_kind::unmethylated},
    {"avg_nbeads", Column_kind::ignored},     {"nbeads_a", Column_kind::ignored},
    {"nbeads_b", Column_kind::ignored},       {"bead_stderr", Column_kind::ignored},
    {"bead_stderr_a", Column_kind::ignored},  {"bead_stderr_b", Column_kind::ignored},
    {"signal cy3", Column_kind::ignored},     {"signal cy5", Column_kind::ignored},
    {"signal_cy3", Column_kind::ignored},     {"signal_cy5", Column_kind::ignored},
    {"signal_grn", Column_kind::ignored},     {"signal_red", Column_kind::ignored},
    {"avg_signal", Column_kind::ignored},     {"intensity", Column_kind::ignored},
};

bool is_separator(char c) { return c == '.' || c == '_' || c == ' ' || c == '\t'; }

std::string_view without_separators(std::string_view text) {
    while (!text.empty() && is_separator(text.back())) text.remove_suffix(1);
    return text;
}

// The kind of a header cell and the sample name before its suffix.
Column_kind classify(std::string_view name, std::string_view& sample) {
    std::string lower = lower_case(name);
    sample = name;
    if (is_detection_column(name)) {
        size_t at = lower.find("detection");
        sample = without_separators(name.substr(0, at == std::string::npos ? 0 : at));
        return Column_kind::detection;
    }
    for (const auto& [suffix, kind] : vendor_suffixes) {
        size_t length = strlen(suffix);
        if (lower.size() < length || lower.compare(lower.size() - length, length, suffix) != 0) continue;
        size_t before = lower.size() - length;
        if (before > 0 && !is_separator(lower[before - 1])) continue;
        sample = without_separators(name.substr(0, before));
        return kind;
    }
    return Column_kind::plain;
}

// Identifier columns the vendor software and GEO put before the samples.
bool is_id_name(std::string_view name) {
    std::string letters;
    for (char c : lower_case(name))
        if (!is_separator(c)) letters += c;
    for (const char* known : {"targetid", "probeid", "probeida", "probeidb", "idref", "ilmnid", "index"})
        if (letters == known) return true;
    return false;
}

std::string quoted_list(const std::vector<std::string>& names, size_t most = 6) {
    std::string list;
    for (size_t i = 0; i < names.size() && i < most; ++i) list += (i > 0 ? ", \"" : "\"") + names[i] + "\"";
    return names.size() > most ? list + ", ..." : list;
}

}  // namespace

Matrix_reader::Matrix_reader(Line_reader& reader, std::string file, Delimiter delimiter)
    : reader_(reader), file_(std::move(file)), delimiter_(delimiter) {
    reader_.cr_line_ends(true);
}

// The identifier columns before the samples: the first column, then those
// with a known identifier name (or up to the one asked for). The first
// known identifier other than Index names the probes, unless one is asked for.
bool Matrix_reader::take_id_columns(size_t& first, std::string& error) {
    const std::vector<std::string_view>& fields = splitter_.fields();
    first = 1;
    id_field_ = 0;
    bool named = is_id_name(trim(fields[0])) && lower_case(trim(fields[0])) != "index";
    for (; first < fields.size() && is_id_name(trim(fields[first])); ++first) {
        if (named || lower_case(trim(fields[first])) == "index") continue;
        id_field_ = first;
        named = true;
    }
    if (id_name_.empty()) return true;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (trim(fields[i]) != id_name_) continue;
        id_field_ = i;
        first = std::max(first, i + 1);
        return true;
    }
    error = at_line(file_, line_, "no column \"" + id_name_ + "\" in the header (--id-column)");
    return false;
}

// A vendor export: groups of columns per sample.
bool Matrix_reader::take_vendor_columns(size_t first, std::string& error) {
    const std::vector<std::string_view>& fields = splitter_.fields();
    std::map<std::string, size_t, std::less<>> group_of;  // sample name -> index in samples_
    std::vector<std::vector<std::string>> group_columns;
    std::vector<std::string> unplaced, ignored, annotation;
    size_t last_group = first;
    std::string previous;  // sample of the column before, for a Detection Pval column without a name
    for (size_t i = first; i < fields.size(); ++i) {
        std::string_view found;
        if (classify(trim(fields[i]), found) != Column_kind::plain) last_group = i;
    }
    for (size_t i = first; i < fields.size(); ++i) {
        std::string name(trim(fields[i]));
        std::string_view found;
        Column_kind kind = classify(name, found);
        // An owned copy: the name a column borrows from the column before must
        // outlive the update of previous below.
        std::string sample(found);
        if (kind == Column_kind::detection && sample.empty()) sample = previous;
        previous = kind == Column_kind::plain || kind == Column_kind::ignored ? "" : sample;
        if (kind == Column_kind::plain) {
            (i > last_group ? annotation : unplaced).push_back(name);
            continue;
        }
        if (kind == Column_kind::ignored || sample.empty()) {
            (sample.empty() ? unplaced : ignored).push_back(name);
            continue;
        }
        auto [at, fresh] = group_of.emplace(std::string(sample), samples_.size());
        if (fresh) {
            samples_.push_back(Matrix_sample{std::string(sample)});
            group_columns.emplace_back();
        }
        Matrix_sample& s = samples_[at->second];
        size_t* slot = kind == Column_kind::beta ? &s.beta : kind == Column_kind::detection ? &s.detection
                     : kind == Column_kind::methylated ? &s.methylated : &s.unmethylated;
        if (*slot != 0) {
            error = at_line(file_, line_, "sample \"" + s.name + "\" has two columns like \"" + name + "\"");
            return false;
        }
        *slot = i;
        group_columns[at->second].push_back(name);
    }
    for (size_t g = 0; g < samples_.size(); ++g) {
        Matrix_sample& s = samples_[g];
        if (s.beta != 0 && (s.methylated != 0 || s.unmethylated != 0)) {
            ignored.push_back(std::string(trim(fields[s.methylated != 0 ? s.methylated : s.unmethylated])));
            s.methylated = s.unmethylated = 0;
        }
        if (s.beta == 0 && (s.methylated == 0 || s.unmethylated == 0))
            unplaced.insert(unplaced.end(), group_columns[g].begin(), group_columns[g].end());
        interleaved_ = interleaved_ || s.detection != 0;
    }
    if (!unplaced.empty()) {
        error = at_line(file_, line_, "cannot place the column" + std::string(unplaced.size() > 1 ? "s " : " ") +
                                          quoted_list(unplaced) + ": a sample needs its .AVG_Beta column or both "
                                          "its Signal_A and Signal_B (or Unmethylated and Methylated Signal) "
                                          "columns, and identifier columns stand before the samples");
        return false;
    }
    if (!ignored.empty())
        notes_.push_back(plural(ignored.size(), "column") + " neither beta, signal nor detection p-value ignored (" +
                         quoted_list(ignored, 3) + ")");
    if (!annotation.empty())
        notes_.push_back(plural(annotation.size(), "annotation column") + " after the last sample ignored (" +
                         quoted_list(annotation, 3) + ")");
    return true;
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
    size_t first = 1;
    if (!take_id_columns(first, error)) return false;
    std::string_view sample;
    for (size_t i = first; i < fields.size(); ++i) {
        Column_kind kind = classify(trim(fields[i]), sample);
        if (kind != Column_kind::plain && kind != Column_kind::detection) return take_vendor_columns(first, error);
    }
    std::set<std::string_view> names;
    for (size_t i = first; i < fields.size(); ++i) {
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
    // A short row may not reach the identifier column (TargetID after Index).
    id_ = id_field_ < fields.size() ? trim(fields[id_field_]) : std::string_view();
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
