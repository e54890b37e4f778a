// Writes version-3 IDAT files for tests, fuzzing and benchmarks: the
// header, the field table and the fields the importer reads, laid out as
// the scanner lays them out (count, addresses, deviations, means, beads,
// then the texts).
#ifndef CIMBREL_TESTS_IDAT_WRITER_H
#define CIMBREL_TESTS_IDAT_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

struct Idat_content {
    std::vector<uint32_t> addresses;
    std::vector<uint16_t> means;
    std::vector<uint8_t> beads;
    std::string barcode = "200000000001";
    std::string chip_type = "BeadChip 8x5";
};

inline void put_le(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i) & 0xff);
}

inline std::string idat_bytes(const Idat_content& c) {
    const uint64_t n = c.addresses.size();
    std::vector<std::pair<uint16_t, std::string>> fields(7);
    fields[0].first = 1000;
    put_le(fields[0].second, n, 4);
    fields[1].first = 102;
    for (uint32_t a : c.addresses) put_le(fields[1].second, a, 4);
    fields[2].first = 103;
    for (size_t i = 0; i < n; ++i) put_le(fields[2].second, 7, 2);
    fields[3].first = 104;
    for (uint16_t m : c.means) put_le(fields[3].second, m, 2);
    fields[4].first = 107;
    for (uint8_t b : c.beads) fields[4].second += static_cast<char>(b);
    const std::string* texts[] = {&c.barcode, &c.chip_type};
    for (int t = 0; t < 2; ++t) {
        fields[5 + t].first = static_cast<uint16_t>(402 + t);
        std::string& out = fields[5 + t].second;
        for (size_t length = texts[t]->size(); ; length >>= 7) {
            out += static_cast<char>((length & 0x7f) | (length >= 0x80 ? 0x80 : 0));
            if (length < 0x80) break;
        }
        out += *texts[t];
    }
    std::string out = "IDAT";
    put_le(out, 3, 8);
    put_le(out, fields.size(), 4);
    uint64_t offset = 16 + 10 * fields.size();
    for (const auto& [code, bytes] : fields) {
        put_le(out, code, 2);
        put_le(out, offset, 8);
        offset += bytes.size();
    }
    for (const auto& field : fields) out += field.second;
    return out;
}

#endif
