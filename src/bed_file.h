// Genome annotation: probe positions (Point), genomic regions (Bed, half-open
// [start, end) in the coordinates of the annotation file), the readers of the
// probe annotation and region files, and the probe-to-region mapping.
//
// Coordinates: a region holds the probes with start <= loc < end, in the
// numbering of the annotation's positions. The vendor's MAPINFO counts bases
// from 1, so a region file for such an annotation gives start = the first
// base counted from 1 and end = one past the last; UCSC's and BED files,
// which count from 0, need 1 added to both (cimbrel-import islands does so).
// The region reader takes the numbers as written.
#ifndef CIMBREL_BED_FILE_H
#define CIMBREL_BED_FILE_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "basic_type.h"

struct Bed;

// A probe on the genome. Ordered by chromosome (byte-wise text), then position.
struct Point {
    std::string chr;
    uint32_t loc = 0;  // always > 0 in a record that was read
    std::string id;
    std::string ann;   // one token, copied to the result tables

    bool operator<(const Point& other) const;
    bool operator<(const Bed& region) const;   // point lies before the region
    bool operator==(const Bed& region) const;  // region contains the point
    bool operator>(const Bed& region) const;   // point lies after the region
};

// A genomic region [start, end) with a name (empty for arbitrary regions).
// Ordered by chromosome, start, end.
struct Bed {
    std::string chr;
    uint32_t start = 0;
    // One past the last position: 64-bit, so that a region ending at the
    // last 32-bit position (an arbitrary region of a probe at 4294967295)
    // does not wrap to 0.
    uint64_t end = 0;
    std::string name;

    bool operator<(const Bed& other) const;
    // Region relations to a position type with members chr and loc.
    template <class P> bool operator==(const P& point) const {
        return chr == point.chr && start <= point.loc && point.loc < end;
    }
    template <class P> bool operator>(const P& point) const {
        return chr > point.chr || (chr == point.chr && start > point.loc);
    }
    template <class P> bool operator<(const P& point) const {
        return chr < point.chr || (chr == point.chr && end <= point.loc);
    }
};

// The annotation's records by identifier: each identifier maps to the index
// of its first record in the sorted annotation list. The identifiers are not
// copied: the map holds record indices and compares with the records' own
// identifiers, so it is only valid with the list it was built from.
class Probe_index_map {
public:
    // Maps every identifier of points (sorted) to the index of its first record.
    void build(const std::vector<Point>& points);
    // True and the record index when id is annotated.
    bool find(std::string_view id, uint32_t& index) const;
    // Number of distinct identifiers.
    uint32_t size() const { return count_; }
    bool empty() const { return count_ == 0; }

private:
    const std::vector<Point>* points_ = nullptr;
    Text_slots slots_;  // identifier -> record
    uint32_t count_ = 0;
};

// The study probes of each region, as matrix rows (numbers of the study's
// probe registry) in position order; a region without probes has an empty
// list. One offset per region and one number per probe: no identifier is
// copied. Regions are filled in increasing order.
struct Region_probes {
    std::vector<uint32_t> start;  // region i holds rows[start[i] .. end(i)); regions from start.size() on are empty
    std::vector<uint32_t> rows;

    // Appends a probe to region (at least the last region appended to).
    void add(uint32_t region, uint32_t row);
    uint32_t count(uint32_t region) const;
    const uint32_t* begin(uint32_t region) const;
    // True when no region has a probe.
    bool empty() const { return rows.empty(); }
    // Number of regions with at least one probe.
    uint32_t regions_with_probes() const;
};

// A sorted region list and the study probes of each region.
struct CGI_description {
    std::vector<Bed> regions;
    Region_probes region_probes;
};

// Reads the probe annotation (id, chr, position, annotation per line) into
// points, sorted, and maps each identifier to the index of its first sorted
// record. False after "Error: cannot open file ..." when it cannot be opened,
// or "Error: cannot read file ..." when it cannot be read to its end.
bool read_probe_ann(const std::string& file, std::vector<Point>& points, Probe_index_map& probe_index_map);

// Reads the region file (chr, start, end, name per line) into regions,
// sorted. False after "Error: cannot open file ..." when it cannot be opened.
bool read_cgi(std::string file, std::vector<Bed>& regions);

// A study probe's annotation record (index into points) and matrix row.
struct Study_point {
    uint32_t record;
    uint32_t row;
};

// The annotation records of the study's probes, one per probe (the record the
// probe index map points to, with the row its identifier resolves to), in
// annotation order (chromosome, position). Annotated probes outside the study
// and duplicate annotation lines are left out.
std::vector<Study_point> study_points(const std::vector<Point>& points, const Data_description& study,
                                      const Probe_index_map& probe_index_map);

// Assigns every annotated study probe to the first region (in region order)
// that contains it, by one merge sweep of the sorted regions and probes.
void cgi_probe(const std::vector<Bed>& regions, const std::vector<Point>& points,
               const Data_description& study, const Probe_index_map& probe_index_map,
               Region_probes& region_probes);

#endif
