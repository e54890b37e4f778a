// cimbrel-covariates: companion program that estimates the cell composition
// and the hidden factors of a study and writes its configuration with them
// as more covariable columns. Messages, those of cimbrel's own reader
// included, go to standard error as "cimbrel-covariates: ..."; exit status 0
// on success or --help, 1 otherwise, with no output left behind.
#include <cstdio>
#include <string>
#include <vector>

#include "messages.h"
#include "options.h"
#include "run.h"
#include "time_out.h"

namespace {

const Messages messages("cimbrel-covariates");

// The study reader's messages, line by line, with the program's prefix
// (blank lines left out).
void say_lines(const char* text, size_t length) {
    size_t start = 0;
    while (start < length) {
        size_t end = start;
        while (end < length && text[end] != '\n') ++end;
        if (end > start) messages.say(std::string(text + start, end - start));
        start = end + 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    Covariates_options options;
    bool help = false, version = false;
    std::string error;
    if (!parse_covariates_options(std::vector<std::string>(argv + 1, argv + argc), options, help, version, error))
        return messages.usage_error(error);
    if (help) {
        fputs(covariates_usage(), stdout);
        return 0;
    }
    if (version) return messages.version();
    set_message_sink(say_lines);
    Covariates_report report;
    const bool ok = run_covariates(options, report);
    for (const std::string& note : report.notes) messages.say("note: " + note);
    if (!ok) return messages.fail(report.error);
    messages.say("run: " + report.command);
    return 0;
}
