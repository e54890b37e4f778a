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

// Opens a text file for reading; a directory or a missing file fails.
class Line_reader {
public:
    Line_reader() = default;
    explicit Line_reader(const std::string& path) { open(path); }
    ~Line_reader();
    Line_reader(const Line_reader&) = delete;
    Line_reader& operator=(const Line_reader&) = delete;

    bool open(const std::string& path);
    bool is_open() const { return file_ != nullptr; }
    // Next line including its line end ("\n" or none at the end of the file);
    // the view stays valid until the next call. False at the end of the file.
    bool next(std::string_view& line);
    void close();

private:
    FILE* file_ = nullptr;
    char* buffer_ = nullptr;       // the current line
    size_t capacity_ = 0;
    char* file_buffer_ = nullptr;  // stdio buffer, kept across files
};

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
