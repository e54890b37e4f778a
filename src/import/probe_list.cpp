#include "probe_list.h"

#include "delimited.h"
#include "line_reader.h"

bool read_probe_list(Line_reader& reader, const std::string& file, std::unordered_set<std::string>& ids,
                     std::string& error) {
    reader.cr_line_ends(true);
    std::string_view line;
    bool first = true;
    while (reader.next(line)) {
        if (first) line = without_bom(line);
        first = false;
        line = trim(line);
        if (line.empty() || line.front() == '#') continue;
        size_t end = 0;
        while (end < line.size() && !is_space(line[end]) && line[end] != ',') ++end;
        std::string_view id = line.substr(0, end);
        if (id.size() >= 2 && id.front() == '"' && id.back() == '"') id = id.substr(1, id.size() - 2);
        if (!id.empty()) ids.emplace(id);
    }
    return !read_failed(reader, file, error);
}

bool read_probe_list_file(const std::string& path, std::unordered_set<std::string>& ids, std::string& error) {
    Line_reader reader;
    return open_input(reader, path, error) && read_probe_list(reader, path, ids, error);
}
