// Text input shared by every reader: whole lines of any length, and a cursor
// that reads words and numbers from a line with the rules of formatted stream
// extraction (leading white space skipped; a number is read from the start of
// the remaining text and anything after it is left for the next read; once a
// read fails, every later read on the line fails too).
#ifndef CIMBREL_LINE_READER_H
#define CIMBREL_LINE_READER_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "input_file.h"

// Whole lines of a text file, plain or gzip-compressed (see input_file.h),
// read in large blocks. A line is returned with its line end ("\n"; the last
// line of a file may have none) and stays valid until the next call.
class Line_reader {
public:
    Line_reader() = default;
    explicit Line_reader(const std::string& path) { open(path); }
    Line_reader(const Line_reader&) = delete;
    Line_reader& operator=(const Line_reader&) = delete;

    // False when the file is missing, unreadable or a directory.
    bool open(const std::string& path);
    // Reads the size bytes at data (kept by the caller) as a file.
    void open_memory(const char* data, size_t size);
    bool is_open() const { return input_.is_open(); }
    // Next line; false at the end of the file and after an error.
    bool next(std::string_view& line);
    // After next() returned false: true when reading stopped on an error
    // (a read error, a corrupt or truncated compressed file) rather than at
    // the end; error() says what it was, for a message naming the file.
    bool failed() const { return failed_; }
    const std::string& error() const { return input_.error(); }
    bool compressed() const { return input_.compressed(); }
    void close();

private:
    void reset();
    bool refill();

    Input_file input_;
    std::vector<char> buffer_;  // [begin_, end_) is read and not yet returned
    size_t begin_ = 0;
    size_t end_ = 0;
    size_t scanned_ = 0;        // [begin_, scanned_) holds no line end
    bool at_end_ = false;
    bool failed_ = false;
};

// Reads the whole file to check that it can be read to its end; false, with
// the reason in error, when it cannot be opened or its compressed content is
// corrupt or truncated.
bool file_intact(const std::string& path, std::string& error);

// True when path names a regular file (or other non-directory) that can be opened for reading.
bool file_readable(const std::string& path);

// Reads fields from one line like an input string stream would.
class Line_scanner {
public:
    explicit Line_scanner(std::string_view line) : rest_(line) {}
    bool ok() const { return ok_; }
    // The text not read yet.
    std::string_view rest() const { return rest_; }
    // A maximal run of non-white characters.
    bool word(std::string& out);
    bool word(std::string_view& out);
    // A decimal real number as extracted into a double.
    bool number(double& out);
    // An unsigned 32-bit integer as extracted into one (a leading "-" wraps).
    bool number(uint32_t& out);

private:
    void skip_space();
    std::string_view rest_;
    bool ok_ = true;
};

// Whole-text helpers with the same rules, for command-line values.
bool read_number(const std::string& text, double& out);
bool read_number(const std::string& text, uint32_t& out);

// White space as the stream extraction sees it (blank, \t, \n, \v, \f, \r).
inline bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

#endif
