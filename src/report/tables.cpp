#include "tables.h"

#include <charconv>
#include <cmath>
#include <unordered_map>

#include <fast_float/fast_float.h>

#include "line_reader.h"

namespace {

const char probe_header[] = "ID Pvalue FDR Range <group...> CHR LOC ANN";
const char region_header[] = "CHR START END NAME PVALUE FDR PROBE ANNOTATION";

// A tab-separated table read line by line: its header, then its rows split
// into fields. Blank lines are skipped; a CR before the line end is dropped.
class Tsv_input {
public:
    bool open(const std::string& path, std::string& error) {
        path_ = path;
        if (reader_.open(path)) return true;
        error = path + ": cannot open the file for reading";
        return false;
    }
    // False, with error set, for a file without a header line.
    bool header(std::vector<std::string>& names, const char* expected, std::string& error) {
        std::vector<std::string_view> fields;
        if (!row(fields, error)) {
            if (error.empty()) error = path_ + ": empty file, expected a header line " + expected;
            return false;
        }
        names.assign(fields.begin(), fields.end());
        return true;
    }
    // The next non-blank line and its fields; false at the end of the file,
    // and after a read error, with error set.
    bool row(std::vector<std::string_view>& fields, std::string& error) {
        while (reader_.next(line_)) {
            ++line_number_;
            while (!line_.empty() && (line_.back() == '\n' || line_.back() == '\r')) line_.remove_suffix(1);
            if (line_.find_first_not_of(" \t") == std::string_view::npos) continue;
            split(fields);
            return true;
        }
        if (reader_.failed()) error = path_ + ": " + reader_.error();
        return false;
    }
    std::string_view line() const { return line_; }
    std::string where() const { return path_ + ":" + std::to_string(line_number_); }

private:
    void split(std::vector<std::string_view>& fields) const {
        fields.clear();
        size_t start = 0;
        for (;;) {
            size_t tab = line_.find('\t', start);
            fields.push_back(line_.substr(start, tab == std::string_view::npos ? tab : tab - start));
            if (tab == std::string_view::npos) return;
            start = tab + 1;
        }
    }

    Line_reader reader_;
    std::string path_;
    std::string_view line_;
    size_t line_number_ = 0;
};

// Header names mapped to their positions; a repeated name is an error.
class Header {
public:
    bool read(Tsv_input& input, const char* expected, std::string& error) {
        expected_ = expected;
        if (!input.header(names_, expected, error)) return false;
        for (size_t i = 0; i < names_.size(); ++i) {
            if (!index_.emplace(names_[i], i).second) {
                error = input.where() + ": column '" + names_[i] + "' appears twice in the header";
                return false;
            }
        }
        return true;
    }
    bool find(const char* name, size_t& at, const Tsv_input& input, std::string& error) const {
        auto it = index_.find(name);
        if (it != index_.end()) {
            at = it->second;
            return true;
        }
        error = input.where() + ": no column '" + name + "' in the header (expected " + expected_ + ")";
        return false;
    }
    const std::vector<std::string>& names() const { return names_; }

private:
    std::vector<std::string> names_;
    std::unordered_map<std::string, size_t> index_;
    const char* expected_ = "";
};

bool parse_real(std::string_view text, double& out) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    auto result = fast_float::from_chars(first, last, out);
    return first != last && result.ec == std::errc() && result.ptr == last && std::isfinite(out);
}

bool parse_position(std::string_view text, uint32_t& out) {
    const char* last = text.data() + text.size();
    auto result = std::from_chars(text.data(), last, out);
    return !text.empty() && result.ec == std::errc() && result.ptr == last;
}

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// A p-value or FDR: a number not below 0 (above 1 marks an untested row).
bool read_probability(std::string_view text, const std::string& column, const Tsv_input& input,
                      double& out, std::string& error) {
    if (parse_real(text, out) && out >= 0.0) return true;
    error = input.where() + ": " + column + " " + quoted(text) +
            " is not a p-value (expected a number from 0 to 1, or above 1 for an untested row)";
    return false;
}

