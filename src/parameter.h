// Run options: the record filled from the command line, its parser and the
// usage text. parameter_manipulate is the only place that ends the process:
// exit status 0 after -h/--help, -1 (255 in a shell) for a rejected command
// line; parse_parameters reports the same outcome without ending it.
#ifndef CIMBREL_PARAMETER_H
#define CIMBREL_PARAMETER_H

#include <cstdint>
#include <string>

struct Parameter {
    double pvalue_threshold = 0.01;  // report when p < threshold + 1e-10
    double fdr_threshold = 0.01;     // report when FDR < threshold + 1e-10
    uint32_t thread_num = 1;         // workers of every fan-out, 1 to 1024
    uint32_t covariable_num = 0;     // covariable columns after the group column
    bool normalize_on = true;
    bool r1_on = true;               // predefined regions
    bool r2_on = true;               // arbitrary regions
    bool continuous_on = false;
    bool nosnp = false;
    std::string probe_out_file = "probe.txt";  // derived: probe_prefix + ".txt"
    std::string r1_out_file = "r1.txt";        // derived: r1_prefix + ".txt"
    std::string r2_out_file = "r2.txt";        // derived: r2_prefix + ".txt"
    std::string configure_file = "../etc/description.xls";
    std::string r1_prefix = "r1";
    std::string r2_prefix = "r2";
    std::string probe_prefix = "probe";
    std::string probe_ann_file = "../data/probe.ann";
    std::string r1_file = "../data/cpgIslandExt.txt";
};

// Largest accepted thread count; larger values are refused like 0.
constexpr uint32_t max_thread_num = 1024;

// Parses argv[1..argc-1] into options (reset first) and derives the three
// table names, without ending the process. True when the run goes on; false
// when it must end with status: 0 after -h/--help (usage text printed), -1
// for a rejected command line (message and usage text printed).
bool parse_parameters(int argc, const char* const* argv, Parameter& options, int& status);

// parse_parameters for main: does not return on -h/--help (exit 0) or on any
// rejected argument (message, usage text, exit -1).
Parameter parameter_manipulate(int argc, char** argv);

// Writes the 29-line usage text to standard output.
void help();

#endif
