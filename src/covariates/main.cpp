#include <cstdio>
#include <cstdlib>
#include <string>

#include "run.h"

int main(int argc, char** argv) {
    Covariates_options options;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() { return std::string(argv[++i]); };
        if (a == "--out") options.out = next();
        else if (a == "--table") options.table = next();
        else if (a == "--cells") options.cells = next();
        else if (a == "--pcs") options.components = std::atoi(next().c_str());
        else if (a == "--covariable") options.covariables = std::atoi(next().c_str());
        else if (a == "-n") options.threads = std::atoi(next().c_str());
        else if (a == "--continuous") options.continuous = true;
        else if (a == "--help") return 0;
        else options.configuration = a;
    }
    Covariates_report report;
    bool ok = run_covariates(options, report);
    for (auto& n : report.notes) fprintf(stderr, "cimbrel-covariates: %s\n", n.c_str());
    if (!ok) { fprintf(stderr, "cimbrel-covariates: %s\n", report.error.c_str()); return 1; }
    fprintf(stderr, "cimbrel-covariates: run %s\n", report.command.c_str());
    return 0;
}