// A number, or "-" for none (NaN).
bool read_mean(std::string_view text, const std::string& column, const Tsv_input& input, double& out,
               std::string& error) {
    if (text == "-") {
        out = std::nan("");
        return true;
    }
    if (parse_real(text, out)) return true;
    error = input.where() + ": " + column + " " + quoted(text) + " is not a number or '-'";
    return false;
}

bool read_position(std::string_view text, const std::string& column, const Tsv_input& input,
                   uint32_t& out, std::string& error) {
    if (parse_position(text, out)) return true;
    error = input.where() + ": " + column + " " + quoted(text) +
            " is not a position (expected a whole number from 0 to 4294967295)";
    return false;
}

bool check_field_count(const std::vector<std::string_view>& fields, size_t expected,
                       const Tsv_input& input, std::string& error) {
    if (fields.size() == expected) return true;
    error = input.where() + ": " + std::to_string(fields.size()) + " tab-separated fields, expected " +
            std::to_string(expected) + " as in the header";
    return false;
}

// Chromosome names numbered in order of first appearance.
class Chromosome_index {
public:
    explicit Chromosome_index(std::vector<std::string>& names) : names_(names) {}
    bool get(std::string_view name, const Tsv_input& input, uint32_t& out, std::string& error) {
        if (name.empty()) {
            error = input.where() + ": empty chromosome name";
            return false;
        }
        if (name == last_name_) {
            out = last_;
            return true;
        }
        auto it = index_.emplace(std::string(name), static_cast<uint32_t>(names_.size())).first;
        if (it->second == names_.size()) names_.push_back(it->first);
        last_name_ = it->first;
        out = last_ = it->second;
        return true;
    }

private:
    std::vector<std::string>& names_;
    std::unordered_map<std::string, uint32_t> index_;
    std::string last_name_;
    uint32_t last_ = 0;
};

Line_span keep_line(std::string& text, std::string_view line) {
    Line_span span{text.size(), static_cast<uint32_t>(line.size())};
    text.append(line);
    return span;
}

// The fixed columns stand where cimbrel writes them, the first four and the
// last three, so that a group may carry any name, "ID" or "CHR" included.
// "" when names is a probe table's header, otherwise what is wrong with it.
std::string probe_header_fault(const std::vector<std::string>& names) {
    static const char* const first[] = {"ID", "Pvalue", "FDR", "Range"};
    static const char* const last[] = {"CHR", "LOC", "ANN"};
    const size_t n = names.size();
    if (n < 7) return std::to_string(n) + " columns, too few for a probe table's header";
    auto misplaced = [&](size_t i, const char* name) {
        return "column " + std::to_string(i + 1) + " is " + quoted(names[i]) + ", expected " + quoted(name);
    };
    for (size_t i = 0; i < 4; ++i)
        if (names[i] != first[i]) return misplaced(i, first[i]);
    for (size_t i = 0; i < 3; ++i)
        if (names[n - 3 + i] != last[i]) return misplaced(n - 3 + i, last[i]);
    return "";
}

bool find_probe_columns(Tsv_input& input, Probe_columns& columns, std::vector<std::string>& groups,
                        std::string& error) {
    std::vector<std::string> names;
    if (!input.header(names, probe_header, error)) return false;
    const std::string fault = probe_header_fault(names);
    if (!fault.empty()) {
        error = input.where() + ": " + fault + " (a probe table's header is " + probe_header + ")";
        return false;
    }
    const size_t n = names.size();
    columns = Probe_columns{0, 1, 2, 3, n - 3, n - 2, n - 1, {}, n};
    for (size_t i = 4; i + 3 < n; ++i) {
        columns.groups.push_back(i);
        groups.push_back(names[i]);
    }
    return true;
}

