// What the vendor's manifest says about reading each probe from the IDATs:
// of the [Assay] block the columns IlmnID, AddressA_ID, AddressB_ID,
// Infinium_Design_Type (I or II) and Color_Channel (Red or Grn, Type I
// only), and the [Controls] block, one control per line: address, control
// type (NEGATIVE, NORM_A, NORM_C, NORM_G, NORM_T, STAINING, ...), colour,
// name. A Type I probe measures both alleles in one colour, unmethylated at
// address A and methylated at address B; a Type II probe measures both at
// address A, methylated in green and unmethylated in red.
#ifndef CIMBREL_IMPORT_ARRAY_MANIFEST_H
#define CIMBREL_IMPORT_ARRAY_MANIFEST_H

#include <cstdint>
#include <string>
#include <vector>

class Line_reader;

enum class Probe_design : uint8_t { type_i_red, type_i_green, type_ii };

struct Array_probe {
    std::string id;
    uint32_t address_a = 0;
    uint32_t address_b = 0;  // Type I only
    Probe_design design = Probe_design::type_ii;
};

struct Array_control {
    uint32_t address = 0;
    std::string type;  // upper case: NEGATIVE, NORM_A, ...
    std::string colour;
    std::string name;
};

struct Array_manifest {
    std::vector<Array_probe> probes;  // in manifest order
    std::vector<Array_control> controls;
};

// Reads the manifest; file names it in messages. False, with error
// "FILE:LINE: what", when there is no header row with IlmnID, one of the
// columns above is missing, a row has more fields than the header or too
// few, an identifier is empty or holds white space, a design type or
// colour is not one of those above, an address or a control's address is
// not a whole 32-bit number, the manifest lists no probe, or on a read or
// decompression error.
bool read_array_manifest(Line_reader& reader, const std::string& file, Array_manifest& manifest, std::string& error);

// The same from a path (plain or gzip); an unreadable file is an error.
bool read_array_manifest_file(const std::string& path, Array_manifest& manifest, std::string& error);

#endif
