// References of purified cell types: a table of mean betas, a header line of
// cell-type names, then one line per probe, its identifier first and one
// beta per cell type. Fields are separated by white space, tabs or commas
// and may be quoted ("B" or 'B'), the layouts in which published references
// are distributed. A header that also names the identifier column (as R's
// write.csv does, with "") is recognised by its extra field. Blank lines and
// lines starting with "#" are skipped.
#ifndef CIMBREL_COVARIATES_CELL_REFERENCE_H
#define CIMBREL_COVARIATES_CELL_REFERENCE_H

#include <string>
#include <vector>

struct Cell_reference {
    std::vector<std::string> cell_types;
    std::vector<std::string> probes;
    std::vector<double> betas;  // probes x cell types, row-major

    size_t type_count() const { return cell_types.size(); }
};

// Reads a reference table (plain or gzip). False, with error "FILE:LINE:
// what" (or "FILE: what"), for a file that cannot be read, a line with the
// wrong number of fields, a beta that is not a number in [0, 1], a repeated
// probe, or fewer than 2 cell types.
bool read_cell_reference(const std::string& path, Cell_reference& reference, std::string& error);

// Splits a line at white space and commas; a field may be quoted with " or
// ' (and then hold separators, or be empty). False, with error, for an
// unterminated quote.
bool split_reference_line(const std::string& line, std::vector<std::string>& fields, std::string& error);

// The bundled whole-blood reference, looked up next to the program: in
// share/cimbrel/reference/ of the build folder or of the installation
// prefix (the program in <prefix>/bin). "" when neither holds it.
std::string bundled_reference_path(const std::string& name);

#endif
