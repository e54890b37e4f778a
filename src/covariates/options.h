// The command line of cimbrel-covariates:
//   cimbrel-covariates CONFIG --out NEW_CONFIG [--covariable K] [--continuous]
//       [--cells REFERENCE|blood] [--pcs N] [--table FILE] [-n THREADS]
#ifndef CIMBREL_COVARIATES_OPTIONS_H
#define CIMBREL_COVARIATES_OPTIONS_H

#include <string>
#include <vector>

#include "run.h"

const char* covariates_usage();

// Reads args (without the program name). False, with error, for a command
// line that cannot run: an unknown option, a missing or bad value, not
// exactly one CONFIG, no --out, or neither --cells nor --pcs. help and
// version report -h/--help and --version (then nothing else is checked).
bool parse_covariates_options(const std::vector<std::string>& args, Covariates_options& options, bool& help,
                              bool& version, std::string& error);

#endif
