// Command-line parsing: one pass over the arguments, each matched against a
// table of option words. A value-taking option consumes the next argument
// whatever it looks like; a later value replaces an earlier one.
#include "parameter.h"

#include <cstdio>
#include <cstdlib>

#include "line_reader.h"

namespace {

// Applies one option to the record. value is the argument after the option
// word (empty for flags); false means the value is refused.
using Apply = bool (*)(Parameter& options, const std::string& value);

struct Option {
    const char* word;
    const char* other_word;   // second spelling, or nullptr
    bool takes_value;
    Apply apply;              // nullptr for -h/--help
    const char* bad_value;    // printf format for a refused value (%s = value as typed)
};

// Flags: never refused; the value argument is unused.
bool clear_normalize(Parameter& options, const std::string&) {
    options.normalize_on = false;
    return true;
}
bool set_nosnp(Parameter& options, const std::string&) {
    options.nosnp = true;
    return true;
}
bool clear_r1(Parameter& options, const std::string&) {
    options.r1_on = false;
    return true;
}
bool clear_r2(Parameter& options, const std::string&) {
    options.r2_on = false;
    return true;
}
bool set_continuous(Parameter& options, const std::string&) {
    options.continuous_on = true;
    return true;
}

// Paths and prefixes are taken whole, blanks included, and never refused.
bool set_configure_file(Parameter& options, const std::string& value) {
    options.configure_file = value;
    return true;
}
bool set_r1_file(Parameter& options, const std::string& value) {
    options.r1_file = value;
    return true;
}
bool set_probe_ann_file(Parameter& options, const std::string& value) {
    options.probe_ann_file = value;
    return true;
}
bool set_r1_prefix(Parameter& options, const std::string& value) {
    options.r1_prefix = value;
    return true;
}
bool set_r2_prefix(Parameter& options, const std::string& value) {
    options.r2_prefix = value;
    return true;
}

bool read_threshold(const std::string& value, double& field) {
    double number = 0.0;
    if (!read_number(value, number) || number < 0.0 || number > 1.01) return false;
    field = number;
    return true;
}

// 0 would start no worker at all; counts above max_thread_num (a leading minus
// sign wraps to a huge count) would try to start millions of threads.
bool apply_thread(Parameter& options, const std::string& value) {
    uint32_t number = 0;
    if (!read_number(value, number) || number == 0 || number > max_thread_num) return false;
    options.thread_num = number;
    return true;
}

bool apply_pvalue(Parameter& options, const std::string& value) {
    return read_threshold(value, options.pvalue_threshold);
}

bool apply_fdr(Parameter& options, const std::string& value) {
    return read_threshold(value, options.fdr_threshold);
}

bool apply_covariable(Parameter& options, const std::string& value) {
    return read_number(value, options.covariable_num);
}

// Only the first blank-delimited word names the probe result files.
bool apply_probe_prefix(Parameter& options, const std::string& value) {
    Line_scanner scanner(value);
    return scanner.word(options.probe_prefix);
}

const Option option_table[] = {
    {"-h", "--help", false, nullptr, nullptr},
    {"--normalize-off", nullptr, false, clear_normalize, nullptr},
    {"--nosnp", nullptr, false, set_nosnp, nullptr},
    {"--r1-off", nullptr, false, clear_r1, nullptr},
    {"--r2-off", nullptr, false, clear_r2, nullptr},
    {"--continuous", nullptr, false, set_continuous, nullptr},
    {"-n", "--thread", true, apply_thread, "Invalid nproc value %s\n"},
    {"-p", "--pvalue", true, apply_pvalue, "Invalid pvalue %s\n"},
    {"-q", "--fdr", true, apply_fdr, "Invalid fdr value %s\n"},
    {"--covariable", nullptr, true, apply_covariable, "Invalid range value %s\n"},
    {"--probe-prefix", nullptr, true, apply_probe_prefix, "Invalid file name%s\n"},
    {"-c", "--configure", true, set_configure_file, nullptr},
    {"--r1", nullptr, true, set_r1_file, nullptr},
    {"--probe", nullptr, true, set_probe_ann_file, nullptr},
    {"--r1-prefix", nullptr, true, set_r1_prefix, nullptr},
    {"--r2-prefix", nullptr, true, set_r2_prefix, nullptr},
};

const Option* find_option(const std::string& argument) {
    for (const Option& option : option_table) {
        if (argument == option.word || (option.other_word != nullptr && argument == option.other_word))
            return &option;
    }
    return nullptr;
}

// A rejected command line: the message, formatted with the offending argument
// as typed, then the usage text; the run ends with status -1.
bool reject(const char* format, const char* argument, int& status) {
    printf(format, argument);
    help();
    status = -1;
    return false;
}

}  // namespace

bool parse_parameters(int argc, const char* const* argv, Parameter& options, int& status) {
    options = Parameter();
    if (argc <= 1) {  // no arguments (an empty vector as well): usage only
        help();
        status = -1;
        return false;
    }
    for (int i = 1; i < argc; ++i) {
        const Option* option = find_option(argv[i]);
        if (option == nullptr) return reject("Unrecognized parameter %s\n", argv[i], status);
        if (option->apply == nullptr) {
            help();
            status = 0;
            return false;
        }
        std::string value;
        if (option->takes_value) {
            if (i + 1 >= argc) return reject("Lack value of %s\n", argv[i], status);
            value = argv[++i];
        }
        if (!option->apply(options, value)) return reject(option->bad_value, value.c_str(), status);
    }
    options.probe_out_file = options.probe_prefix + ".txt";
    options.r1_out_file = options.r1_prefix + ".txt";
    options.r2_out_file = options.r2_prefix + ".txt";
    return true;
}

Parameter parameter_manipulate(int argc, char** argv) {
    Parameter options;
    int status = 0;
    if (!parse_parameters(argc, argv, options, status)) exit(status);
    return options;
}

void help() {
    static const char* const lines[] = {
        ("Cimbrel " CIMBREL_VERSION),  // one line: the version joined to the name
        "",
        "Usage:",
        "-h --help                                                print this help info",
        "",
        "<optional steps choice>",
        "--continuous                                             analyze relationship with continous variable rather than group",
        "--nosnp                                                  filter out probes containing genomic variance",
        "--normalize-off                                          do not normalize the raw betas",
        "--r1-off                                                 do not analyze predefined region",
        "--r2-off                                                 do not analyze arbitrary region",
        "",
        "<threshold choice>",
        "-n --thread                   [int]                      set threads number",
        "-p --pvalue                   [double]                   set p value threshold",
        "-q --fdr                      [double]                   set fdr threshold",
        "",
        "<basic function configuration>",
        "-c --configure                [string]                   configure file",
        "--covariable                  [int]                      covariable number",
        "--probe                       [string]                   probe annotation file",
        "--probe-prefix                [string]                   probe BedGraph result file prefix",
        "",
        "<predefined region configuration>",
        "--r1                          [string]                   predefined region file",
        "--r1-prefix                   [string]                   predefined region Bedgraph result file prefix",
        "",
        "<arbitrary region configuration>",
        "--r2-prefix                   [string]                   arbitrary region Bedgraph result file prefix",
    };
    for (const char* line : lines) {
        puts(line);
        fflush(stdout);
    }
}
