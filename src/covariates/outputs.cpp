#include "outputs.h"

#include <cstdio>

#include "line_reader.h"

bool is_sample_line(std::string_view line) {
    if (!line.empty() && line[0] == '#') return false;
    for (char c : line)
        if (!is_space(c)) return true;
    return false;
}

std::vector<std::string> data_files(const std::string& configuration) {
    std::vector<std::string> files;
    Line_reader reader;
    reader.open_memory(configuration.data(), configuration.size());
    std::string_view line, file;
    while (reader.next(line)) {
        Line_scanner scanner(line);
        if (is_sample_line(line) && scanner.word(file)) files.emplace_back(file);
    }
    return files;
}

namespace {

// End of the first `count` white-space separated columns of line, or npos.
size_t end_of_columns(std::string_view line, size_t count) {
    size_t i = 0;
    for (size_t k = 0; k < count; ++k) {
        while (i < line.size() && is_space(line[i])) ++i;
        if (i == line.size()) return std::string_view::npos;
        while (i < line.size() && !is_space(line[i])) ++i;
    }
    return i;
}

std::vector<std::string> split_tabs(std::string_view text) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        const size_t tab = text.find('\t', start);
        fields.emplace_back(text.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos) return fields;
        start = tab + 1;
    }
}

std::string_view without_line_end(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

// The names of the first 3 + covariables columns: from an importer's header
// comment when the text opens with one, else generic names.
std::vector<std::string> leading_names(std::string_view first_line, size_t covariables, bool continuous,
                                       bool& from_header) {
    std::vector<std::string> names = {"file", "sample", continuous ? "value" : "group"};
    for (size_t k = 1; k <= covariables; ++k) names.push_back("covariable" + std::to_string(k));
    from_header = first_line.substr(0, 7) == "# file\t";
    if (!from_header) return names;
    std::vector<std::string> header = split_tabs(without_line_end(first_line.substr(2)));
    for (size_t k = 0; k < names.size() && k < header.size(); ++k) names[k] = header[k];
    return names;
}

}  // namespace

std::string six_digits(double value) {
    if (value == 0.0) value = 0.0;
    char text[32];
    snprintf(text, sizeof text, "%.6g", value);
    return text;
}

bool configuration_with_columns(const std::string& original, size_t covariables, bool continuous,
                                const New_columns& columns, std::string& text, std::string& error) {
    const size_t width = columns.names.size();
    const size_t samples = width == 0 ? 0 : columns.values.size() / width;
    Line_reader reader;
    reader.open_memory(original.data(), original.size());
    std::string_view line;
    size_t sample = 0, number = 0;
    text.clear();
    while (reader.next(line)) {
        ++number;
        if (number == 1) {
            bool replaced = false;
            const std::vector<std::string> names = leading_names(line, covariables, continuous, replaced);
            text += "# " + names[0];
            for (size_t k = 1; k < names.size(); ++k) text += "\t" + names[k];
            for (const std::string& name : columns.names) text += "\t" + name;
            text += "\n";
            if (replaced) continue;
        }
        if (!is_sample_line(line)) {
            text += line;
            continue;
        }
        const size_t end = end_of_columns(line, 3 + covariables);
        if (end == std::string_view::npos || sample >= samples) {
            error = "line " + std::to_string(number) + " is not a sample line of the study that was read";
            return false;
        }
        text += line.substr(0, end);
        for (size_t k = 0; k < width; ++k) text += "\t" + six_digits(columns.values[sample * width + k]);
        text += line.substr(end);
        ++sample;
    }
    if (sample != samples) {
        error = "it holds " + std::to_string(sample) + " sample lines, the study " + std::to_string(samples);
        return false;
    }
    return true;
}

std::string estimate_table(const std::vector<std::string>& samples, const std::vector<std::string>& cell_types,
                           const std::vector<double>& proportions, size_t components,
                           const std::vector<double>& scores, const std::vector<double>& fractions) {
    const size_t t = cell_types.size();
    std::string text = "sample";
    for (const std::string& type : cell_types) text += "\t" + type;
    for (size_t k = 1; k <= components; ++k) text += "\tPC" + std::to_string(k);
    text += "\n";
    for (size_t s = 0; s < samples.size(); ++s) {
        text += samples[s];
        for (size_t k = 0; k < t; ++k) text += "\t" + six_digits(proportions[s * t + k]);
        for (size_t k = 0; k < components; ++k) text += "\t" + six_digits(scores[s * components + k]);
        text += "\n";
    }
    if (components > 0) {
        text += "fraction";
        for (size_t k = 0; k < t; ++k) text += "\t";
        for (size_t k = 0; k < components; ++k) text += "\t" + six_digits(fractions[k]);
        text += "\n";
    }
    return text;
}
