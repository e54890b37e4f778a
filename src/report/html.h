// The report page: one self-contained HTML file (inline CSS and SVG, a few
// lines of script that sort the tables when a header is clicked; the pictures
// need no script and nothing is loaded from the network).
#ifndef CIMBREL_REPORT_HTML_H
#define CIMBREL_REPORT_HTML_H

#include <string>

#include "options.h"
#include "stats.h"
#include "tables.h"

struct Report_content {
    const Report_options* options = nullptr;
    const Probe_table* probes = nullptr;
    const Probe_summary* summary = nullptr;
    const Region_table* r1 = nullptr;   // null when not given
    const Region_table* r2 = nullptr;
};

// The whole page.
std::string report_html(const Report_content& content);

// Writes text to path as a staged output (staged_output.h: a failed run never
// leaves a partial report, a link is followed, a FIFO or /dev/stdout is
// written through). False, with error "PATH: what went wrong", when it
// cannot be written.
bool write_report(const std::string& path, const std::string& text, std::string& error);

#endif
