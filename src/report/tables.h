// Readers of the result tables that cimbrel writes, for the report.
//
// Probe table: tab-separated, header `ID Pvalue FDR Range <group…> CHR LOC
// ANN`; the fixed columns are taken by position (the first four and the last
// three, as cimbrel writes them), the group columns are those between, in
// header order, whatever their names. Region tables (r1, r2): header `CHR
// START END NAME PVALUE FDR PROBE ANNOTATION`; NAME may be empty, PROBE is a
// comma list with a trailing comma; START is not after END. Their columns
// are found by header name, so their order is free and a missing one is
// named in the error. Plain or gzip input (through Line_reader); lines may
// end in CRLF; blank lines are skipped.
//
// A p-value above 1 marks an untested row (cimbrel uses 2.0); such rows are
// kept but take no part in the statistics. Range and group means may be "-"
// (no mean), read as NaN. Rows keep their line text so that the few rows a
// report lists can be shown in full without storing every field of every row.
#ifndef CIMBREL_REPORT_TABLES_H
#define CIMBREL_REPORT_TABLES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Where a row's line sits in its table's text.
struct Line_span {
    uint64_t offset = 0;
    uint32_t length = 0;
};

struct Probe_row {
    double p = 0.0;       // Pvalue; above 1 = not tested
    double fdr = 0.0;
    double range = 0.0;   // largest - smallest group mean; NaN for "-"
    uint32_t chr = 0;     // index into Probe_table::chromosomes
    uint32_t loc = 0;
    Line_span line;
};

// Column positions in a probe table's header.
struct Probe_columns {
    size_t id = 0, p = 0, fdr = 0, range = 0, chr = 0, loc = 0, ann = 0;
    std::vector<size_t> groups;   // in header order
    size_t count = 0;             // fields per line
};

struct Probe_table {
    std::string path;
    Probe_columns columns;
    std::vector<std::string> groups;        // group names, header order
    std::vector<std::string> chromosomes;   // names in order of first appearance
    std::vector<Probe_row> rows;            // in file order
    std::string text;                       // the rows' lines, without line ends

    bool tested(const Probe_row& row) const { return row.p <= 1.0; }
    // Field `column` of row's line (a position from `columns`).
    std::string_view field(const Probe_row& row, size_t column) const;
};

struct Region_row {
    double p = 0.0;       // PVALUE; above 1 = not tested
    double fdr = 0.0;
    uint32_t chr = 0;     // index into Region_table::chromosomes
    uint32_t start = 0;   // half-open [start, end)
    uint32_t end = 0;
    Line_span line;
};

struct Region_columns {
    size_t chr = 0, start = 0, end = 0, name = 0, p = 0, fdr = 0, probe = 0, annotation = 0;
    size_t count = 0;
};

struct Region_table {
    std::string path;
    Region_columns columns;
    std::vector<std::string> chromosomes;
    std::vector<Region_row> rows;
    std::string text;

    std::string_view field(const Region_row& row, size_t column) const;
};

// Read the probe table at path into table. False on a file that cannot be
// opened or read to its end, a header without the fixed columns in place, a
// row with the wrong number of fields or a field that is not what its column
// holds, and a table without rows; error then holds "FILE:LINE: what is
// wrong" (or "FILE: ..." when no line is concerned).
bool read_probe_table(const std::string& path, Probe_table& table, std::string& error);

// The same for a region table; a table with a header and no rows is valid
// (cimbrel writes one when no region passed its thresholds), a row whose
// START lies after its END is not.
bool read_region_table(const std::string& path, Region_table& table, std::string& error);

// Field number `column` (0-based) of a tab-separated line; empty when the line
// has fewer fields.
std::string_view tab_field(std::string_view line, size_t column);

#endif
