// Where a sample's IDAT pair is, from its row of the sample sheet:
// - a Basename column (it wins over Sentrix columns): a path prefix,
//   relative to the sheet's folder unless absolute, to which _Grn.idat or
//   _Grn.idat.gz (and _Red…) is appended;
// - otherwise Sentrix_ID and Sentrix_Position: the files whose names end in
//   <ID>_<Position>_Grn.idat or _Red.idat, optionally .gz, anywhere under
//   the IDAT folder, so that GEO's GSM1234567_ prefixes are found too.
// A missing, ambiguous (two matches) or unreadable file is an error naming
// the sample and the path.
#ifndef CIMBREL_IMPORT_IDAT_FILES_H
#define CIMBREL_IMPORT_IDAT_FILES_H

#include <string>
#include <vector>

#include "design.h"
#include "sheet.h"

struct Idat_pair {
    std::string green;
    std::string red;
};

// The pair of each sample (samples[s] is from sheet.rows[s]). idat_dir
// empty: the sheet's folder. False, with error "FILE:LINE: what".
bool find_idat_pairs(const Sheet& sheet, const std::vector<Design_sample>& samples, const std::string& idat_dir,
                     std::vector<Idat_pair>& pairs, std::string& error);

#endif
