// CpG island (region) files: UCSC's cpgIslandExt.txt (bin, chrom,
// chromStart, chromEnd, name, length, ...; 11 tab-separated columns, names
// such as "CpG: 116" hold a space) or plain BED (chrom, start, end, optional
// name, ...; tabs, or any white space when a line has no tab). The layout
// is told from the columns of the first data line as a whole, since
// chromosomes may be numbers too (Ensembl's "1" for UCSC's "chr1"): 11
// columns with a whole-number bin, start and end and a name holding a
// space are UCSC; so is a whole-number first column before a chromosome
// that is not a number; whole numbers in columns 2 and 3 are BED, unless
// columns 1 and 4 are whole numbers too, which either layout could hold,
// and the reader then refuses the file unless the layout is given. "#",
// "track" and "browser" lines and blank lines are skipped.
//
// Coordinates: both layouts count bases from 0 with the end excluded
// (chromStart 0, chromEnd 10 is the first ten bases), while the probes'
// positions (the manifest's MAPINFO) count from 1. Regions are written in
// the probes' convention, start = chromStart + 1 and end = chromEnd + 1, so
// that cimbrel's test start <= position < end takes exactly the island's
// bases.
#ifndef CIMBREL_IMPORT_ISLANDS_H
#define CIMBREL_IMPORT_ISLANDS_H

#include <cstdint>
#include <functional>
#include <string>

class Line_reader;

// One region of cimbrel's region file, in the probes' 1-based convention.
// A record handed out has a non-empty chromosome and name without white
// space and start <= end.
struct Region_record {
    std::string chr;
    uint32_t start = 0;
    uint32_t end = 0;
    std::string name;  // white space removed; "chrom:chromStart-chromEnd" (as in the file) when it gives none
};

enum class Island_layout { unknown, ucsc, bed };

struct Island_counts {
    size_t regions = 0;   // records handed out
    size_t repeated = 0;  // lines that repeat a region already handed out, left out
};

// Reads the regions and calls sink with each, in file order, once: a line
// giving the same region (chromosome, coordinates, name) as an earlier one
// is counted as repeated instead. layout unknown: told from the first data
// line and set; ucsc or bed: taken as given. False, with error "FILE:LINE:
// what", for a layout that cannot be told, a line with too few columns, a
// coordinate that is not a whole number or is out of range, start after
// end, or a read or decompression error.
bool read_islands(Line_reader& reader, const std::string& file,
                  const std::function<void(const Region_record&)>& sink, Island_layout& layout,
                  Island_counts& counts, std::string& error);

// Reads the file at path and writes the region file out (whole or not at
// all). False with error as above, or when out cannot be written.
bool import_islands(const std::string& path, const std::string& out, Island_layout& layout, Island_counts& counts,
                    std::string& error);

#endif
