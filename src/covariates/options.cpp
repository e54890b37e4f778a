#include "options.h"

#include "command_line.h"
#include "line_reader.h"
#include "parameter.h"

namespace {

const char usage[] =
    "Usage: cimbrel-covariates CONFIG --out NEW_CONFIG [options]\n"
    "\n"
    "Estimates the cell composition of the study of CONFIG (a cimbrel\n"
    "configuration) and the hidden factors of its residuals, and writes\n"
    "NEW_CONFIG: CONFIG with them as more covariable columns, for\n"
    "cimbrel --covariable.\n"
    "\n"
    "Options:\n"
    "  --out FILE        the new configuration (required)\n"
    "  --covariable K    covariable columns in CONFIG, as for cimbrel [0]\n"
    "  --continuous      the third column is a continuous value, as for cimbrel\n"
    "  --cells REF       cell proportions against the reference table REF, or\n"
    "                    against the bundled whole-blood reference: --cells blood\n"
    "  --pcs N           the first N principal components of the residuals\n"
    "  --table FILE      also a table of every proportion and component, with\n"
    "                    each component's fraction of the residual variance\n"
    "  -n THREADS        worker threads, 1 to 1024 [1]\n"
    "  -h, --help        print this help and exit\n"
    "  --version         print the version and exit\n"
    "\n"
    "At least one of --cells and --pcs is needed. Messages go to standard\n"
    "error; the last one is the cimbrel command that uses NEW_CONFIG.\n";

// A whole number from low to high.
bool read_count(const std::string& text, uint32_t low, uint32_t high, uint32_t& out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 10) return false;
    const unsigned long long value = std::stoull(text);
    if (value < low || value > high) return false;
    out = static_cast<uint32_t>(value);
    return true;
}

bool read_counts(const Command_line& line, Covariates_options& options, std::string& error) {
    struct Count {
        const char* name;
        uint32_t low, high;
        uint32_t* field;
    };
    const Count counts[] = {{"--covariable", 0, 100000, &options.covariables},
                            {"--pcs", 1, 100000, &options.components},
                            {"-n", 1, max_thread_num, &options.threads}};
    for (const Count& count : counts) {
        if (!line.has(count.name) || read_count(line.get(count.name), count.low, count.high, *count.field)) continue;
        error = std::string("option ") + count.name + " needs a whole number from " + std::to_string(count.low) +
                " to " + std::to_string(count.high) + ", not \"" + line.get(count.name) + "\"";
        return false;
    }
    return true;
}

}  // namespace

const char* covariates_usage() { return usage; }

bool parse_covariates_options(const std::vector<std::string>& args, Covariates_options& options, bool& help,
                              bool& version, std::string& error) {
    Option_rules rules;
    rules.with_value = {"--out", "--covariable", "--cells", "--pcs", "--table", "-n"};
    rules.flags = {"--continuous"};
    Command_line line;
    if (!parse_command_line(args, rules, line, error)) return false;
    help = line.help;
    version = line.version;
    if (help || version) return true;
    if (!read_counts(line, options, error)) return false;
    options.out = line.get("--out");
    options.table = line.get("--table");
    options.cells = line.get("--cells");
    options.continuous = line.has("--continuous");
    if (line.inputs.size() != 1) {
        error = line.inputs.empty() ? "no CONFIG given" : "one CONFIG only, not " + std::to_string(line.inputs.size());
        return false;
    }
    options.configuration = line.inputs[0];
    if (options.out.empty()) error = "--out NEW_CONFIG is required";
    else if (line.has("--cells") && options.cells.empty()) error = "--cells needs a reference file or \"blood\"";
    else if (options.cells.empty() && options.components == 0) error = "nothing to estimate: give --cells, --pcs or both";
    else if (!options.table.empty() && options.table == options.out) error = "--table and --out name the same file";
    return error.empty();
}
