#include "line_reader.h"

#include <sstream>
#include <sys/stat.h>

Line_reader::~Line_reader() {
    close();
    free(buffer_);
}

bool Line_reader::open(const std::string& path) {
    close();
    if (!file_readable(path)) return false;
    file_ = fopen(path.c_str(), "r");
    return file_ != nullptr;
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
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
    FILE* file = fopen(path.c_str(), "r");
    if (file == nullptr) return false;
    fclose(file);
    return true;
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

// Reads one value of type T from the front of text with a string stream and
// reports how many characters it consumed.
template <class T>
bool extract(std::string_view text, T& out, size_t& consumed) {
    std::istringstream stream{std::string(text)};
    T value{};
    if (!(stream >> value)) return false;
    out = value;
    consumed = stream.eof() ? text.size() : static_cast<size_t>(stream.tellg());
    return true;
}

}  // namespace

bool Line_scanner::number(double& out) {
    if (!ok_) return false;
    skip_space();
    size_t consumed = 0;
    if (!extract(rest_, out, consumed)) return ok_ = false;
    rest_.remove_prefix(consumed);
    return true;
}

bool Line_scanner::number(uint32_t& out) {
    if (!ok_) return false;
    skip_space();
    size_t consumed = 0;
    if (!extract(rest_, out, consumed)) return ok_ = false;
    rest_.remove_prefix(consumed);
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
