// Runs the built cimbrel-report for the command-line and browser tests.
#ifndef CIMBREL_TESTS_REPORT_RUN_H
#define CIMBREL_TESTS_REPORT_RUN_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "test_util.h"

// The argument quoted for the shell.
inline std::string shell_quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs cimbrel-report with args in folder dir; standard output and error
// are captured through files.
inline Run_result run_report(const std::vector<std::string>& args, const std::string& dir) {
    Temp_dir capture;
    std::string command = "cd " + shell_quote(dir) + " && " + shell_quote(CIMBREL_REPORT_BINARY);
    for (const std::string& arg : args) command += " " + shell_quote(arg);
    command += " >" + shell_quote(capture.file("out")) + " 2>" + shell_quote(capture.file("err")) + " </dev/null";
    const int status = std::system(command.c_str());
    Run_result result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = read_text(capture.file("out"));
    result.err = read_text(capture.file("err"));
    return result;
}

// Folder of the small report tables.
inline std::string report_data(const std::string& name) {
    return std::string(CIMBREL_TEST_DATA) + "/report_basic/" + name;
}

// A probe table of n probes on chr1-chr22, chrX and chrY with random
// p-values (most uniform, one in twenty far below 0.001, Range growing with
// −log10 p) and FDRs by cimbrel's rule min(1, max over j <= r of m·p(j)/j).
inline std::string random_probe_table(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<double> p(n);
    for (double& v : p) v = uniform(rng) < 0.05 ? std::pow(10.0, -4 - 40 * uniform(rng)) : uniform(rng);
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&p](size_t a, size_t b) { return p[a] < p[b]; });
    std::vector<double> fdr(n);
    double running = 0.0;
    for (size_t r = 0; r < n; ++r) {
        running = std::max(running, static_cast<double>(n) * p[order[r]] / static_cast<double>(r + 1));
        fdr[order[r]] = std::min(running, 1.0);
    }
    std::string text = "ID\tPvalue\tFDR\tRange\tcontrol\tcase\tCHR\tLOC\tANN\n";
    char line[256];
    for (size_t i = 0; i < n; ++i) {
        const double range = std::min(0.9, 0.01 * -std::log10(p[i]) + 0.02 * uniform(rng));
        const unsigned chr = static_cast<unsigned>(uniform(rng) * 24);
        const std::string name = chr < 22 ? std::to_string(chr + 1) : chr == 22 ? "X" : "Y";
        snprintf(line, sizeof line, "cg%08zu\t%g\t%g\t%g\t%g\t%g\tchr%s\t%u\tOpenSea\n", i, p[i], fdr[i], range,
                 0.05 + range, 0.05, name.c_str(), 1 + static_cast<unsigned>(uniform(rng) * 2e8));
        text += line;
    }
    return text;
}

#endif
