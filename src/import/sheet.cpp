#include "sheet.h"

#include "delimited.h"
#include "line_reader.h"

bool Sheet::column(const std::string& name, size_t& index) const {
    for (size_t i = 0; i < header.size(); ++i) {
        if (header[i] != name) continue;
        index = i;
        return true;
    }
    return false;
}

namespace {

// A bracketed block title such as "[Header]" or "[Data]" (CSV may follow it
// with empty cells: "[Data],,,").
bool is_block_title(std::string_view line, std::string_view title) {
    line = trim(without_line_end(line));
    while (!line.empty() && (line.back() == ',' || line.back() == '\t')) line.remove_suffix(1);
    return lower_case(trim(line)) == lower_case(title);
}

bool all_empty(const std::vector<std::string_view>& fields) {
    for (std::string_view field : fields)
        if (!trim(field).empty()) return false;
    return true;
}

// The header row: cells trimmed, names unique.
bool take_header(const std::vector<std::string_view>& fields, Sheet& sheet, std::string& error) {
    for (std::string_view field : fields) {
        std::string name(trim(field));
        size_t seen = 0;
        if (!name.empty() && sheet.column(name, seen)) {
            error = at_line(sheet.file, sheet.header_line, "column \"" + name + "\" appears twice in the header");
            return false;
        }
        sheet.header.push_back(std::move(name));
    }
    while (!sheet.header.empty() && sheet.header.back().empty()) sheet.header.pop_back();
    if (sheet.header.empty()) error = at_line(sheet.file, sheet.header_line, "the header row names no column");
    return !sheet.header.empty();
}

bool take_row(const std::vector<std::string_view>& fields, size_t line, Sheet& sheet, std::string& error) {
    Sheet_row row;
    row.line = line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i < sheet.header.size()) {
            row.cells.emplace_back(trim(fields[i]));
        } else if (!trim(fields[i]).empty()) {
            error = at_line(sheet.file, line, "row has " + std::to_string(fields.size()) +
                                                  " cells, but the header names " +
                                                  std::to_string(sheet.header.size()) + " columns");
            return false;
        }
    }
    row.cells.resize(sheet.header.size());
    sheet.rows.push_back(std::move(row));
    return true;
}

}  // namespace

bool read_sheet(Line_reader& reader, const std::string& file, Sheet& sheet, std::string& error) {
    sheet = Sheet();
    sheet.file = file;
    reader.cr_line_ends(true);
    Field_splitter splitter;
    std::string_view line;
    size_t number = 0;
    bool in_blocks = false;  // inside Illumina's blocks, before [Data]
    char delimiter = ',';
    while (reader.next(line)) {
        if (++number == 1) line = without_bom(line);
        if (is_blank(line)) continue;
        if (sheet.header_line == 0 && (in_blocks || trim(line).front() == '[')) {
            in_blocks = !is_block_title(line, "[Data]");
            continue;
        }
        if (sheet.header_line == 0) delimiter = delimiter_char(Delimiter::automatic, line);
        if (!splitter.split(line, delimiter)) {
            error = at_line(file, number, splitter.error());
            return false;
        }
        if (sheet.header_line == 0) {
            sheet.header_line = number;
            if (!take_header(splitter.fields(), sheet, error)) return false;
        } else if (!all_empty(splitter.fields()) && !take_row(splitter.fields(), number, sheet, error)) {
            return false;
        }
    }
    if (read_failed(reader, file, error)) return false;
    if (sheet.header_line == 0) error = file + ": no header row" + (in_blocks ? " (no [Data] line after the bracketed blocks)" : "");
    return sheet.header_line != 0;
}

bool read_sheet_file(const std::string& path, Sheet& sheet, std::string& error) {
    Line_reader reader;
    return open_input(reader, path, error) && read_sheet(reader, path, sheet, error);
}