bool read_probe_row(const std::vector<std::string_view>& fields, const Tsv_input& input, Probe_table& table,
                    Chromosome_index& chromosomes, std::string& error) {
    const Probe_columns& c = table.columns;
    Probe_row row;
    if (!check_field_count(fields, c.count, input, error) ||
        !read_probability(fields[c.p], "Pvalue", input, row.p, error) ||
        !read_probability(fields[c.fdr], "FDR", input, row.fdr, error) ||
        !read_mean(fields[c.range], "Range", input, row.range, error) ||
        !chromosomes.get(fields[c.chr], input, row.chr, error) ||
        !read_position(fields[c.loc], "LOC", input, row.loc, error))
        return false;
    for (size_t g = 0; g < c.groups.size(); ++g) {
        double mean = 0.0;
        if (!read_mean(fields[c.groups[g]], table.groups[g], input, mean, error)) return false;
    }
    row.line = keep_line(table.text, input.line());
    table.rows.push_back(row);
    return true;
}

bool find_region_columns(const Header& header, const Tsv_input& input, Region_columns& columns,
                         std::string& error) {
    if (!header.find("CHR", columns.chr, input, error) || !header.find("START", columns.start, input, error) ||
        !header.find("END", columns.end, input, error) || !header.find("NAME", columns.name, input, error) ||
        !header.find("PVALUE", columns.p, input, error) || !header.find("FDR", columns.fdr, input, error) ||
        !header.find("PROBE", columns.probe, input, error) ||
        !header.find("ANNOTATION", columns.annotation, input, error))
        return false;
    columns.count = header.names().size();
    return true;
}

bool read_region_row(const std::vector<std::string_view>& fields, const Tsv_input& input, Region_table& table,
                     Chromosome_index& chromosomes, std::string& error) {
    const Region_columns& c = table.columns;
    Region_row row;
    if (!check_field_count(fields, c.count, input, error) ||
        !chromosomes.get(fields[c.chr], input, row.chr, error) ||
        !read_position(fields[c.start], "START", input, row.start, error) ||
        !read_position(fields[c.end], "END", input, row.end, error) ||
        !read_probability(fields[c.p], "PVALUE", input, row.p, error) ||
        !read_probability(fields[c.fdr], "FDR", input, row.fdr, error))
        return false;
    if (row.start > row.end) {
        error = input.where() + ": START " + std::string(fields[c.start]) + " lies after END " +
                std::string(fields[c.end]);
        return false;
    }
    row.line = keep_line(table.text, input.line());
    table.rows.push_back(row);
    return true;
}

}  // namespace

std::string_view tab_field(std::string_view line, size_t column) {
    size_t start = 0;
    for (size_t i = 0; i < column; ++i) {
        size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) return {};
        start = tab + 1;
    }
    return line.substr(start, line.find('\t', start) - start);
}

std::string_view Probe_table::field(const Probe_row& row, size_t column) const {
    return tab_field(std::string_view(text).substr(row.line.offset, row.line.length), column);
}

std::string_view Region_table::field(const Region_row& row, size_t column) const {
    return tab_field(std::string_view(text).substr(row.line.offset, row.line.length), column);
}

bool read_probe_table(const std::string& path, Probe_table& table, std::string& error) {
    table = Probe_table();
    table.path = path;
    Tsv_input input;
    if (!input.open(path, error) || !find_probe_columns(input, table.columns, table.groups, error)) return false;
    Chromosome_index chromosomes(table.chromosomes);
    std::vector<std::string_view> fields;
    while (input.row(fields, error))
        if (!read_probe_row(fields, input, table, chromosomes, error)) return false;
    if (!error.empty()) return false;
    if (table.rows.empty()) {
        error = path + ": no probe rows after the header (cimbrel -p 1.01 -q 1.01 lists every tested probe)";
        return false;
    }
    return true;
}

bool read_region_table(const std::string& path, Region_table& table, std::string& error) {
    table = Region_table();
    table.path = path;
    Tsv_input input;
    Header header;
    if (!input.open(path, error) || !header.read(input, region_header, error) ||
        !find_region_columns(header, input, table.columns, error))
        return false;
    Chromosome_index chromosomes(table.chromosomes);
    std::vector<std::string_view> fields;
    while (input.row(fields, error))
        if (!read_region_row(fields, input, table, chromosomes, error)) return false;
    return error.empty();
}
