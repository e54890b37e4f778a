#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <initializer_list>

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
    "  -h, --help     print this help and exit\n";

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

bool is_option(const std::string& name) {
    for (const char* known : {"--r1", "--r2", "--out", "--title", "--fdr", "--top"})
        if (name == known) return true;
    return false;
}

// Stores value into the option named name (one of is_option's); false, with
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
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            options.help = true;
            return true;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            const size_t equals = arg.find('=');
            std::string name = arg.substr(0, equals), value;
            if (!is_option(name)) {
                error = "unknown option '" + name + "'";
                return false;
            }
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                error = "option '" + name + "' needs a value";
                return false;
            }
            if (!set_option(name, value, options, error)) return false;
        } else if (options.probe_table.empty()) {
            options.probe_table = arg;
        } else {
            error = "one probe table expected, got '" + options.probe_table + "' and '" + arg + "'";
            return false;
        }
    }
    if (options.probe_table.empty()) error = "no probe table given";
    return error.empty();
}

const char* report_usage() { return usage; }
