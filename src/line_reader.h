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
#include <cstring>
#include <string_view>
#include <vector>

#include "input_file.h"

// Whole lines of a text file, plain or gzip-compressed (see input_file.h),
// read in large blocks. A line is returned with its line end ("\n"; the last
// line of a file may have none) and stays valid until the next call. With
// cr_line_ends(true), a lone "\r" (old Mac OS, Excel's "CSV (Macintosh)")
// ends a line too and is returned as its line end; "\r\n" stays one line end.
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
    // Also take a lone "\r" as a line end (off by default: cimbrel's own files end lines in "\n").
    void cr_line_ends(bool on) { cr_ends_ = on; }
    // Next line; false at the end of the file and after an error.
    bool next(std::string_view& line) { return take_line(line) || next_slow(line); }
    // After next() returned false: true when reading stopped on an error
    // (a read error, a corrupt or truncated compressed file) rather than at
    // the end; error() says what it was, for a message naming the file.
    bool failed() const { return failed_; }
    const std::string& error() const { return input_.error(); }
    bool compressed() const { return input_.compressed(); }
    uint64_t size_hint() const { return input_.size_hint(); }
    void close();

private:
    void reset();
    bool refill();
    bool next_slow(std::string_view& line);
    bool take_cr_line(std::string_view& line);
    // The next whole line already in the buffer, if there is one.
    bool take_line(std::string_view& line) {
        if (scanned_ >= end_) return false;
        if (cr_ends_) return take_cr_line(line);
        const char* base = buffer_.data();
        const void* found = memchr(base + scanned_, '\n', end_ - scanned_);
        if (found == nullptr) return false;
        const size_t stop = static_cast<size_t>(static_cast<const char*>(found) - base) + 1;
        line = std::string_view(base + begin_, stop - begin_);
        begin_ = scanned_ = stop;
        return true;
    }

    Input_file input_;
    std::vector<char> buffer_;  // [begin_, end_) is read and not yet returned
    size_t begin_ = 0;
    size_t end_ = 0;
    size_t scanned_ = 0;        // [begin_, scanned_) holds no line end
    bool at_end_ = false;
    bool failed_ = false;
    bool cr_ends_ = false;
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
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A short number at text: digits, an optional point and digits, at most 19
// digits in all, and an optional exponent (e or E, a sign, 1 to 3 digits).
// Its mantissa is then an integer below 2^63; when it is an exact double (up
// to 2^53) and the power of ten it is scaled by is too (10^0 to 10^22), one
// correctly rounded division or multiplication gives the correctly rounded
// value, the one stream extraction gives. False for anything else (an
// exponent mark without digits among it), which Line_scanner::number reads
// by its general path. On success end is the first character after the
// number.
inline bool short_decimal(const char* text, const char* last, bool negative, double& out, const char*& end) {
    static constexpr double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    uint64_t mantissa = 0;
    const char* p = text;
    for (; p < last && is_digit(*p); ++p) mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
    const size_t digits = static_cast<size_t>(p - text);
    int fraction = 0;
    if (digits > 19) return false;
    if (p < last && *p == '.') {
        for (++p; p < last && is_digit(*p) && digits + static_cast<size_t>(fraction) < 19; ++p, ++fraction)
            mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
        if (p < last && is_digit(*p)) return false;
    }
    if (digits + static_cast<size_t>(fraction) == 0 || mantissa > (uint64_t(1) << 53)) return false;
    int scale = fraction;  // the value is mantissa / 10^scale
    if (p < last && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool down = p < last && *p == '-';
        if (p < last && (*p == '-' || *p == '+')) ++p;
        int exponent = 0;
        const char* const first = p;
        for (; p < last && is_digit(*p) && p - first < 3; ++p) exponent = exponent * 10 + (*p - '0');
        if (p == first || (p < last && is_digit(*p))) return false;
        scale = down ? scale + exponent : scale - exponent;
    }
    if (scale > 22 || scale < -22) return false;
    const double value = scale >= 0 ? static_cast<double>(mantissa) / powers[scale]
                                    : static_cast<double>(mantissa) * powers[-scale];
    out = negative ? -value : value;
    end = p;
    return true;
}

// True when text starts with a number whose form alone shows it below 0.01:
// one digit, an optional point and digits, e or E, "-" and an exponent of 3
// or more (so below 10 x 10^-3), the form array software gives the
// detection p-values of detected probes (1.49560e-11, 3.678E-38). Such a
// text always reads as a number (a tiny one may round to zero). False
// leaves the number undecided, never wrong: it is then converted.
inline bool below_hundredth(const char* text, const char* last) {
    const char* p = text;
    if (p == last || !is_digit(*p)) return false;
    ++p;
    if (p < last && *p == '.')
        for (++p; p < last && is_digit(*p);) ++p;
    if (last - p < 3 || (*p != 'e' && *p != 'E') || p[1] != '-' || !is_digit(p[2])) return false;
    p += 2;
    while (p < last && *p == '0') ++p;  // leading zeros of the exponent
    return p < last && is_digit(*p) && (*p >= '3' || (p + 1 < last && is_digit(p[1])));
}

#endif
