#include "manifest.h"

#include <unordered_map>

#include "delimited.h"
#include "line_reader.h"
#include "staged_output.h"

namespace {

const char* const island_column = "Relation_to_UCSC_CpG_Island";

// Field indexes of the columns the annotation file needs.
struct Manifest_columns {
    size_t id = 0, chr = 0, position = 0;
    std::vector<size_t> annotation;
    std::vector<std::string> names;  // of the annotation columns
    size_t fields = 0;               // of the header
    size_t needed = 0;               // fields a row must have: the last needed index + 1
    bool island = true;              // annotation is the island relation
};

bool find_column(const std::vector<std::string_view>& header, const std::string& name, size_t& index) {
    for (size_t i = 0; i < header.size(); ++i) {
        if (trim(header[i]) != name) continue;
        index = i;
        return true;
    }
    return false;
}

bool take_header(const std::vector<std::string_view>& header, const std::vector<std::string>& ann_columns,
                 Manifest_columns& columns, std::string& missing) {
    columns.island = ann_columns.empty();
    columns.names = columns.island ? std::vector<std::string>{island_column} : ann_columns;
    columns.annotation.resize(columns.names.size());
    std::vector<std::pair<std::string, size_t*>> wanted = {{"IlmnID", &columns.id}, {"CHR", &columns.chr},
                                                           {"MAPINFO", &columns.position}};
    for (size_t a = 0; a < columns.names.size(); ++a) wanted.emplace_back(columns.names[a], &columns.annotation[a]);
    columns.fields = header.size();
    for (auto& [name, index] : wanted) {
        if (!find_column(header, name, *index)) {
            missing = name;
            return false;
        }
        if (*index + 1 > columns.needed) columns.needed = *index + 1;
    }
    return true;
}

// "chrN" whether the manifest writes "N" or "chrN"; the mitochondrial
// genome "chrM" as UCSC and the island files name it, not "chrMT".
std::string chromosome_name(std::string_view chr) {
    if (chr.substr(0, 3) == "chr") chr.remove_prefix(3);
    if (chr == "MT") chr = "M";
    return "chr" + std::string(chr);
}

// The first line of each identifier and a hash of its record, to tell a
// repeated row from a conflicting one.
class Seen_probes {
public:
    // 1 for a new identifier, 0 for a repeat of an identical record, -1
    // (first set to the earlier line) for a repeat with another record.
    int add(const Annotation_record& record, size_t line, size_t& first) {
        const size_t hash = std::hash<std::string>()(record.chr + '\t' + std::to_string(record.position) + '\t' +
                                                      record.annotation);
        auto [at, fresh] = seen_.emplace(record.id, std::make_pair(line, hash));
        if (fresh) return 1;
        first = at->second.first;
        return at->second.second == hash ? 0 : -1;
    }

private:
    std::unordered_map<std::string, std::pair<size_t, size_t>> seen_;
};

std::string annotation_of(const std::vector<std::string_view>& fields, const Manifest_columns& columns) {
    if (columns.island) {
        std::string_view relation = trim(fields[columns.annotation[0]]);
        return relation.empty() ? "OpenSea" : underscore_spaces(relation);
    }
    std::string joined;
    for (size_t a = 0; a < columns.annotation.size(); ++a) {
        std::string_view cell = trim(fields[columns.annotation[a]]);
        joined += (a > 0 ? "|" : "") + (cell.empty() ? std::string(".") : underscore_spaces(cell));
    }
    return joined;
}

// A probe row into record. Returns 1 for a record, 0 for a probe without
// chromosome or position, -1 with what set for a malformed row.
int read_probe(const std::vector<std::string_view>& fields, const Manifest_columns& columns,
               Annotation_record& record, std::string& what) {
    if (fields.size() > columns.fields || fields.size() < columns.needed) {
        what = "row has " + std::to_string(fields.size()) + " fields, but the header has " +
               std::to_string(columns.fields);
        return -1;
    }
    std::string_view id = trim(fields[columns.id]), chr = trim(fields[columns.chr]),
                     position = trim(fields[columns.position]);
    if (id.empty() || has_space(id) || has_space(chr)) {
        what = id.empty() ? "row has no IlmnID" : "IlmnID or CHR \"" + std::string(id) + "\" holds white space";
        return -1;
    }
    if (id.front() == '#') {  // the annotation file would hold a comment line in its place
        what = "IlmnID \"" + std::string(id) + "\" starts with \"#\", which marks a comment in the annotation file";
        return -1;
    }
    uint32_t value = 0;
    Line_scanner scanner(position);
    if (!position.empty() && (position[0] == '-' || !scanner.number(value) || !scanner.rest().empty())) {
        what = "MAPINFO \"" + std::string(position) + "\" of probe " + std::string(id) + " is not a position";
        return -1;
    }
    if (chr.empty() || value == 0) return 0;
    record.id.assign(id);
    record.chr = chromosome_name(chr);
    record.position = value;
    record.annotation = annotation_of(fields, columns);
    return 1;
}

}  // namespace

