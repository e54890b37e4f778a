#include "line_reader.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Bytes read per refill: most lines of a data file are 20-40 bytes, so one
// refill serves tens of thousands of lines.
constexpr size_t block_size = 1 << 20;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

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

bool Line_reader::next(std::string_view& line) {
    for (;;) {
        const char* base = buffer_.data();
        const void* found = scanned_ < end_ ? memchr(base + scanned_, '\n', end_ - scanned_) : nullptr;
        if (found != nullptr) {
            const size_t stop = static_cast<const char*>(found) - base + 1;
            line = std::string_view(base + begin_, stop - begin_);
            begin_ = scanned_ = stop;
            return true;
        }
        scanned_ = end_;
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

namespace {

// A real number at the front of text, as the formatted extraction of a double
// collects it: [sign] digits [. digits] [e|E [sign] digits], where the digits
// before or after the point may be missing; the scan stops at the first
// character that cannot continue the number. Up to 19 significant digits are
// kept as an integer mantissa with a power of ten, for the exact short path.
struct Real_text {
    size_t length = 0;       // characters collected
    bool complete = false;   // false: no mantissa digit, or an exponent mark without a digit
    bool negative = false;
    bool short_form = true;  // mantissa holds every significant digit
    uint64_t mantissa = 0;
    int64_t scale = 0;       // value = mantissa * 10^scale
    int significant = 0;
};

void add_digit(Real_text& real, int digit, bool after_point) {
    if (real.mantissa == 0 && digit == 0) {  // a leading zero only shifts the point
        if (after_point) --real.scale;
        return;
    }
    if (real.significant == 19) {
        real.short_form = false;
        return;
    }
    real.mantissa = real.mantissa * 10 + static_cast<uint64_t>(digit);
    ++real.significant;
    if (after_point) --real.scale;
}

// Exponent digits after the mark at text[i - 1]; returns the index after them.
size_t scan_exponent(std::string_view text, size_t i, Real_text& real) {
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    size_t first = i;
    int64_t exponent = 0;
    for (; i < text.size() && is_digit(text[i]); ++i)
        if (exponent < 1000000) exponent = exponent * 10 + (text[i] - '0');
    real.complete = i > first;
    real.scale += negative ? -exponent : exponent;
    return i;
}

Real_text scan_real(std::string_view text) {
    Real_text real;
    size_t i = 0, n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-')) real.negative = text[i++] == '-';
    bool digit_seen = false, point = false;
    for (; i < n; ++i) {
        char c = text[i];
        if (is_digit(c)) {
            digit_seen = true;
            add_digit(real, c - '0', point);
        } else if (c == '.' && !point) {
            point = true;
        } else if ((c == 'e' || c == 'E') && digit_seen) {
            real.length = scan_exponent(text, i + 1, real);
            return real;
        } else {
            break;
        }
    }
    real.complete = digit_seen;
    real.length = i;
    return real;
}

// Exact short path: a mantissa below 2^53 and a power of ten up to 10^22 are
// both exact doubles, so one multiplication or division rounds correctly.
bool convert_short(const Real_text& real, double& out) {
    static const double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (!real.short_form || real.mantissa > (uint64_t(1) << 53)) return false;
    double value = static_cast<double>(real.mantissa);
    if (real.mantissa != 0) {
        if (real.scale < -22 || real.scale > 22) return false;
        value = real.scale < 0 ? value / powers[-real.scale] : value * powers[real.scale];
    }
    out = real.negative ? -value : value;
    return true;
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

// General path: the fast correctly rounded converter, then the C library.
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
    Real_text real = scan_real(rest_);
    if (!real.complete) return ok_ = false;
    if (!convert_short(real, out) && !convert_real(rest_.substr(0, real.length), out)) return ok_ = false;
    rest_.remove_prefix(real.length);
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
