#include "idat_files.h"

#include <filesystem>
#include <map>

#include "delimited.h"
#include "line_reader.h"

namespace fs = std::filesystem;

namespace {

const char* const colours[] = {"Grn", "Red"};

// IDATs found under a folder, by "<ID>_<Position>_<colour>" (the name's
// last three parts before .idat or .idat.gz).
using Idat_index = std::map<std::string, std::vector<std::string>>;

bool index_folder(const std::string& folder, Idat_index& index, std::string& error) {
    std::error_code code;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, code), end;
    for (; !code && it != end; it.increment(code)) {
        std::string name = it->path().filename().string();
        size_t stem = name.size();
        for (const char* suffix : {".gz", ".idat"}) {
            size_t length = std::char_traits<char>::length(suffix);
            if (stem >= length && name.compare(stem - length, length, suffix) == 0) stem -= length;
            else if (suffix[1] == 'i') stem = 0;  // no .idat: not an IDAT
        }
        size_t last = stem == 0 ? std::string::npos : name.rfind('_', stem - 1);
        size_t middle = last == std::string::npos || last == 0 ? std::string::npos : name.rfind('_', last - 1);
        size_t first = middle == std::string::npos || middle == 0 ? std::string::npos : name.rfind('_', middle - 1);
        std::error_code ignored;
        if (middle == std::string::npos || it->is_directory(ignored)) continue;
        size_t start = first == std::string::npos ? 0 : first + 1;
        index[name.substr(start, stem - start)].push_back(it->path().string());
    }
    if (!code) return true;
    error = "cannot read the IDAT folder " + folder + ": " + code.message();
    return false;
}

// "path" when it exists; checks that it can be read.
bool take_path(const std::string& path, const Sheet& sheet, const Design_sample& sample, std::string& out,
               std::string& error) {
    if (!file_readable(path)) {
        error = at_line(sheet.file, sample.line, "sample \"" + sample.sheet_name + "\": cannot read " + path);
        return false;
    }
    out = path;
    return true;
}

// The one existing path among candidates.
bool one_of(const std::vector<std::string>& candidates, const std::string& wanted, const Sheet& sheet,
            const Design_sample& sample, std::string& out, std::string& error) {
    std::vector<std::string> found;
    for (const std::string& path : candidates) {
        std::error_code code;
        if (fs::exists(path, code)) found.push_back(path);
    }
    if (found.size() == 1) return take_path(found[0], sheet, sample, out, error);
    std::string who = "sample \"" + sample.sheet_name + "\": ";
    error = at_line(sheet.file, sample.line,
                    found.empty() ? who + "no IDAT file " + wanted
                                  : who + "two IDAT files match, " + found[0] + " and " + found[1]);
    return false;
}

std::string folder_of(const std::string& path) {
    std::string folder = fs::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

}  // namespace

bool find_idat_pairs(const Sheet& sheet, const std::vector<Design_sample>& samples, const std::string& idat_dir,
                     std::vector<Idat_pair>& pairs, std::string& error) {
    size_t basename = 0, id = 0, position = 0;
    bool by_basename = sheet.column("Basename", basename);
    if (!by_basename && !(sheet.column("Sentrix_ID", id) && sheet.column("Sentrix_Position", position))) {
        error = at_line(sheet.file, sheet.header_line,
                        "the sheet has neither a Basename column nor Sentrix_ID and Sentrix_Position columns, "
                        "which name each sample's IDAT files");
        return false;
    }
    const std::string sheet_folder = folder_of(sheet.file), folder = idat_dir.empty() ? sheet_folder : idat_dir;
    Idat_index index;
    if (!by_basename && !index_folder(folder, index, error)) return false;
    pairs.assign(samples.size(), Idat_pair());
    for (size_t s = 0; s < samples.size(); ++s) {
        const std::vector<std::string>& cells = sheet.rows[s].cells;
        const Design_sample& sample = samples[s];
        for (int c = 0; c < 2; ++c) {
            std::string& out = c == 0 ? pairs[s].green : pairs[s].red;
            std::string key;
            if (by_basename) {
                std::string prefix = cells[basename];
                if (!prefix.empty() && prefix[0] != '/') prefix = sheet_folder + "/" + prefix;
                key = prefix + "_" + colours[c] + ".idat";
                if (!one_of({key, key + ".gz"}, key + "[.gz]", sheet, sample, out, error)) return false;
                continue;
            }
            key = cells[id] + "_" + cells[position] + "_" + colours[c];
            auto found = index.find(key);
            if (!one_of(found == index.end() ? std::vector<std::string>() : found->second,
                        "named *" + key + ".idat[.gz] under " + folder, sheet, sample, out, error))
                return false;
        }
    }
    return true;
}
