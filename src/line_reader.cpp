#include "line_reader.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <stdio_ext.h>
#include <sys/stat.h>

namespace {

// Large stdio buffer: data files run to tens of megabytes each and are read
// by several workers at once.
constexpr size_t file_buffer_size = 1 << 20;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

Line_reader::~Line_reader() {
    close();
    free(buffer_);
}

bool Line_reader::open(const std::string& path) {
    close();
    FILE* file = fopen(path.c_str(), "r");
    if (file == nullptr) return false;
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
        fclose(file);
        return false;
    }
    // One reader per file and thread: the stream needs no lock of its own.
    __fsetlocking(file, FSETLOCKING_BYCALLER);
    setvbuf(file, nullptr, _IOFBF, file_buffer_size);
    file_ = file;
    return true;
}

bool Line_reader::next(std::string_view& line) {
    if (file_ == nullptr) return false;
    ssize_t length = getline(&buffer_, &capacity_, file_);
    if (length < 0) return false;
    line = std::string_view(buffer_, static_cast<size_t>(length));
    return true;
}

void Line_reader::close() {
    if (file_ != nullptr) fclose(file_);
    file_ = nullptr;
}

bool file_readable(const std::string& path) {
    Line_reader reader;
    return reader.open(path);
}

void Line_scanner::skip_space() {
    size_t i = 0;
    while (i < rest_.size() && is_space(rest_[i])) ++i;
    rest_.remove_prefix(i);
}

bool Line_scanner::word(std::string_view& out) {
    if (!ok_) return false;
    skip_space();
    size_t i = 0;
    while (i < rest_.size() && !is_space(rest_[i])) ++i;
    if (i == 0) return ok_ = false;
    out = rest_.substr(0, i);
    rest_.remove_prefix(i);
    return true;
}

bool Line_scanner::word(std::string& out) {
    std::string_view view;
    if (!word(view)) return false;
    out.assign(view.data(), view.size());
    return true;
}

namespace {

// Extent of a real number at the front of text, as the formatted extraction
// of a double collects it: [sign] digits [. digits] [e|E [sign] digits],
// where the digits before or after the point may be missing. The scan stops
// at the first character that cannot continue the number. complete is false
// when the collected text is no number: no mantissa digit, or an exponent
// mark without a digit after it.
size_t real_extent(std::string_view text, bool& complete) {
    size_t i = 0, n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    bool mantissa = false, point = false;
    while (i < n) {
        if (is_digit(text[i])) {
            mantissa = true;
        } else if (text[i] == '.' && !point) {
            point = true;
        } else if ((text[i] == 'e' || text[i] == 'E') && mantissa) {
            ++i;
            if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
            size_t digits = i;
            while (i < n && is_digit(text[i])) ++i;
            complete = i > digits;
            return i;
        } else {
            break;
        }
        ++i;
    }
    complete = mantissa;
    return i;
}

// Rare path (values beyond the double range, or text the fast converter does
// not take whole): the C library conversion, with the stream's rules on top:
// an overflow fails, an underflow gives the rounded (possibly zero) value.
bool convert_slow(std::string_view number, double& out) {
    std::string copy(number);
    char* end = nullptr;
    double value = strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || std::isinf(value)) return false;
    out = value;
    return true;
}

bool convert_real(std::string_view number, double& out) {
    const char* first = number.data();
    const char* last = first + number.size();
    if (*first == '+') ++first;
    double value = 0.0;
    std::from_chars_result result = std::from_chars(first, last, value);
    if (result.ec == std::errc() && result.ptr == last && std::isfinite(value)) {
        out = value;
        return true;
    }
    return convert_slow(number, out);
}

}  // namespace

bool Line_scanner::number(double& out) {
    if (!ok_) return false;
    skip_space();
    bool complete = false;
    size_t length = real_extent(rest_, complete);
    if (!complete || !convert_real(rest_.substr(0, length), out)) return ok_ = false;
    rest_.remove_prefix(length);
    return true;
}

// [sign] digits. A magnitude above 2^32 - 1 fails; a "-" negates modulo 2^32,
// so "-1" reads as 4294967295, as the formatted extraction of an unsigned does.
bool Line_scanner::number(uint32_t& out) {
    if (!ok_) return false;
    skip_space();
    size_t i = 0, n = rest_.size();
    bool negative = false;
    if (i < n && (rest_[i] == '+' || rest_[i] == '-')) negative = rest_[i++] == '-';
    size_t digits = i;
    uint64_t value = 0;
    bool overflow = false;
    for (; i < n && is_digit(rest_[i]); ++i) {
        value = value * 10 + static_cast<uint64_t>(rest_[i] - '0');
        if (value > UINT32_MAX) {
            overflow = true;
            value = UINT32_MAX;
        }
    }
    if (i == digits || overflow) return ok_ = false;
    uint32_t magnitude = static_cast<uint32_t>(value);
    out = negative ? 0u - magnitude : magnitude;
    rest_.remove_prefix(i);
    return true;
}

bool read_number(const std::string& text, double& out) {
    Line_scanner scanner(text);
    return scanner.number(out);
}

bool read_number(const std::string& text, uint32_t& out) {
    Line_scanner scanner(text);
    return scanner.number(out);
}
