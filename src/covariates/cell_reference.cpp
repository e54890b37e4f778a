#include "cell_reference.h"

#include <unistd.h>

#include <cmath>
#include <unordered_set>

#include "line_reader.h"
#include "messages.h"

namespace {

bool is_separator(char c) { return c == ',' || is_space(c); }

bool skipped(const std::string& line) {
    for (char c : line) {
        if (c == '#') return true;
        if (!is_space(c)) return false;
    }
    return true;
}

// A whole field that is a beta: a number in [0, 1].
bool read_beta(const std::string& field, double& beta) {
    Line_scanner scanner(field);
    std::string_view rest;
    return scanner.number(beta) && !scanner.word(rest) && beta >= 0.0 && beta <= 1.0;
}

// Stores the header once the first probe line shows whether it names the
// identifier column too. False, with what, when the counts do not fit.
bool settle_header(std::vector<std::string> header, size_t fields, Cell_reference& reference, std::string& what) {
    if (fields == header.size()) header.erase(header.begin());
    if (fields != header.size() + 1) {
        what = std::to_string(fields) + " fields, but the header names " + std::to_string(header.size()) +
               " cell types";
        return false;
    }
    reference.cell_types = std::move(header);
    return true;
}

}  // namespace

bool split_reference_line(const std::string& line, std::vector<std::string>& fields, std::string& error) {
    fields.clear();
    size_t i = 0;
    while (true) {
        while (i < line.size() && is_separator(line[i])) ++i;
        if (i == line.size()) return true;
        const char quote = line[i];
        if (quote == '"' || quote == '\'') {
            const size_t close = line.find(quote, i + 1);
            if (close == std::string::npos) {
                error = "unterminated quote";
                return false;
            }
            fields.push_back(line.substr(i + 1, close - i - 1));
            i = close + 1;
            continue;
        }
        const size_t start = i;
        while (i < line.size() && !is_separator(line[i])) ++i;
        fields.push_back(line.substr(start, i - start));
    }
}

bool read_cell_reference(const std::string& path, Cell_reference& reference, std::string& error) {
    reference = Cell_reference();
    Line_reader reader;
    if (!reader.open(path)) {
        error = "cannot open reference " + path;
        return false;
    }
    std::vector<std::string> header, fields;
    std::unordered_set<std::string> seen;
    std::string_view view;
    std::string what;
    size_t number = 0;
    bool have_header = false;
    while (reader.next(view)) {
        const std::string line(view);
        ++number;
        if (skipped(line)) continue;
        if (!split_reference_line(line, have_header ? fields : header, what)) {
            error = at_line(path, number, what);
            return false;
        }
        if (!have_header) {
            have_header = true;
            continue;
        }
        if (reference.cell_types.empty() && !settle_header(header, fields.size(), reference, what)) {
            error = at_line(path, number, what);
            return false;
        }
        if (fields.size() != reference.type_count() + 1) {
            error = at_line(path, number, std::to_string(fields.size()) + " fields, expected " +
                                              std::to_string(reference.type_count() + 1));
            return false;
        }
        if (!seen.insert(fields[0]).second) {
            error = at_line(path, number, "probe " + fields[0] + " is listed twice");
            return false;
        }
        reference.probes.push_back(fields[0]);
        for (size_t k = 1; k < fields.size(); ++k) {
            double beta = 0.0;
            if (!read_beta(fields[k], beta)) {
                error = at_line(path, number, "\"" + fields[k] + "\" is not a beta value in [0, 1]");
                return false;
            }
            reference.betas.push_back(beta);
        }
    }
    if (reader.failed()) {
        error = path + ": " + reader.error();
        return false;
    }
    if (reference.type_count() < 2) {
        error = path + ": a reference needs at least 2 cell types and one probe line";
        return false;
    }
    return true;
}

std::string bundled_reference_path(const std::string& name) {
    std::string self(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", &self[0], self.size() - 1);
    if (length <= 0) return "";
    self.resize(static_cast<size_t>(length));
    const std::string folder = self.substr(0, self.rfind('/') + 1);
    for (const char* relative : {"share/cimbrel/reference/", "../share/cimbrel/reference/"}) {
        const std::string candidate = folder + relative + name;
        if (file_readable(candidate)) return candidate;
    }
    return "";
}
