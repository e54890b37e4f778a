// The sample sheet: a CSV or TSV table with a header row, as Excel saves it
// (UTF-8 byte-order mark, CRLF line ends or CR alone as Excel for Mac
// writes them, quoted fields) or as Illumina's
// SampleSheet.csv holds it (bracketed blocks such as [Header], the table
// after the [Data] line). Cells are trimmed; blank rows and rows of empty
// cells are skipped; a row shorter than the header is padded with empty
// cells; a row with more non-empty cells than the header is an error.
#ifndef CIMBREL_IMPORT_SHEET_H
#define CIMBREL_IMPORT_SHEET_H

#include <string>
#include <vector>

class Line_reader;

struct Sheet_row {
    size_t line = 0;                 // line number in the file (from 1)
    std::vector<std::string> cells;  // one per header column, trimmed
};

struct Sheet {
    std::string file;                 // the name used in messages
    size_t header_line = 0;
    std::vector<std::string> header;  // column names, trimmed
    std::vector<Sheet_row> rows;

    // Index of the column named name; false when there is none.
    bool column(const std::string& name, size_t& index) const;
};

// Reads the sheet from an open reader; file names it in messages. False,
// with error "FILE:LINE: what", for a bad quote, a row with too many
// cells, a repeated column name, no header, a read or decompression error.
bool read_sheet(Line_reader& reader, const std::string& file, Sheet& sheet, std::string& error);

// The same from a path (plain or gzip); an unreadable file is an error.
bool read_sheet_file(const std::string& path, Sheet& sheet, std::string& error);

#endif
