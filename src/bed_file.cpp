#include "bed_file.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "line_reader.h"

bool Point::operator<(const Point& other) const {
    int order = chr.compare(other.chr);
    return order < 0 || (order == 0 && loc < other.loc);
}

bool Point::operator<(const Bed& region) const { return region > *this; }
bool Point::operator==(const Bed& region) const { return region == *this; }
bool Point::operator>(const Bed& region) const { return region < *this; }

bool Bed::operator<(const Bed& other) const {
    int order = chr.compare(other.chr);
    if (order != 0) return order < 0;
    if (start != other.start) return start < other.start;
    return end < other.end;
}

namespace {

// The line as echoed in a format warning: without its line end.
std::string_view without_line_end(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    return line;
}

bool is_comment(std::string_view line) { return !line.empty() && line.front() == '#'; }

// Fields of an annotation line: identifier, chromosome, position, annotation.
// A missing field, a position that is not a number and position 0 all fail.
bool parse_probe_line(std::string_view line, Point& point) {
    Line_scanner scanner(line);
    scanner.word(point.id);
    scanner.word(point.chr);
    scanner.number(point.loc);
    scanner.word(point.ann);
    return scanner.ok() && point.loc != 0;
}

// Fields of a region line: chromosome, start, end, name.
bool parse_region_line(std::string_view line, Bed& region) {
    Line_scanner scanner(line);
    uint32_t end = 0;
    scanner.word(region.chr);
    scanner.number(region.start);
    scanner.number(end);
    scanner.word(region.name);
    region.end = end;
    return scanner.ok();
}

// Adds identifier -> index of its first record in points (sorted) to the
// map, leaving identifiers already present alone. The identifiers are put in
// order first (a repeated one with its lowest index first), so that each new
// one is inserted at the end of the map without a search.
void index_first_records(const std::vector<Point>& points, std::map<std::string, uint32_t>& index) {
    std::vector<std::pair<std::string_view, uint32_t>> by_id;
    by_id.reserve(points.size());
    for (size_t i = 0; i < points.size(); ++i) by_id.emplace_back(points[i].id, static_cast<uint32_t>(i));
    std::sort(by_id.begin(), by_id.end());
    for (const auto& [id, i] : by_id) index.emplace_hint(index.end(), id, i);
}

}  // namespace

// The annotation records of the study's probes, one per probe (the record the
// probe index map points to), in annotation order. Both maps are ordered by
// identifier, so one merge pass pairs them.
std::vector<Point> study_points(const std::vector<Point>& points, const Data_description& description,
                                const std::map<std::string, uint32_t>& probe_index_map) {
    const auto& study = description.probe_index.id_to_index;
    std::vector<uint32_t> rows;
    auto s = study.begin();
    auto a = probe_index_map.begin();
    while (s != study.end() && a != probe_index_map.end()) {
        int order = s->first.compare(a->first);
        if (order < 0) {
            ++s;
        } else if (order > 0) {
            ++a;
        } else {
            if (a->second < points.size()) rows.push_back(a->second);
            ++s;
            ++a;
        }
    }
    std::sort(rows.begin(), rows.end());
    std::vector<Point> probes;
    probes.reserve(rows.size());
    for (uint32_t row : rows) probes.push_back(points[row]);
    return probes;
}

namespace {

// Reads the records of an annotation or region file, skipping comment lines
// and reporting every line that parse rejects with rejected_format (which
// takes the line without its line end), then sorts them.
template <class Record, class Parse>
bool read_sorted_records(const std::string& file, std::vector<Record>& records, Parse parse,
                         const char* rejected_format) {
    records.clear();
    Line_reader reader;
    if (!reader.open(file)) {
        printf("Error: cannot open file %s\n", file.c_str());
        return false;
    }
    std::string_view line;
    Record record;
    while (reader.next(line)) {
        if (is_comment(line)) continue;
        if (parse(line, record)) {
            records.push_back(record);
        } else {
            std::string_view shown = without_line_end(line);
            printf(rejected_format, static_cast<int>(shown.size()), shown.data());
        }
    }
    if (reader.failed()) {
        printf("Error: cannot read file %s: %s\n", file.c_str(), reader.error().c_str());
        records.clear();
        return false;
    }
    std::sort(records.begin(), records.end());
    return true;
}

}  // namespace

bool read_probe_ann(const std::string& file, std::vector<Point>& points,
                    std::map<std::string, uint32_t>& probe_index_map) {
    if (!read_sorted_records(file, points, parse_probe_line,
                             "Warnning: wrong format encountered when reading probe annotation\n"
                             "Wrong sentence is: %.*s\n"))
        return false;
    index_first_records(points, probe_index_map);
    return true;
}

bool read_cgi(std::string file, std::vector<Bed>& regions) {
    return read_sorted_records(file, regions, parse_region_line,
                               "Warning: wrong format encountered when reading bed file\n"
                               "wrong sentence is: %.*s\n");
}

// One merge sweep over the sorted regions and the sorted study probes; the
// probe cursor j never moves back. A probe is recorded for the first region,
// in region order, that contains it: once recorded it is behind the cursor,
// so a later overlapping or nested region cannot take it again.
void cgi_probe(const std::vector<Bed>& regions, const std::vector<Point>& points,
               const Data_description& description,
               const std::map<std::string, uint32_t>& probe_index_map,
               std::map<uint32_t, std::vector<std::string>>& region_probes) {
    const std::vector<Point> probes = study_points(points, description, probe_index_map);
    size_t j = 0;
    for (size_t i = 0; i < regions.size() && j < probes.size(); ++i) {
        const Bed& region = regions[i];
        auto record = [&] { region_probes[static_cast<uint32_t>(i)].push_back(probes[j].id); };
        if (region == probes[j]) {
            // The probes after a contained one lie inside the region until
            // the first one beyond its end.
            record();
            for (++j; j < probes.size() && !(region < probes[j]); ++j) record();
        } else if (region > probes[j]) {
            // Skip the probes before the region, taking those inside it.
            for (++j; j < probes.size() && !(region < probes[j]); ++j) {
                if (region == probes[j]) record();
            }
        }
        // Otherwise the region ends before probe j and receives nothing.
    }
}
