#include "array_manifest.h"

#include "delimited.h"
#include "line_reader.h"
#include "manifest.h"

namespace {

// Field indexes of the columns that say how a probe is read.
struct Assay_columns {
    size_t id = 0, address_a = 0, address_b = 0, design = 0, colour = 0;
    size_t fields = 0;  // of the header
    size_t needed = 0;  // the last needed index + 1
};

bool take_columns(const std::vector<std::string_view>& header, Assay_columns& columns, std::string& missing) {
    std::pair<const char*, size_t*> wanted[] = {{"IlmnID", &columns.id},
                                                {"AddressA_ID", &columns.address_a},
                                                {"AddressB_ID", &columns.address_b},
                                                {"Infinium_Design_Type", &columns.design},
                                                {"Color_Channel", &columns.colour}};
    columns.fields = header.size();
    for (auto& [name, index] : wanted) {
        size_t i = 0;
        while (i < header.size() && trim(header[i]) != name) ++i;
        if (i == header.size()) {
            missing = name;
            return false;
        }
        *index = i;
        if (i + 1 > columns.needed) columns.needed = i + 1;
    }
    return true;
}

// A whole number of 32 bits, leading zeros allowed (EPIC v2 writes them).
bool read_address(std::string_view text, uint32_t& address) {
    if (text.empty() || text.size() > 12) return false;
    uint64_t value = 0;
    for (char c : text) {
        if (!is_digit(c)) return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > UINT32_MAX) return false;
    address = static_cast<uint32_t>(value);
    return true;
}

// One [Assay] row into probe; "" or what is wrong with it.
std::string read_probe(const std::vector<std::string_view>& fields, const Assay_columns& columns, Array_probe& probe) {
    if (fields.size() > columns.fields || fields.size() < columns.needed)
        return "row has " + std::to_string(fields.size()) + " fields, but the header has " +
               std::to_string(columns.fields);
    std::string_view id = trim(fields[columns.id]), design = trim(fields[columns.design]),
                     colour = trim(fields[columns.colour]), a = trim(fields[columns.address_a]),
                     b = trim(fields[columns.address_b]);
    if (id.empty() || has_space(id)) return id.empty() ? "row has no IlmnID" : "IlmnID \"" + std::string(id) + "\" holds white space";
    probe.id.assign(id);
    const std::string of = " of probe " + probe.id;
    if (design == "II") {
        probe.design = Probe_design::type_ii;
        b = "0";
    } else if (design != "I") {
        return "Infinium_Design_Type \"" + std::string(design) + "\"" + of + " is neither I nor II";
    } else if (lower_case(colour) == "red") {
        probe.design = Probe_design::type_i_red;
    } else if (lower_case(colour) == "grn" || lower_case(colour) == "green") {
        probe.design = Probe_design::type_i_green;
    } else {
        return "Color_Channel \"" + std::string(colour) + "\"" + of + " is neither Red nor Grn (a Type I probe needs one)";
    }
    if (!read_address(a, probe.address_a)) return "AddressA_ID \"" + std::string(a) + "\"" + of + " is not an address";
    if (!read_address(b, probe.address_b)) return "AddressB_ID \"" + std::string(b) + "\"" + of + " is not an address";
    return "";
}

// One [Controls] line into control; "" or what is wrong with it. A line of
// empty cells (spreadsheets pad the block to the header's width) is skipped.
std::string read_control(const std::vector<std::string_view>& fields, Array_manifest& manifest) {
    bool empty = true;
    for (std::string_view field : fields) empty = empty && trim(field).empty();
    if (empty) return "";
    Array_control control;
    std::string_view address = trim(fields[0]);
    if (fields.size() < 2 || !read_address(address, control.address))
        return "control \"" + std::string(address) + "\" has no address (address, type, colour, name expected)";
    control.type = trim(fields[1]);
    for (char& c : control.type) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (fields.size() > 2) control.colour = trim(fields[2]);
    if (fields.size() > 3) control.name = trim(fields[3]);
    manifest.controls.push_back(std::move(control));
    return "";
}

}  // namespace

bool read_array_manifest(Line_reader& reader, const std::string& file, Array_manifest& manifest, std::string& error) {
    manifest = Array_manifest();
    Field_splitter splitter;
    char delimiter = ',';
    size_t number = 0;
    if (!find_manifest_header(reader, file, splitter, delimiter, number, error)) return false;
    Assay_columns columns;
    std::string what;
    if (!take_columns(splitter.fields(), columns, what)) {
        error = at_line(file, number, "the header has no column \"" + what + "\" (needed to read IDATs)");
        return false;
    }
    std::string_view line;
    bool controls = false, assay = true;
    Array_probe probe;
    while (reader.next(line)) {
        ++number;
        if (is_blank(line)) continue;
        if (trim(line).front() == '[') {  // a block after [Assay]: only [Controls] is read
            assay = false;
            controls = lower_case(trim(line)).rfind("[controls]", 0) == 0;
            continue;
        }
        if (!assay && !controls) continue;
        if (!splitter.split(line, delimiter)) {
            what = splitter.error();
        } else if (assay) {
            what = read_probe(splitter.fields(), columns, probe);
            if (what.empty()) manifest.probes.push_back(probe);
        } else {
            what = read_control(splitter.fields(), manifest);
        }
        if (what.empty()) continue;
        error = at_line(file, number, what);
        return false;
    }
    if (read_failed(reader, file, error)) return false;
    if (!manifest.probes.empty()) return true;
    error = file + ": the manifest lists no probe";
    return false;
}

bool read_array_manifest_file(const std::string& path, Array_manifest& manifest, std::string& error) {
    Line_reader reader;
    return open_input(reader, path, error) && read_array_manifest(reader, path, manifest, error);
}
