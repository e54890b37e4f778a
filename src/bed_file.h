// Genome annotation: probe positions (Point), genomic regions (Bed, half-open
// [start, end) in the coordinates of the annotation file), the readers of the
// probe annotation and region files, and the probe-to-region mapping.
#ifndef CIMBREL_BED_FILE_H
#define CIMBREL_BED_FILE_H

#include <cstdint>
#include <map>
#include <string>
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

// A sorted region list and, per region index, its probe identifiers in
// position order (an entry exists only for a region with probes).
struct CGI_description {
    std::vector<Bed> regions;
    std::map<uint32_t, std::vector<std::string>> region_probes;
};

// Reads the probe annotation (id, chr, position, annotation per line) into
// points, sorted, and maps each identifier to the index of its first sorted
// record. False after "Error: cannot open file ..." when it cannot be opened.
bool read_probe_ann(const std::string& file, std::vector<Point>& points,
                    std::map<std::string, uint32_t>& probe_index_map);

// Reads the region file (chr, start, end, name per line) into regions,
// sorted. False after "Error: cannot open file ..." when it cannot be opened.
bool read_cgi(std::string file, std::vector<Bed>& regions);

// The annotation records of the study's probes, one per probe (the record the
// probe index map points to), in annotation order (chromosome, position).
// Annotated probes outside the study and duplicate annotation lines are left out.
std::vector<Point> study_points(const std::vector<Point>& points, const Data_description& description,
                                const std::map<std::string, uint32_t>& probe_index_map);

// Assigns every annotated study probe to the first region (in region order)
// that contains it, by one merge sweep of the sorted regions and probes.
void cgi_probe(const std::vector<Bed>& regions, const std::vector<Point>& points,
               const Data_description& description,
               const std::map<std::string, uint32_t>& probe_index_map,
               std::map<uint32_t, std::vector<std::string>>& region_probes);

#endif
