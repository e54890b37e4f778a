// What cimbrel-covariates writes: the configuration with the new columns
// and the table of every estimate. Numbers carry 6 significant digits.
#ifndef CIMBREL_COVARIATES_OUTPUTS_H
#define CIMBREL_COVARIATES_OUTPUTS_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// New columns: names and values (samples x names, row-major).
struct New_columns {
    std::vector<std::string> names;
    std::vector<double> values;
};

// A configuration line that describes a sample: neither a comment ("#"
// first) nor blank, as cimbrel's reader counts them.
bool is_sample_line(std::string_view line);

// The data files (first column) of the sample lines of a configuration text.
std::vector<std::string> data_files(const std::string& configuration);

// "%.6g", with -0 written as 0.
std::string six_digits(double value);

// The configuration text with the new columns inserted, tab-separated,
// right after the first 3 + covariables columns of sample line c (the c-th
// line that is neither a comment nor blank); later columns, comment lines
// and line ends stay as they are. A header comment naming every column
// opens the text; it replaces a leading header comment of the form
// "# file<TAB>sample<TAB>…" (as cimbrel-import writes), whose names it
// keeps. False, with error, when the text has another number of sample
// lines or a line has fewer columns.
bool configuration_with_columns(const std::string& original, size_t covariables, bool continuous,
                                const New_columns& columns, std::string& text, std::string& error);

// The table: "sample", every cell type, PC1…PCN; a row per sample; a last
// row "fraction" with each component's fraction of the residual variance
// (empty under the cell types).
std::string estimate_table(const std::vector<std::string>& samples, const std::vector<std::string>& cell_types,
                           const std::vector<double>& proportions, size_t components,
                           const std::vector<double>& scores, const std::vector<double>& fractions);

#endif
