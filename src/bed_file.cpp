#include "bed_file.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string_view>
#include <unordered_map>

#include "line_reader.h"
#include "time_out.h"

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

}  // namespace

// The records are sorted, so the first record met of an identifier is the
// one that sorts first; later records of it leave the map unchanged.
void Probe_index_map::build(const std::vector<Point>& points) {
    points_ = &points;
    slots_ = Text_slots();
    slots_.reserve(points.size());
    count_ = 0;
    auto text = [&points](uint32_t record) -> std::string_view { return points[record].id; };
    for (uint32_t i = 0; i < points.size(); ++i) {
        if (slots_.find(points[i].id, text) != Text_slots::none) continue;
        slots_.insert(points[i].id, i, text);
        ++count_;
    }
}

bool Probe_index_map::find(std::string_view id, uint32_t& index) const {
    if (points_ == nullptr) return false;
    const uint32_t record =
        slots_.find(id, [this](uint32_t r) -> std::string_view { return (*points_)[r].id; });
    if (record == Text_slots::none) return false;
    index = record;
    return true;
}

void Region_probes::add(uint32_t region, uint32_t row) {
    while (start.size() <= region) start.push_back(static_cast<uint32_t>(rows.size()));
    rows.push_back(row);
}

uint32_t Region_probes::count(uint32_t region) const {
    if (region >= start.size()) return 0;
    const size_t end = region + 1 < start.size() ? start[region + 1] : rows.size();
    return static_cast<uint32_t>(end - start[region]);
}

const uint32_t* Region_probes::begin(uint32_t region) const {
    return region < start.size() ? rows.data() + start[region] : rows.data();
}

uint32_t Region_probes::regions_with_probes() const {
    uint32_t with = 0;
    for (uint32_t i = 0; i < start.size(); ++i) with += count(i) > 0;
    return with;
}

// The annotation records of the study's probes: every study identifier is
// looked up in the probe index map, and the records found are put in
// annotation order. A repeated identifier resolves to its newest row.
std::vector<Study_point> study_points(const std::vector<Point>& points, const Data_description& study,
                                      const Probe_index_map& probe_index_map) {
    const ID_index& probe_ids = study.probe_index;
    // The row of each record taken, by record: one sweep then lists them in
    // annotation order, with no sort.
    constexpr uint32_t untaken = UINT32_MAX;
    std::vector<uint32_t> row_of(points.size(), untaken);
    size_t taken = 0;
    const bool repeats = probe_ids.has_repeats();
    for (uint32_t row = 0; row < probe_ids.index_end(); ++row) {
        uint32_t record = 0, newest = row;
        const std::string_view id = probe_ids.name(row);
        if (id.empty() || !probe_index_map.find(id, record) || record >= points.size() || row_of[record] != untaken)
            continue;
        if (repeats) probe_ids.find(id, newest);
        row_of[record] = newest;
        ++taken;
    }
    std::vector<Study_point> probes;
    probes.reserve(taken);
    for (uint32_t record = 0; record < row_of.size(); ++record)
        if (row_of[record] != untaken) probes.push_back({record, row_of[record]});
    return probes;
}

namespace {

// Sorts points exactly as std::sort with the Point ordering would: the same
// algorithm runs on (key, index) pairs whose keys compare as the points do
// (the chromosome's rank among the chromosome names in text order, then the
// position), so it makes the same moves, equal points included; the points
// themselves are moved once at the end instead of at every step.
void sort_records(std::vector<Point>& points) {
    std::unordered_map<std::string_view, uint32_t> rank;
    for (const Point& point : points) rank.emplace(point.chr, 0);
    std::vector<std::string_view> names;
    names.reserve(rank.size());
    for (const auto& entry : rank) names.push_back(entry.first);
    std::sort(names.begin(), names.end());
    for (uint32_t r = 0; r < names.size(); ++r) rank[names[r]] = r;
    std::vector<std::pair<uint64_t, uint32_t>> keys(points.size());
    for (uint32_t i = 0; i < points.size(); ++i)
        keys[i] = {(static_cast<uint64_t>(rank[points[i].chr]) << 32) | points[i].loc, i};
    std::sort(keys.begin(), keys.end(),
              [](const std::pair<uint64_t, uint32_t>& a, const std::pair<uint64_t, uint32_t>& b) {
                  return a.first < b.first;
              });
    // Position k takes the point that was at keys[k].second: each cycle of
    // the permutation is walked once, in place.
    for (uint32_t k = 0; k < keys.size(); ++k) {
        if (keys[k].second == k || keys[k].second == UINT32_MAX) continue;
        Point held = std::move(points[k]);
        uint32_t to = k;
        for (uint32_t from = keys[to].second; from != k; from = keys[to].second) {
            points[to] = std::move(points[from]);
            keys[to].second = UINT32_MAX;
            to = from;
        }
        points[to] = std::move(held);
        keys[to].second = UINT32_MAX;
    }
}

void sort_records(std::vector<Bed>& regions) { std::sort(regions.begin(), regions.end()); }

// Reads the records of an annotation or region file, skipping comment lines
// and reporting every line that parse rejects with rejected_format (which
// takes the line without its line end), then sorts them.
template <class Record, class Parse>
bool read_sorted_records(const std::string& file, std::vector<Record>& records, Parse parse,
                         const char* rejected_format) {
    records.clear();
    Line_reader reader;
    if (!reader.open(file)) {
        message("Error: cannot open file %s\n", file.c_str());
        return false;
    }
    std::string_view line;
    Record record;
    // Room for every line the file can hold (at least 16 bytes a record):
    // reserved pages that stay unused cost no memory, and the records are
    // never moved while the file is read.
    records.reserve(static_cast<size_t>(std::min<uint64_t>(reader.size_hint() / 16, uint64_t(1) << 26)));
    advise_huge_pages(records.data(), records.capacity() * sizeof(Record));
    while (reader.next(line)) {
        if (is_comment(line)) continue;
        if (parse(line, record)) {
            records.push_back(std::move(record));
        } else {
            std::string_view shown = without_line_end(line);
            message(rejected_format, static_cast<int>(shown.size()), shown.data());
        }
    }
    if (reader.failed()) {
        message("Error: cannot read file %s: %s\n", file.c_str(), reader.error().c_str());
        records.clear();
        return false;
    }
    sort_records(records);
    return true;
}

}  // namespace

bool read_probe_ann(const std::string& file, std::vector<Point>& points, Probe_index_map& probe_index_map) {
    const bool ok = read_sorted_records(file, points, parse_probe_line,
                                        "Warnning: wrong format encountered when reading probe annotation\n"
                                        "Wrong sentence is: %.*s\n");
    probe_index_map.build(points);
    return ok;
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
               const Data_description& study, const Probe_index_map& probe_index_map,
               Region_probes& region_probes) {
    const std::vector<Study_point> probes = study_points(points, study, probe_index_map);
    size_t j = 0;
    for (size_t i = 0; i < regions.size() && j < probes.size(); ++i) {
        const Bed& region = regions[i];
        auto point = [&](size_t k) -> const Point& { return points[probes[k].record]; };
        auto record = [&] { region_probes.add(static_cast<uint32_t>(i), probes[j].row); };
        if (region == point(j)) {
            // The probes after a contained one lie inside the region until
            // the first one beyond its end.
            record();
            for (++j; j < probes.size() && !(region < point(j)); ++j) record();
        } else if (region > point(j)) {
            // Skip the probes before the region, taking those inside it.
            for (++j; j < probes.size() && !(region < point(j)); ++j) {
                if (region == point(j)) record();
            }
        }
        // Otherwise the region ends before probe j and receives nothing.
    }
}
