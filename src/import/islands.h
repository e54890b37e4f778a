// CpG island (region) files: UCSC's cpgIslandExt.txt (bin, chrom,
// chromStart, chromEnd, name, length, ...; tab-separated, names such as
// "CpG: 116" hold a space) or plain BED (chrom, start, end, optional name,
// ...; tabs, or any white space when a line has no tab). The layout is
// detected from the first data line of each file: a first column that is a
// whole number and a second that is not means UCSC. Both are half-open
// with zero-based starts, so coordinates are copied as they stand. "#",
// "track" and "browser" lines and blank lines are skipped.
#ifndef CIMBREL_IMPORT_ISLANDS_H
#define CIMBREL_IMPORT_ISLANDS_H

#include <cstdint>
#include <functional>
#include <string>

class Line_reader;

// One region of cimbrel's region file. A record handed out has a non-empty
// chromosome and name without white space and start <= end.
struct Region_record {
    std::string chr;
    uint32_t start = 0;
    uint32_t end = 0;
    std::string name;  // white space removed; "chrom:start-end" when the file gives none
};

enum class Island_layout { unknown, ucsc, bed };

// Reads the regions and calls sink with each, in file order; layout is set
// to what was detected. False, with error "FILE:LINE: what", for a line
// with too few columns, a coordinate that is not a whole number, start after
// end, or a read or decompression error.
bool read_islands(Line_reader& reader, const std::string& file,
                  const std::function<void(const Region_record&)>& sink, Island_layout& layout,
                  size_t& regions, std::string& error);

// Reads the file at path and writes the region file out (whole or not at
// all). False with error as above, or when out cannot be written.
bool import_islands(const std::string& path, const std::string& out, Island_layout& layout, size_t& regions,
                    std::string& error);

#endif
