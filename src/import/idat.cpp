#include "idat.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "input_file.h"

namespace {

// Field codes of the table.
enum : uint16_t {
    code_addresses = 102,
    code_deviations = 103,
    code_means = 104,
    code_beads = 107,
    code_barcode = 402,
    code_chip_type = 403,
    code_count = 1000,
};

// A decompressed IDAT of a methylation array is about 15 MB; anything far
// larger is not one (and would otherwise be read whole into memory).
constexpr uint64_t largest_idat = uint64_t(512) << 20;

uint64_t little_endian(const unsigned char* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

// The field table and the bytes it points into.
class Field_table {
public:
    Field_table(const unsigned char* data, size_t size, const std::string& name)
        : data_(data), size_(size), name_(name) {}

    bool read(std::string& error);
    // The extent [begin, begin + length) of field code, which must hold
    // length bytes before the next field starts (or the file ends).
    bool extent(uint16_t code, uint64_t length, const char* what, const unsigned char*& begin, std::string& error) const;
    bool text(uint16_t code, const char* what, std::string& out, std::string& error) const;

private:
    bool fail(const std::string& what, std::string& error) const {
        error = name_ + ": " + what;
        return false;
    }

    const unsigned char* data_;
    size_t size_;
    const std::string& name_;
    std::map<uint16_t, uint64_t> offsets_;  // code -> offset
    std::vector<uint64_t> starts_;          // every offset, sorted
};

bool Field_table::read(std::string& error) {
    if (size_ < 4 || memcmp(data_, "IDAT", 4) != 0) return fail("not an IDAT file (no \"IDAT\" at its start)", error);
    if (size_ < 16) return fail("truncated IDAT (the header is cut short)", error);
    uint64_t version = little_endian(data_ + 4, 8);
    if (version == 1)
        return fail("IDAT version 1, the encrypted format of expression arrays; methylation arrays write version 3",
                    error);
    if (version != 3) return fail("IDAT version " + std::to_string(version) + ", only version 3 can be read", error);
    uint64_t fields = little_endian(data_ + 12, 4);
    if (fields > (size_ - 16) / 10)
        return fail("truncated IDAT (the table of " + std::to_string(fields) + " fields reaches beyond the end)", error);
    for (uint64_t f = 0; f < fields; ++f) {
        const unsigned char* entry = data_ + 16 + 10 * f;
        uint16_t code = static_cast<uint16_t>(little_endian(entry, 2));
        uint64_t offset = little_endian(entry + 2, 8);
        if (offset > size_)
            return fail("field " + std::to_string(code) + " starts at byte " + std::to_string(offset) +
                            ", beyond the end of the file (" + std::to_string(size_) + " bytes)",
                        error);
        if (!offsets_.emplace(code, offset).second)
            return fail("field " + std::to_string(code) + " appears twice in the field table", error);
        starts_.push_back(offset);
    }
    std::sort(starts_.begin(), starts_.end());
    return true;
}

bool Field_table::extent(uint16_t code, uint64_t length, const char* what, const unsigned char*& begin,
                         std::string& error) const {
    auto found = offsets_.find(code);
    if (found == offsets_.end())
        return fail("no " + std::string(what) + " (field " + std::to_string(code) + ") in the field table", error);
    uint64_t offset = found->second;
    auto next = std::upper_bound(starts_.begin(), starts_.end(), offset);
    uint64_t room = (next == starts_.end() ? size_ : *next) - offset;
    if (length > room)
        return fail("field " + std::to_string(code) + " (" + what + ") needs " + std::to_string(length) +
                        " bytes at byte " + std::to_string(offset) + ", but only " + std::to_string(room) +
                        (next == starts_.end() ? " remain in the file" : " stand before the next field"),
                    error);
    begin = data_ + offset;
    return true;
}

bool Field_table::text(uint16_t code, const char* what, std::string& out, std::string& error) const {
    const unsigned char* p = nullptr;
    if (!extent(code, 1, what, p, error)) return false;
    uint64_t length = 0, prefix = 0;
    for (int shift = 0;; shift += 7) {
        if (shift > 28 || p + prefix >= data_ + size_) return fail(std::string(what) + " has a malformed length", error);
        unsigned char byte = p[prefix++];
        length |= uint64_t(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0) break;
    }
    if (!extent(code, prefix + length, what, p, error)) return false;
    out.assign(reinterpret_cast<const char*>(p + prefix), length);
    return true;
}

template <class Value>
void take_array(const unsigned char* p, size_t count, std::vector<Value>& out) {
    out.resize(count);
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<Value>(little_endian(p + i * sizeof(Value), sizeof(Value)));
}

}  // namespace

bool parse_idat(const unsigned char* data, size_t size, const std::string& name, Idat& idat, std::string& error) {
    Field_table table(data, size, name);
    const unsigned char *count_at = nullptr, *addresses = nullptr, *deviations = nullptr, *means = nullptr,
                        *beads = nullptr;
    if (!table.read(error) || !table.extent(code_count, 4, "address count", count_at, error)) return false;
    uint64_t count = little_endian(count_at, 4);
    if (count == 0 || count > size) {
        error = name + ": address count " + std::to_string(count) + " does not fit a file of " +
                std::to_string(size) + " bytes";
        return false;
    }
    if (!table.extent(code_addresses, 4 * count, "addresses", addresses, error) ||
        !table.extent(code_deviations, 2 * count, "standard deviations", deviations, error) ||
        !table.extent(code_means, 2 * count, "mean intensities", means, error) ||
        !table.extent(code_beads, count, "bead counts", beads, error) ||
        !table.text(code_barcode, "barcode", idat.barcode, error) ||
        !table.text(code_chip_type, "chip type", idat.chip_type, error))
        return false;
    take_array(addresses, count, idat.addresses);
    take_array(means, count, idat.means);
    take_array(beads, count, idat.beads);
    return true;
}

bool read_idat(const std::string& path, Idat& idat, std::string& error) {
    Input_file input;
    if (!input.open(path)) {
        error = "cannot open " + path + ": " + input.error();
        return false;
    }
    std::vector<unsigned char> bytes(std::min<uint64_t>(input.size_hint(), largest_idat) + 1);
    size_t size = 0;
    for (;;) {
        if (size == bytes.size()) {
            if (bytes.size() > largest_idat) {
                error = path + ": larger than " + std::to_string(largest_idat >> 20) + " MB, not an IDAT file";
                return false;
            }
            bytes.resize(std::min<uint64_t>(2 * bytes.size(), largest_idat + 1));
        }
        long got = input.read(reinterpret_cast<char*>(bytes.data() + size), bytes.size() - size);
        if (got < 0) {
            error = path + ": " + input.error();
            return false;
        }
        if (got == 0) break;
        size += static_cast<size_t>(got);
    }
    return parse_idat(bytes.data(), size, path, idat, error);
}

bool check_idat_pair(const Idat& green, const std::string& green_path, const Idat& red, const std::string& red_path,
                     std::string& error) {
    if (green.addresses == red.addresses) return true;
    error = green_path + " and " + red_path + " do not form a pair: ";
    if (green.addresses.size() != red.addresses.size()) {
        error += "they hold " + std::to_string(green.addresses.size()) + " and " +
                 std::to_string(red.addresses.size()) + " addresses";
        return false;
    }
    size_t i = 0;
    while (green.addresses[i] == red.addresses[i]) ++i;
    error += "address " + std::to_string(i + 1) + " is " + std::to_string(green.addresses[i]) + " in one and " +
             std::to_string(red.addresses[i]) + " in the other";
    return false;
}
