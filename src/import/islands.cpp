#include "islands.h"

#include <vector>

#include "delimited.h"
#include "line_reader.h"
#include "staged_output.h"

namespace {

bool skipped_line(std::string_view line) {
    std::string_view text = trim(line);
    return text.empty() || text.front() == '#' || text.substr(0, 6) == "track " || text.substr(0, 8) == "browser ";
}

// Columns of a line: split at tabs, or at any white space when it has no tab.
void split_columns(std::string_view line, std::vector<std::string_view>& columns) {
    columns.clear();
    line = without_line_end(line);
    if (line.find('\t') != std::string_view::npos) {
        for (size_t at = 0;;) {
            size_t end = line.find('\t', at);
            columns.push_back(trim(line.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at)));
            if (end == std::string_view::npos) return;
            at = end + 1;
        }
    }
    Line_scanner scanner(line);
    std::string_view word;
    while (scanner.word(word)) columns.push_back(word);
}

bool whole_number(std::string_view text, uint32_t& value) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    Line_scanner scanner(text);
    return scanner.number(value) && scanner.rest().empty();
}

Island_layout detect_layout(const std::vector<std::string_view>& columns) {
    uint32_t number = 0;
    if (columns.size() >= 4 && whole_number(columns[0], number) && !whole_number(columns[1], number))
        return Island_layout::ucsc;
    return Island_layout::bed;
}

std::string without_space(std::string_view text) {
    std::string out;
    for (char c : text)
        if (!is_space(c)) out += c;
    return out;
}

// The region of a data line, or the reason it is malformed in what.
bool read_region(const std::vector<std::string_view>& columns, Island_layout layout, Region_record& region,
                 std::string& what) {
    size_t first = layout == Island_layout::ucsc ? 1 : 0;
    if (columns.size() < first + 3) {
        what = "line has " + std::to_string(columns.size()) + " columns, but " +
               (layout == Island_layout::ucsc ? "UCSC's layout (bin, chrom, chromStart, chromEnd, name)" : "BED") +
               " needs " + std::to_string(first + 3) + " or more";
        return false;
    }
    region.chr.assign(columns[first]);
    if (region.chr.empty() || has_space(region.chr) || !whole_number(columns[first + 1], region.start) ||
        !whole_number(columns[first + 2], region.end)) {
        what = "expected chromosome, start and end (whole numbers) in columns " + std::to_string(first + 1) +
               " to " + std::to_string(first + 3);
        return false;
    }
    if (region.chr.front() == '#') {  // the region file would hold a comment line in its place
        what = "chromosome \"" + region.chr + "\" starts with \"#\", which marks a comment in the region file";
        return false;
    }
    if (region.start > region.end) {
        what = "start " + std::to_string(region.start) + " lies after end " + std::to_string(region.end);
        return false;
    }
    region.name = columns.size() > first + 3 ? without_space(columns[first + 3]) : "";
    if (region.name.empty())
        region.name = region.chr + ":" + std::to_string(region.start) + "-" + std::to_string(region.end);
    return true;
}

}  // namespace

bool read_islands(Line_reader& reader, const std::string& file,
                  const std::function<void(const Region_record&)>& sink, Island_layout& layout,
                  size_t& regions, std::string& error) {
    layout = Island_layout::unknown;
    regions = 0;
    reader.cr_line_ends(true);
    std::vector<std::string_view> columns;
    Region_record region;
    std::string_view line;
    std::string what;
    for (size_t number = 1; reader.next(line); ++number) {
        if (number == 1) line = without_bom(line);
        if (skipped_line(line)) continue;
        split_columns(line, columns);
        if (layout == Island_layout::unknown) layout = detect_layout(columns);
        if (!read_region(columns, layout, region, what)) {
            error = at_line(file, number, what);
            return false;
        }
        ++regions;
        sink(region);
    }
    return !read_failed(reader, file, error);
}

bool import_islands(const std::string& path, const std::string& out, Island_layout& layout, size_t& regions,
                    std::string& error) {
    Line_reader reader;
    Staged_text output;
    if (!open_input(reader, path, error) || !output.open(out, error)) return false;
    output.write("# chrom\tstart\tend\tname\n");
    std::string line;
    auto write = [&](const Region_record& region) {
        line = region.chr + "\t" + std::to_string(region.start) + "\t" + std::to_string(region.end) + "\t" +
               region.name + "\n";
        output.write(line);
    };
    return read_islands(reader, path, write, layout, regions, error) && output.commit(error);
}
