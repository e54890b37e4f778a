// cimbrel-report: reads the probe table (and optionally the region tables)
// that cimbrel writes, writes one self-contained HTML report of pictures and
// tables, and prints a summary, one key<TAB>value per line, on standard
// output. Exit status 0 on success or --help; 1 for bad usage, an input that
// cannot be read, or a report that cannot be written (message on standard
// error as "cimbrel-report: FILE:LINE: what is wrong"; no report is left,
// and an output that names an input is refused).
#include <cmath>
#include <cstdio>
#include <string>

#include <gsl/gsl_errno.h>

#include "html.h"
#include "messages.h"
#include "options.h"
#include "plots.h"
#include "staged_output.h"
#include "stats.h"
#include "tables.h"

namespace {

const Messages messages("cimbrel-report");

// Reads the region table at path when one is given; table stays null otherwise.
bool read_regions(const std::string& path, Region_table& storage, const Region_table*& table, std::string& error) {
    if (path.empty()) return true;
    if (!read_region_table(path, storage, error)) return false;
    table = &storage;
    return true;
}

// Counts and λ of a region table; λ is "-" when no region was tested.
void print_regions(const char* key, const Region_table* table, double q) {
    if (table == nullptr) return;
    printf("%s_regions\t%zu\n%s_significant\t%zu\n", key, table->rows.size(), key, count_significant(table->rows, q));
    const double lambda = region_qq_points(*table).lambda;
    if (std::isnan(lambda)) printf("%s_lambda\t-\n", key);
    else printf("%s_lambda\t%.6f\n", key, lambda);
}

void print_summary(const Report_content& content) {
    const Probe_summary& s = *content.summary;
    std::string names;
    for (const std::string& g : content.probes->groups) names += (names.empty() ? "" : ",") + g;
    printf("probes\t%zu\ntested\t%zu\nsignificant\t%zu\nfdr\t%g\ngroups\t%zu\ngroup_names\t%s\nlambda\t%.6f\n"
           "table\t%s\n",
           s.rows, s.tested, s.significant, s.q, content.probes->groups.size(), names.c_str(), s.lambda,
           s.thresholded ? "thresholded" : "full");
    print_regions("r1", content.r1, s.q);
    print_regions("r2", content.r2, s.q);
    printf("report\t%s\n", content.options->out.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    gsl_set_error_handler_off();  // GSL reports through return values here, never by aborting
    Report_options options;
    std::string error;
    if (!parse_report_options(argc, argv, options, error)) return messages.usage_error(error);
    if (options.help) {
        fputs(report_usage(), stdout);
        return 0;
    }
    if (options.version) return messages.version();
    if (!check_not_input(options.out, {options.probe_table, options.r1, options.r2}, error))
        return messages.fail(error);
    Probe_table probes;
    Region_table r1_storage, r2_storage;
    Report_content content;
    if (!read_probe_table(options.probe_table, probes, error) || !read_regions(options.r1, r1_storage, content.r1, error) ||
        !read_regions(options.r2, r2_storage, content.r2, error))
        return messages.fail(error);
    const Probe_summary summary = summarize(probes, options.fdr);
    if (summary.tested == 0)
        return messages.fail(options.probe_table + ": no tested probe (every p-value is above 1), nothing to report");
    content.options = &options;
    content.probes = &probes;
    content.summary = &summary;
    if (!write_report(options.out, report_html(content), error)) return messages.fail(error);
    print_summary(content);
    return 0;
}
