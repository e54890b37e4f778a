// The run of cimbrel-covariates: reads the study with cimbrel's reader,
// estimates what was asked for and writes the new configuration (and the
// table) whole or not at all.
#ifndef CIMBREL_COVARIATES_RUN_H
#define CIMBREL_COVARIATES_RUN_H

#include <cstdint>
#include <string>
#include <vector>

struct Covariates_options {
    std::string configuration;   // CONFIG
    std::string out;             // --out NEW_CONFIG
    std::string table;           // --table FILE ("" for none)
    std::string cells;           // --cells REFERENCE, or "blood"
    uint32_t covariables = 0;    // --covariable K
    uint32_t components = 0;     // --pcs N
    uint32_t threads = 1;        // -n
    bool continuous = false;     // --continuous
};

// What the run tells the user, besides the messages of the study reader.
struct Covariates_report {
    std::vector<std::string> notes;
    std::string error;           // the reason of a failed run
    std::string command;         // the cimbrel command that uses the new configuration
};

// The bundled reference that "--cells blood" names.
constexpr const char* blood_reference = "blood_salas2018.txt";

// True when NEW_CONFIG (and the table) were written.
bool run_covariates(const Covariates_options& options, Covariates_report& report);

#endif