bool find_manifest_header(Line_reader& reader, const std::string& file, Field_splitter& splitter, char& delimiter,
                          size_t& number, std::string& error) {
    reader.cr_line_ends(true);  // "CSV (Macintosh)" ends lines with a lone CR
    std::string_view line;
    while (reader.next(line)) {
        if (++number == 1) line = without_bom(line);
        if (line.find("IlmnID") == std::string_view::npos) continue;
        delimiter = delimiter_char(Delimiter::automatic, line);
        size_t index = 0;
        if (splitter.split(line, delimiter) && find_column(splitter.fields(), "IlmnID", index)) return true;
    }
    if (!read_failed(reader, file, error)) error = file + ": no header row naming IlmnID (is this a manifest?)";
    return false;
}

bool read_manifest(Line_reader& reader, const std::string& file, const std::vector<std::string>& ann_columns,
                   const std::function<void(const Annotation_record&)>& sink, Manifest_counts& counts,
                   std::string& error) {
    Field_splitter splitter;
    char delimiter = ',';
    size_t number = 0;
    if (!find_manifest_header(reader, file, splitter, delimiter, number, error)) return false;
    Manifest_columns columns;
    std::string what;
    if (!take_header(splitter.fields(), ann_columns, columns, what)) {
        error = at_line(file, number, "the header has no column \"" + what + "\"");
        return false;
    }
    std::string_view line;
    Annotation_record record;
    Seen_probes seen;
    size_t first = 0;
    while (reader.next(line)) {
        ++number;
        if (is_blank(line)) continue;
        if (trim(line).front() == '[') {  // [Controls]: no probe after it; read on to check the file is whole
            while (reader.next(line)) continue;
            break;
        }
        int got = splitter.split(line, delimiter) ? read_probe(splitter.fields(), columns, record, what) : -1;
        if (got < 0) {
            error = at_line(file, number, what.empty() ? splitter.error() : what);
            return false;
        }
        if (got == 0) {
            ++counts.without_position;
            continue;
        }
        got = seen.add(record, number, first);
        if (got < 0) {
            error = at_line(file, number, "IlmnID \"" + record.id + "\" appears again (first on line " +
                                              std::to_string(first) + ") with another chromosome, position or annotation");
            return false;
        }
        if (got == 0) {
            ++counts.repeated;
            continue;
        }
        ++counts.probes;
        sink(record);
    }
    if (read_failed(reader, file, error)) return false;
    if (counts.probes == 0)
        error = file + ": no probe with a chromosome and position" +
                (counts.without_position > 0 ? " (" + plural(counts.without_position, "probe") + " without)" : "");
    return counts.probes > 0;
}

bool import_manifest(const std::string& path, const std::string& out, const std::vector<std::string>& ann_columns,
                     Manifest_counts& counts, std::string& error) {
    Line_reader reader;
    Staged_text output;
    if (!open_input(reader, path, error) || !output.open(out, error)) return false;
    output.write("# id\tchr\tposition\tannotation\n");
    std::string line;
    auto write = [&](const Annotation_record& record) {
        line = record.id + "\t" + record.chr + "\t" + std::to_string(record.position) + "\t" + record.annotation + "\n";
        output.write(line);
    };
    return read_manifest(reader, path, ann_columns, write, counts, error) && output.commit(error);
}
