#include "line_reader.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include <fast_float/fast_float.h>

namespace {

// Bytes read per refill: most lines of a data file are 20-40 bytes, so one
// refill serves thousands of lines, and the blocks of the files a reader
// takes side by side stay in its core's cache while it parses them. Fuzzing
// builds read in small blocks, so that short inputs cross block boundaries
// too.
#ifdef CIMBREL_SMALL_BLOCKS
constexpr size_t block_size = 64;
#else
constexpr size_t block_size = 1 << 17;
#endif

}  // namespace

void Line_reader::reset() {
    begin_ = end_ = scanned_ = 0;
    at_end_ = failed_ = false;
}

bool Line_reader::open(const std::string& path) {
    reset();
    if (input_.open(path)) return true;
    at_end_ = true;
    return false;
}

void Line_reader::open_memory(const char* data, size_t size) {
    reset();
    input_.open_memory(data, size);
}

void Line_reader::close() {
    input_.close();
    reset();
    at_end_ = true;
}

// Keeps the unreturned bytes, moved to the front, and reads the next block
// behind them; the buffer grows when a single line fills it.
bool Line_reader::refill() {
    if (begin_ > 0) {
        std::copy(buffer_.begin() + begin_, buffer_.begin() + end_, buffer_.begin());
        end_ -= begin_;
        scanned_ -= begin_;
        begin_ = 0;
    }
    if (buffer_.size() < end_ + block_size) buffer_.resize(std::max(end_ + block_size, 2 * buffer_.size()));
    const long n = input_.read(buffer_.data() + end_, buffer_.size() - end_);
    if (n <= 0) {
        at_end_ = true;
        failed_ = n < 0;
        return false;
    }
    end_ += static_cast<size_t>(n);
    return true;
}

// take_line with "\r" as a line end of its own. A "\r" as the last byte read
// so far ends a line only once the next byte shows it is not followed by
// "\n" (or the file ends), so scanned_ stops on it.
bool Line_reader::take_cr_line(std::string_view& line) {
    const char* base = buffer_.data();
    const char* from = base + scanned_;
    const char* newline = static_cast<const char*>(memchr(from, '\n', end_ - scanned_));
    const char* limit = newline != nullptr ? newline : base + end_;
    const char* cr = static_cast<const char*>(memchr(from, '\r', static_cast<size_t>(limit - from)));
    const char* stop = nullptr;
    if (cr != nullptr && cr + 1 < limit) stop = cr + 1;  // a lone "\r"
    else if (newline != nullptr) stop = newline + 1;    // "\n" or "\r\n"
    if (stop == nullptr) {
        scanned_ = cr != nullptr ? static_cast<size_t>(cr - base) : end_;
        return false;
    }
    const size_t at = static_cast<size_t>(stop - base);
    line = std::string_view(base + begin_, at - begin_);
    begin_ = scanned_ = at;
    return true;
}

bool Line_reader::next_slow(std::string_view& line) {
    for (;;) {
        if (take_line(line)) return true;
        if (!cr_ends_) scanned_ = end_;
        if (!at_end_ && refill()) continue;
        if (failed_ || begin_ == end_) return false;
        line = std::string_view(buffer_.data() + begin_, end_ - begin_);  // last line, no line end
        begin_ = scanned_ = end_;
        return true;
    }
}

bool file_readable(const std::string& path) {
    Input_file input;
    return input.open(path);
}

bool file_intact(const std::string& path, std::string& error) {
    Input_file input;
    if (!input.open(path)) {
        error = input.error();
        return false;
    }
    std::vector<char> buffer(block_size);
    long n = 0;
    while ((n = input.read(buffer.data(), buffer.size())) > 0) {
    }
    error = input.error();
    return n == 0;
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

// The correctly rounded conversion of fast_float (the same doubles as the C
// library) with the rules of formatted stream extraction on top: a leading
// "+" is taken, "inf", "nan" and hexadecimal text are not numbers, an
// exponent mark without digits makes the read fail, and a value beyond the
// double range fails while an underflow gives the rounded (possibly zero)
// value. Short decimals, with or without a short exponent (the bulk of
// every data file), take an exact shortcut.
bool Line_scanner::number(double& out) {
    if (!ok_) return false;
    skip_space();
    const char* first = rest_.data();
    const char* last = first + rest_.size();
    const char* start = first;
    if (start < last && *start == '+') ++start;
    const bool negative = start < last && *start == '-' && start == first;
    const char* lead = negative ? start + 1 : start;
    if (lead == last || !(is_digit(*lead) || *lead == '.')) return ok_ = false;
    const char* end = nullptr;
    if (short_decimal(lead, last, negative, out, end)) {
        rest_.remove_prefix(static_cast<size_t>(end - first));
        return true;
    }
    double value = 0.0;
    const fast_float::from_chars_result result = fast_float::from_chars(start, last, value);
    if (result.ec != std::errc() || !std::isfinite(value)) return ok_ = false;
    end = result.ptr;
    if (end < last && (*end == 'e' || *end == 'E')) {
        // fast_float leaves a mark without exponent digits unread; the stream
        // takes it in and fails. A mark after a complete exponent ends the number.
        bool exponent = false;
        for (const char* c = start; c < end; ++c) exponent = exponent || *c == 'e' || *c == 'E';
        if (!exponent) return ok_ = false;
    }
    out = value;
    rest_.remove_prefix(static_cast<size_t>(end - first));
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
