// The vendor's array manifest (450K, EPIC, EPIC v2 CSV): a [Heading]
// block, then [Assay] with a header row naming IlmnID, CHR, MAPINFO,
// Relation_to_UCSC_CpG_Island and more, one row per probe, then [Controls]
// (any line starting with "[") ends the probes. A file holding only the
// table (header row with IlmnID, then the probes) reads the same.
// Read into the records of cimbrel's probe annotation file: identifier =
// IlmnID as written (EPIC v2 keeps its suffix, cg00000029_TC21), chromosome
// always "chrN" (450K writes "1", later manifests "chr1"; the
// mitochondrial "MT" is written "chrM", as UCSC names it), position =
// MAPINFO, annotation = the island relation (empty: "OpenSea") or chosen
// columns joined by "|" (empty cells as "."); white space inside an
// annotation becomes "_".
#ifndef CIMBREL_IMPORT_MANIFEST_H
#define CIMBREL_IMPORT_MANIFEST_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class Field_splitter;
class Line_reader;

// One probe of the annotation file. A record handed out always has a
// non-empty identifier and chromosome without white space, a position > 0
// and a non-empty one-word annotation.
struct Annotation_record {
    std::string id;
    std::string chr;
    uint32_t position = 0;
    std::string annotation;
};

struct Manifest_counts {
    size_t probes = 0;            // records handed out
    size_t without_position = 0;  // probes without chromosome or position, left out
    size_t repeated = 0;          // rows repeating an earlier probe's identical record, left out
};

// Reads the manifest and calls sink with each probe's record, in file
// order, each identifier once (a row repeating an identical record is
// counted, not handed out). ann_columns empty: the island relation is the
// annotation. False, with error "FILE:LINE: what", when there is no header
// row with IlmnID, a needed column is missing, a row has more fields than
// the header or too few to reach a needed column, an identifier is empty or
// holds white space, MAPINFO is not a whole number, an identifier appears
// again with another record, no probe has a chromosome and position, or on
// a read or decompression error.
bool read_manifest(Line_reader& reader, const std::string& file, const std::vector<std::string>& ann_columns,
                   const std::function<void(const Annotation_record&)>& sink, Manifest_counts& counts,
                   std::string& error);

// Skips the [Heading] block up to the header row, the first line with an
// IlmnID cell, which it leaves split in splitter (delimiter chosen from it;
// number counts the lines read). False, with error naming file, when there
// is none or the file cannot be read to its end.
bool find_manifest_header(Line_reader& reader, const std::string& file, Field_splitter& splitter, char& delimiter,
                          size_t& number, std::string& error);

// Reads the manifest at path and writes the annotation file out (whole or
// not at all). False with error as above, or when out cannot be written.
bool import_manifest(const std::string& path, const std::string& out, const std::vector<std::string>& ann_columns,
                     Manifest_counts& counts, std::string& error);

#endif
