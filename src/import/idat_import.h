// Import of a sample sheet and the scanner's IDAT pairs into a cimbrel
// study folder, the layout the matrix import writes (DIR/etc/description.xls,
// one gzip data file per sample under DIR/data/, an empty DIR/run/), plus
// DIR/data/probe.ann from the same manifest and DIR/etc/qc.tsv, one line per
// sample: sample, Grn and Red IDAT paths, chip type, probes written, probes
// failed (detection p-value > 0.05, among those on the array, bead
// failures included), probes below the bead minimum, median raw log2 M and
// U, the green and red background fits (mu, s, alpha; empty without
// background correction) and the dye-bias factor.
//
// Data lines hold the identifier, beta and detection p-value, both with 6
// significant digits, in manifest order; a probe whose address is not on
// the IDATs is written as missing ("0.5<TAB>1"). Samples are processed in
// parallel, one at a time per thread, so memory does not grow with their
// number. Nothing is renamed into place before every sample is written;
// the configuration is written last.
#ifndef CIMBREL_IMPORT_IDAT_IMPORT_H
#define CIMBREL_IMPORT_IDAT_IMPORT_H

#include <functional>
#include <string>

#include "design.h"
#include "preprocess.h"
#include "replicates.h"
#include "study_import.h"

struct Idat_import {
    std::string sheet;
    std::string manifest;
    std::string out_dir;
    std::string idat_dir;  // empty: the sheet's folder
    std::string exclude;   // probe list; empty: none
    Design_options design;
    Preprocess_options preprocess;
    Replicates replicates = Replicates::keep;
    uint32_t threads = 1;
};

// Runs the import. progress, when set, is called now and then with the
// samples done. False, with error naming the file (and the sample), when an
// input is unreadable or malformed or an output cannot be written; nothing
// is then left in the study folder but the folders themselves.
bool import_idat(const Idat_import& job, Import_report& report, std::string& error,
                 const std::function<void(const std::string&)>& progress = nullptr);

#endif
