// The study design taken from the sample sheet: which column names the
// samples, the group (or continuous) column and the covariable columns, and
// what each sample line of the configuration will say. Names with white
// space are written with each run of it replaced by "_". A covariable
// column is categorical when one of its values is a word (neither a number
// in any spelling, "inf" and "0x10" included, nor a missing-value marker
// such as NA): with k levels (sorted byte-wise) it becomes k - 1 indicator
// columns of 0 and 1, the first level left out. Any other column is numeric
// and stays one column, its cells copied as written; each must then be a
// finite number.
#ifndef CIMBREL_IMPORT_DESIGN_H
#define CIMBREL_IMPORT_DESIGN_H

#include <string>
#include <vector>

#include "sheet.h"

struct Design_options {
    std::string sample_column = "Sample_Name";
    std::string group_column = "Sample_Group";
    std::string continuous_column;         // set: test a continuous variable instead of groups
    std::vector<std::string> covariables;  // column names
};

struct Design_sample {
    std::string sheet_name;                // as in the sheet, trimmed: matched with the matrix header
    std::string name;                      // in the configuration (no white space)
    std::string value;                     // group (no white space) or continuous value
    std::vector<std::string> covariables;  // one token per covariable column, numbers only
    size_t line = 0;                       // line of the sheet
};

struct Design {
    bool continuous = false;
    std::vector<std::string> covariable_names;  // header names of the configuration's covariable columns
    std::vector<Design_sample> samples;         // in sheet order
    std::vector<std::string> notes;             // for the user: renamed names, categorical columns
};

// Builds the design. False, with error "FILE:LINE: what", for a column
// that is not in the header, an empty or repeated sample name, a sample
// without a group or covariable value, a continuous value that is not a
// number, a missing or non-finite value of a numeric covariable, two
// samples whose names become the same once white space is replaced, two
// covariable columns that would get one name, or a covariable given twice.
bool build_design(const Sheet& sheet, const Design_options& options, Design& design, std::string& error);

#endif
