// Delimited text as spreadsheets and R write it: CSV or TSV lines split into
// fields, with double-quoted fields ("a, b", "say ""hi""") unquoted; the
// delimiter is chosen from the header line (a tab makes it TSV, otherwise
// CSV). A quoted field spans one line only. Also the small text helpers the
// importers share: line ends, byte-order mark, trimming, white space, and
// the check that a token is a number cimbrel reads whole. Every importer
// reader takes "\n", "\r\n" and a lone "\r" as line ends.
#ifndef CIMBREL_IMPORT_DELIMITED_H
#define CIMBREL_IMPORT_DELIMITED_H

#include <string>
#include <string_view>
#include <vector>

#include "messages.h"  // at_line, the form of every input message

class Line_reader;

enum class Delimiter { automatic, tab, comma };

// Tab when the header line holds one, comma otherwise (for automatic).
char delimiter_char(Delimiter choice, std::string_view header);

// Splits one line into fields. The views point into the line or into the
// splitter's own buffer and stay valid until the next split.
class Field_splitter {
public:
    // False, with error() set, for an unterminated quote or text after a
    // closing quote. The line end ("\n", "\r\n", "\r") is not part of the last field.
    bool split(std::string_view line, char delimiter);
    const std::vector<std::string_view>& fields() const { return fields_; }
    const std::string& error() const { return error_; }

private:
    bool quoted_field(std::string_view line, size_t& i, char delimiter);
    std::vector<std::string_view> fields_;
    std::string unquoted_;  // reserved to the line's length, so views into it stay valid
    std::string error_;
};

// The line without its "\n", "\r\n" or "\r".
std::string_view without_line_end(std::string_view line);
// The text without a leading UTF-8 byte-order mark.
std::string_view without_bom(std::string_view text);
// The text without leading and trailing white space.
std::string_view trim(std::string_view text);
// True when the line holds nothing but white space.
bool is_blank(std::string_view line);
bool has_space(std::string_view text);
// Every run of white space replaced by one "_" (after trimming).
std::string underscore_spaces(std::string_view text);
// Lower-case ASCII copy, for case-insensitive matching.
std::string lower_case(std::string_view text);
// "n things": the count and the thing, with an "s" unless n is 1.
std::string plural(size_t n, const std::string& thing);
// True when the whole token is one decimal number as cimbrel reads it.
bool is_number(std::string_view token, double& value);

// Opens path (plain or gzip); false, with error "cannot open PATH", when it cannot.
bool open_input(Line_reader& reader, const std::string& path, std::string& error);
// After a reading loop ended: true, with error set to "FILE: what", when the
// reader stopped on a read error or a corrupt or truncated compressed file.
bool read_failed(const Line_reader& reader, const std::string& file, std::string& error);

#endif
