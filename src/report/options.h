// Command line of cimbrel-report:
//   cimbrel-report PROBE_TABLE [--r1 TABLE] [--r2 TABLE] [--out FILE]
//                  [--fdr Q] [--title TEXT] [--top N]
// Read as every companion reads its command line (command_line.h): each
// option takes the next argument as its value (also "--out=FILE"), a later
// value replaces an earlier one, "--" ends the options. "-h"/"--help" asks
// for the usage text, "--version" for the version.
#ifndef CIMBREL_REPORT_OPTIONS_H
#define CIMBREL_REPORT_OPTIONS_H

#include <cstddef>
#include <string>

struct Report_options {
    std::string probe_table;
    std::string r1;                        // empty: no predefined region table
    std::string r2;                        // empty: no arbitrary region table
    std::string out = "report.html";
    std::string title = "Cimbrel report";
    double fdr = 0.05;                     // significance level Q, FDR <= Q
    size_t top = 20;                       // rows in each table of top results
    bool help = false;
    bool version = false;
};

// Reads the arguments after the program name into options. False on an
// unknown option, a missing or invalid value, or a missing or second probe
// table; error then says what is wrong and what was expected.
bool parse_report_options(int argc, const char* const* argv, Report_options& options, std::string& error);

// The usage text printed by --help.
const char* report_usage();

#endif
