#include "delimited.h"

#include "line_reader.h"

char delimiter_char(Delimiter choice, std::string_view header) {
    if (choice == Delimiter::tab) return '\t';
    if (choice == Delimiter::comma) return ',';
    return header.find('\t') != std::string_view::npos ? '\t' : ',';
}

// A quoted field from the opening quote at line[i] to its closing quote;
// doubled quotes stand for one. Leaves i on the delimiter after the field
// (or at the end of the line).
bool Field_splitter::quoted_field(std::string_view line, size_t& i, char delimiter) {
    size_t begin = unquoted_.size();
    for (++i; i < line.size(); ++i) {
        if (line[i] != '"') {
            unquoted_ += line[i];
        } else if (i + 1 < line.size() && line[i + 1] == '"') {
            unquoted_ += '"';
            ++i;
        } else {
            break;
        }
    }
    if (i == line.size()) {
        error_ = "a quoted field has no closing quote";
        return false;
    }
    for (++i; i < line.size() && line[i] != delimiter; ++i) {
        if (line[i] == ' ') continue;
        error_ = "text after the closing quote of a field";
        return false;
    }
    fields_.emplace_back(unquoted_.data() + begin, unquoted_.size() - begin);
    return true;
}

bool Field_splitter::split(std::string_view line, char delimiter) {
    line = without_line_end(line);
    fields_.clear();
    unquoted_.clear();
    unquoted_.reserve(line.size());
    size_t i = 0;
    for (;;) {
        if (i < line.size() && line[i] == '"') {
            if (!quoted_field(line, i, delimiter)) return false;
        } else {
            size_t end = line.find(delimiter, i);
            if (end == std::string_view::npos) end = line.size();
            fields_.push_back(line.substr(i, end - i));
            i = end;
        }
        if (i >= line.size()) return true;
        ++i;  // the delimiter
    }
}

std::string_view without_line_end(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

std::string_view without_bom(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    return text;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    return text;
}

bool is_blank(std::string_view line) { return trim(line).empty(); }

bool has_space(std::string_view text) {
    for (char c : text)
        if (is_space(c)) return true;
    return false;
}

std::string underscore_spaces(std::string_view text) {
    text = trim(text);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (!is_space(text[i])) {
            out += text[i];
        } else if (!is_space(text[i - 1])) {  // i > 0: the text is trimmed
            out += '_';
        }
    }
    return out;
}

std::string lower_case(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string plural(size_t n, const std::string& thing) {
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

bool is_number(std::string_view token, double& value) {
    if (token.empty() || is_space(token.front())) return false;
    Line_scanner scanner(token);
    return scanner.number(value) && scanner.rest().empty();
}

bool open_input(Line_reader& reader, const std::string& path, std::string& error) {
    if (reader.open(path)) return true;
    error = "cannot open " + path;
    return false;
}

bool read_failed(const Line_reader& reader, const std::string& file, std::string& error) {
    if (!reader.failed()) return false;
    error = file + ": " + (reader.error().empty() ? "read error" : reader.error());
    return true;
}
