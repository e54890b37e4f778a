// The beta matrix as analysts hold it: one row per probe, the probe
// identifier first, one column per sample, tab or comma separated (chosen
// from the header line unless given), quoted fields allowed. The header's
// first cell names the identifier column (empty, "ID_REF", anything). A
// column whose header contains "Detection Pval" (any case; also spelt
// "Detection.Pval", "Detection_Pval", "Detection P-value") holds the
// detection p-values of the sample column before it (GEO's processed
// matrices from the vendor's software); R's write.csv of minfi's getBeta()
// has none. Blank lines and GEO series-matrix lines starting with "!" are
// skipped. Every row must have as many fields as the header.
//
// The vendor software's exports are read too: columns named by the sample
// and a suffix (".AVG_Beta" or " AVG_Beta", ".Detection Pval", ".Signal_A",
// ".Signal_B", ".Avg_NBEADS", ".BEAD_STDERR", " Methylated Signal",
// " Unmethylated Signal", ...) form one group per sample, in order of first
// appearance. A group gives its betas (AVG_Beta) or, failing those, its
// methylated and unmethylated signals (Signal_B and Signal_A, or the
// " Methylated Signal" and " Unmethylated Signal" of GEO's signal
// matrices), and its detection p-values; the other columns are ignored.
// Identifier columns after the first (TargetID, ProbeID, ID_REF, ...)
// before the first sample are recognised, and columns without a suffix
// after the last sample group (the annotation the vendor software appends:
// SEARCH_KEY, ILMN_GENE, CHROMOSOME, ...) are ignored; a header column that
// fits none of these is an error.
#ifndef CIMBREL_IMPORT_MATRIX_H
#define CIMBREL_IMPORT_MATRIX_H

#include <string>
#include <string_view>
#include <vector>

#include "delimited.h"

class Line_reader;

// Field indexes of a sample's columns; 0 (the first column) stands for none.
struct Matrix_sample {
    std::string name;         // header cell, trimmed (without the suffix in a vendor export)
    size_t beta = 0;          // its betas; 0 when it has signals instead
    size_t detection = 0;     // its Detection Pval column
    size_t methylated = 0;    // its methylated and unmethylated signals, when it has no betas
    size_t unmethylated = 0;
};

class Matrix_reader {
public:
    // reader must be open; file names the input in messages.
    Matrix_reader(Line_reader& reader, std::string file, Delimiter delimiter);

    // Reads the header. False, with error "FILE:LINE: what", when there is
    // none, it names no sample, a sample name is empty or repeated, a
    // Detection Pval column has no sample column before it, or only some
    // samples have one.
    bool read_header(std::string& error);
    const std::vector<Matrix_sample>& samples() const { return samples_; }
    bool interleaved() const { return interleaved_; }
    // Before read_header: the header name of the column holding the probe
    // identifiers (default: the first column).
    void set_id_column(std::string name) { id_name_ = std::move(name); }
    // What the header reading ignored, for the user.
    const std::vector<std::string>& notes() const { return notes_; }

    // Next probe row: 1, 0 at the end, -1 with error for a bad quote, a
    // row with another number of fields than the header, an empty
    // identifier or one holding white space, a read or decompression error.
    int next(std::string& error);
    std::string_view id() const { return id_; }
    // Field index of the current row, trimmed.
    std::string_view field(size_t index) const { return trim(splitter_.fields()[index]); }
    size_t line() const { return line_; }
    const std::string& file() const { return file_; }

private:
    bool next_line(std::string_view& line, std::string& error);
    bool take_columns(std::string& error);
    bool take_id_columns(size_t& first, std::string& error);
    bool take_vendor_columns(size_t first, std::string& error);

    Line_reader& reader_;
    std::string file_;
    Delimiter delimiter_;
    char delimiter_char_ = ',';
    Field_splitter splitter_;
    std::vector<Matrix_sample> samples_;
    bool interleaved_ = false;
    size_t fields_ = 0;
    size_t line_ = 0;
    std::string id_name_;
    size_t id_field_ = 0;
    std::vector<std::string> notes_;
    std::string_view id_;
};

// One matrix cell of betas or detection p-values.
enum class Cell { missing, number, bad };

// Classifies a trimmed cell: missing (empty, "NA", "NaN" in any case), a
// number (value set), or bad (anything else).
Cell read_cell(std::string_view cell, double& value);

#endif
