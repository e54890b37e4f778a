#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "command_line.h"

namespace {

const char usage[] =
    "Usage: cimbrel-report PROBE_TABLE [options]\n"
    "\n"
    "Writes one self-contained HTML report (QQ plot with the genomic inflation\n"
    "factor lambda, Manhattan plot, volcano plot, p-value histogram, tables of\n"
    "the top probes and regions) from the tables that cimbrel writes, and prints\n"
    "a summary, one key<TAB>value per line. Tables may be gzip-compressed.\n"
    "The plots need every tested probe: run cimbrel with -p 1.01 -q 1.01.\n"
    "\n"
    "Options:\n"
    "  --r1 TABLE     predefined region table (r1.txt) for a table of top regions\n"
    "  --r2 TABLE     arbitrary region table (r2.txt) for a table of top regions\n"
    "  --out FILE     report file [report.html]\n"
    "  --fdr Q        significance level: FDR <= Q, from 0 to 1 [0.05]\n"
    "  --title TEXT   title of the report [Cimbrel report]\n"
    "  --top N        rows of each top table, from 1 to 10000 [20]\n"
    "  -h, --help     print this help and exit\n"
    "  --version      print the version and exit\n";

bool read_fdr(const std::string& text, double& out) {
    char* end = nullptr;
    errno = 0;
    double value = strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !(value >= 0.0 && value <= 1.0)) return false;
    out = value;
    return true;
}

bool read_top(const std::string& text, size_t& out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 6) return false;
    unsigned long value = strtoul(text.c_str(), nullptr, 10);
    if (value < 1 || value > 10000) return false;
    out = value;
    return true;
}

// Stores value into the option named name (one of value_options); false, with
// error set, for an invalid value.
bool set_option(const std::string& name, const std::string& value, Report_options& options, std::string& error) {
    if (name == "--r1") options.r1 = value;
    else if (name == "--r2") options.r2 = value;
    else if (name == "--out") options.out = value;
    else if (name == "--title") options.title = value;
    else if (name == "--fdr") {
        if (!read_fdr(value, options.fdr)) error = "--fdr '" + value + "': expected a number from 0 to 1";
    } else if (name == "--top") {
        if (!read_top(value, options.top)) error = "--top '" + value + "': expected a whole number from 1 to 10000";
    }
    if (error.empty() && value.empty() && (name == "--out" || name == "--r1" || name == "--r2"))
        error = name + ": expected a file name, got an empty value";
    return error.empty();
}

}  // namespace

bool parse_report_options(int argc, const char* const* argv, Report_options& options, std::string& error) {
    const Option_rules rules{{"--r1", "--r2", "--out", "--title", "--fdr", "--top"}, {}, true};
    Command_line line;
    if (!parse_command_line(std::vector<std::string>(argv + 1, argv + argc), rules, line, error)) return false;
    options.help = line.help;
    options.version = line.version;
    if (options.help || options.version) return true;
    for (const auto& [name, value] : line.values)
        if (!set_option(name, value, options, error)) return false;
    if (line.inputs.size() > 1) {
        error = "one probe table expected, got '" + line.inputs[0] + "' and '" + line.inputs[1] + "'";
        return false;
    }
    if (line.inputs.empty()) error = "no probe table given";
    else options.probe_table = line.inputs[0];
    return error.empty();
}

const char* report_usage() { return usage; }
