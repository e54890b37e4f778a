// Fuzzes the command-line parser: the input is split at NUL bytes into the
// arguments after the program name. Promises checked: a parse that lets the
// run go on leaves a thread count in 1..1024, both thresholds in [0, 1.01],
// a one-word probe prefix and the table names prefix + ".txt"; a parse that
// ends the run does so with status 0 (help) or -1 after printing the usage
// text; the same arguments parse the same way twice.
#include <cmath>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "line_reader.h"
#include "parameter.h"

namespace {

constexpr size_t max_arguments = 64;

// The empty input is the command line without arguments.
std::vector<std::string> split_arguments(const uint8_t* data, size_t size) {
    if (size == 0) return {};
    std::vector<std::string> words(1);
    for (size_t i = 0; i < size && words.size() <= max_arguments; ++i) {
        if (data[i] == 0)
            words.emplace_back();
        else
            words.back().push_back(static_cast<char>(data[i]));
    }
    if (words.size() > max_arguments) words.pop_back();
    return words;
}

bool has_space(const std::string& text) {
    for (char c : text)
        if (is_space(c)) return true;
    return false;
}

void check_accepted(const Parameter& options) {
    FUZZ_CHECK(options.thread_num >= 1 && options.thread_num <= max_thread_num, "thread count out of range");
    FUZZ_CHECK(options.pvalue_threshold >= 0.0 && options.pvalue_threshold <= 1.01, "p-value threshold");
    FUZZ_CHECK(options.fdr_threshold >= 0.0 && options.fdr_threshold <= 1.01, "FDR threshold");
    FUZZ_CHECK(!options.probe_prefix.empty() && !has_space(options.probe_prefix), "probe prefix not one word");
    FUZZ_CHECK(options.probe_out_file == options.probe_prefix + ".txt", "probe table name");
    FUZZ_CHECK(options.r1_out_file == options.r1_prefix + ".txt", "r1 table name");
    FUZZ_CHECK(options.r2_out_file == options.r2_prefix + ".txt", "r2 table name");
}

bool same(const Parameter& a, const Parameter& b) {
    return a.pvalue_threshold == b.pvalue_threshold && a.fdr_threshold == b.fdr_threshold &&
           a.thread_num == b.thread_num && a.covariable_num == b.covariable_num &&
           a.normalize_on == b.normalize_on && a.r1_on == b.r1_on && a.r2_on == b.r2_on &&
           a.continuous_on == b.continuous_on && a.nosnp == b.nosnp && a.probe_out_file == b.probe_out_file &&
           a.r1_out_file == b.r1_out_file && a.r2_out_file == b.r2_out_file &&
           a.configure_file == b.configure_file && a.probe_ann_file == b.probe_ann_file &&
           a.r1_file == b.r1_file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words = split_arguments(data, size);
    std::vector<const char*> argv = {"cimbrel"};
    for (const std::string& word : words) argv.push_back(word.c_str());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(argv.size() - 1);

    restart_output();
    Parameter options, again;
    int status = 1, status_again = 1;
    const bool go_on = parse_parameters(argc, argv.data(), options, status);
    if (go_on) {
        check_accepted(options);
    } else {
        FUZZ_CHECK(status == 0 || status == -1, "exit status other than 0 and -1");
        FUZZ_CHECK(printed_bytes() > 0, "run ended without the usage text");
    }
    const bool go_on_again = parse_parameters(argc, argv.data(), again, status_again);
    FUZZ_CHECK(go_on == go_on_again, "same arguments, other outcome");
    FUZZ_CHECK(go_on ? same(options, again) : status == status_again, "same arguments, other result");
    return 0;
}
