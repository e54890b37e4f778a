// Import of a beta matrix and a sample sheet into a cimbrel study folder:
// DIR/etc/description.xls (the configuration, samples in sheet order), one
// gzip data file per sample under DIR/data/ ("id<TAB>beta<TAB>detection-p"
// per probe, in matrix order) and an empty DIR/run/, so that cimbrel run
// from DIR/run finds its inputs at its default paths.
//
// Beta and detection tokens are copied as written once checked to be
// numbers in [0, 1], so the study reads to the same doubles as one written
// by hand. A missing beta or detection p-value is written as "0.5<TAB>1",
// which cimbrel excludes (detection above 0.05); without detection
// p-values every present beta gets 0. Probes of the exclusion list are left
// out of every file. The matrix is read once, in blocks of rows: each block
// becomes one gzip member appended to each sample's temporary file, so
// memory is bounded by one block, whatever the size of the matrix.
//
// When EPIC v2 replicates are merged (replicates.h), the identifier column
// is read in a pass of its own first to group them; the values' pass then
// holds a row from its first replicate until its last one is read, and the
// rows after it until it is written, so memory grows with the distance
// between a probe's replicates. A mean of several replicates is written
// with 6 significant digits; values taken from one replicate keep their
// tokens.
//
// The study is written as one staged set (staged_output.h): the data files
// and the configuration go into place together, only once all of them are
// written, and a failure or a stopping signal before that leaves an
// existing study byte for byte as it was, and no file or folder of a first
// import behind.
#ifndef CIMBREL_IMPORT_STUDY_IMPORT_H
#define CIMBREL_IMPORT_STUDY_IMPORT_H

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "delimited.h"
#include "design.h"
#include "replicates.h"

struct Matrix_import {
    std::string betas;
    std::string detp;       // matrix of detection p-values; empty: none
    std::string sheet;
    std::string exclude;    // probe list; empty: none
    std::string id_column;  // header name of the identifier column; empty: the first
    std::string out_dir;
    Delimiter delimiter = Delimiter::automatic;  // of the matrices
    Design_options design;
    Replicates replicates = Replicates::keep;  // EPIC v2 replicate probes
    size_t block_rows = 20000;          // probe rows per gzip member
    size_t block_bytes = size_t(128) << 20;  // text held before a block is written, at most about
};

struct Import_report {
    size_t probes = 0;       // probe rows written per sample
    size_t samples = 0;
    std::vector<std::string> covariables;  // names of the configuration's K covariable columns
    bool continuous = false;
    std::vector<std::string> notes;
};

// Runs the import. progress, when set, is called with a line of progress
// for long matrices. False, with error ("FILE:LINE: what" for a bad input),
// when an input is unreadable or malformed, an output cannot be written or
// would replace an input; nothing of the study has changed then.
bool import_matrix(const Matrix_import& job, Import_report& report, std::string& error,
                   const std::function<void(const std::string&)>& progress = nullptr);

// The data file name of a sample: its name with every character other than
// letters, digits, ".", "-", "_" and "+" replaced by "_" (no leading "."),
// made unique among taken (compared without case) by "_2", "_3", ...; then
// ".txt.gz". Adds the name to taken.
std::string data_file_name(const std::string& sample, std::set<std::string>& taken);

// The configuration's text: a header line naming the columns (the value
// column titled value_title), then one line per sample with its data file
// files[s] under ../data/.
std::string configuration_text(const Design& design, const std::vector<std::string>& files,
                               const std::string& value_title);

// The shell command that runs cimbrel on the imported study.
std::string cimbrel_command(const std::string& out_dir, const Import_report& report);

#endif
