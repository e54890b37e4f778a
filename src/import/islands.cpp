#include "islands.h"

#include <algorithm>
#include <unordered_set>
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

// The largest file coordinate: written one higher, it must still fit cimbrel's 32 bits.
constexpr uint64_t last_coordinate = UINT32_MAX - 1;

bool whole_number(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!is_digit(c)) return false;
    return true;
}

// A file coordinate; what says why it is none.
bool coordinate(std::string_view text, const char* role, uint32_t& value, std::string& what) {
    uint64_t number = 0;
    for (char c : text) number = std::min<uint64_t>(number * 10 + static_cast<uint64_t>(c - '0'), UINT64_MAX / 16);
    if (number <= last_coordinate) {
        value = static_cast<uint32_t>(number);
        return true;
    }
    what = std::string(role) + " " + std::string(text) + " is out of range (coordinates go up to " +
           std::to_string(last_coordinate) + ")";
    return false;
}

enum class Detected { ucsc, bed, ambiguous };

Detected detect_layout(const std::vector<std::string_view>& columns) {
    const size_t n = columns.size();
    auto whole = [&](size_t i) { return i < n && whole_number(columns[i]); };
    if (n == 11 && whole(0) && whole(2) && whole(3) && has_space(columns[4])) return Detected::ucsc;
    if (whole(1) && whole(2)) return whole(0) && whole(3) ? Detected::ambiguous : Detected::bed;
    return n >= 4 && whole(0) ? Detected::ucsc : Detected::bed;
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
    std::string_view start = columns[first + 1], end = columns[first + 2];
    if (region.chr.empty() || has_space(region.chr) || !whole_number(start) || !whole_number(end)) {
        what = "expected chromosome, start and end (whole numbers) in columns " + std::to_string(first + 1) +
               " to " + std::to_string(first + 3);
        return false;
    }
    if (region.chr.front() == '#') {  // the region file would hold a comment line in its place
        what = "chromosome \"" + region.chr + "\" starts with \"#\", which marks a comment in the region file";
        return false;
    }
    if (!coordinate(start, "start", region.start, what) || !coordinate(end, "end", region.end, what)) return false;
    if (region.start > region.end) {
        what = "start " + std::string(start) + " lies after end " + std::string(end);
        return false;
    }
    region.name = columns.size() > first + 3 ? without_space(columns[first + 3]) : "";
    if (region.name.empty()) region.name = region.chr + ":" + std::string(start) + "-" + std::string(end);
    ++region.start;  // the probes' 1-based convention, the same bases
    ++region.end;
    return true;
}

// Sets layout from the first data line; false, with what set, when either layout could hold it.
bool settle_layout(const std::vector<std::string_view>& columns, Island_layout& layout, std::string& what) {
    if (layout != Island_layout::unknown) return true;
    const Detected detected = detect_layout(columns);
    if (detected == Detected::ambiguous) {
        what = "columns 1 to 4 are all whole numbers, so the line could be UCSC's layout (bin, chrom, chromStart, "
               "chromEnd) or BED (chrom, start, end, name): give --layout ucsc or --layout bed";
        return false;
    }
    layout = detected == Detected::ucsc ? Island_layout::ucsc : Island_layout::bed;
    return true;
}

}  // namespace

bool read_islands(Line_reader& reader, const std::string& file,
                  const std::function<void(const Region_record&)>& sink, Island_layout& layout,
                  Island_counts& counts, std::string& error) {
    counts = Island_counts();
    reader.cr_line_ends(true);
    std::vector<std::string_view> columns;
    std::unordered_set<std::string> seen;  // regions handed out, as chr, start, end and name
    Region_record region;
    std::string_view line;
    std::string what, key;
    for (size_t number = 1; reader.next(line); ++number) {
        if (number == 1) line = without_bom(line);
        if (skipped_line(line)) continue;
        split_columns(line, columns);
        if (!settle_layout(columns, layout, what) || !read_region(columns, layout, region, what)) {
            error = at_line(file, number, what);
            return false;
        }
        key = region.chr + '\t' + std::to_string(region.start) + '\t' + std::to_string(region.end) + '\t' + region.name;
        if (!seen.insert(key).second) {
            ++counts.repeated;
            continue;
        }
        ++counts.regions;
        sink(region);
    }
    return !read_failed(reader, file, error);
}

bool import_islands(const std::string& path, const std::string& out, Island_layout& layout, Island_counts& counts,
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
    return read_islands(reader, path, write, layout, counts, error) && output.commit(error);
}
