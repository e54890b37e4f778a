// The scanner's binary IDAT files (version 3), one per colour channel of a
// sample (<Sentrix_ID>_<Sentrix_Position>_Grn.idat and _Red.idat), plain or
// gzip-compressed. A file starts with the magic "IDAT", a 64-bit version and
// a 32-bit field count, then a table of (16-bit code, 64-bit offset)
// entries; every integer is little-endian. The fields read are the address
// count (1000), the addresses (102, 32-bit each), the standard deviations
// (103, 16-bit), the mean intensities (104, 16-bit), the bead counts (107,
// 8-bit), the barcode (402) and the chip type (403); a text field carries
// its byte length as a 7-bit variable-length prefix (low bits first, the
// high bit of a byte marking that another follows). Every offset and length
// is checked against the file's size before it is used.
#ifndef CIMBREL_IMPORT_IDAT_H
#define CIMBREL_IMPORT_IDAT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Idat {
    std::vector<uint32_t> addresses;  // bead type addresses, in file order
    std::vector<uint16_t> means;      // mean intensity of each address
    std::vector<uint8_t> beads;       // bead count of each address
    std::string barcode;
    std::string chip_type;
};

// Reads an IDAT from size bytes at data; name is the file for messages.
// False, with error "NAME: what", for a wrong magic, a version other than 3
// (version 1 files are the encrypted files of expression arrays), a field
// table or field reaching beyond the data, a missing field, or arrays whose
// lengths do not match the address count.
bool parse_idat(const unsigned char* data, size_t size, const std::string& name, Idat& idat, std::string& error);

// Reads the IDAT at path (plain or gzip). False, with error naming the
// file, when it cannot be opened, inflated or parsed.
bool read_idat(const std::string& path, Idat& idat, std::string& error);

// A sample's two files: false, with error naming both, when their addresses differ.
bool check_idat_pair(const Idat& green, const std::string& green_path, const Idat& red, const std::string& red_path,
                     std::string& error);

#endif
