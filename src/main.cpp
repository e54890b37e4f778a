// Cimbrel: differential methylation analysis of array beta values.
// main walks the stages in their fixed order on the main thread. It stops
// early (exit status 1) when the study cannot be read or a stage cannot read
// its values back, since nothing valid would follow, and ends with exit
// status 1 when a result file could not be written.
#include <cstdio>
#include <string>
#include <vector>

#include "bed_file.h"
#include "cgi_analysis.h"
#include "dmr_analysis.h"
#include "line_reader.h"
#include "normalize.h"
#include "parameter.h"
#include "probe_analysis.h"
#include "read_file.h"
#include "time_out.h"
#include "write_file.h"

namespace {

// The region file is checked before any stage runs (read to its end, so that
// corrupt compressed data is found too): a run that would stop for it stops
// at once and writes no result file at all.
bool region_file_readable(const Parameter& options) {
    if (!options.r1_on) return true;
    if (!file_readable(options.r1_file)) {
        printf("Error: cannot open file %s\n", options.r1_file.c_str());
        return false;
    }
    std::string error;
    if (file_intact(options.r1_file, error)) return true;
    printf("Error: cannot read file %s: %s\n", options.r1_file.c_str(), error.c_str());
    return false;
}

// A region stage that could not read the values: nothing more is written.
int stop_after_region_failure(Data_matrix* matrix, Probe_result& probe_result, CGI_result& region_result) {
    cgi_result_free(region_result);
    probe_result_free(probe_result);
    data_matrix_free(matrix);
    fflush(stdout);
    return 1;
}

// Reads the probe annotation on a thread of its own, keeping the messages it
// would have printed.
void read_annotation(const Parameter& options, std::vector<Point>& points, Probe_index_map& probe_index_map,
                     bool& read, std::string& messages) {
    Message_capture capture;
    read = read_probe_ann(options.probe_ann_file, points, probe_index_map);
    messages = capture.text();
}

}  // namespace

int main(int argc, char** argv) {
    Data_description study;
    Parameter options;
    CGI_description predefined;
    CGI_description arbitrary;
    std::vector<Point> points;
    Probe_index_map probe_index_map;
    Probe_result probe_result;
    CGI_result predefined_result;
    CGI_result arbitrary_result;

    options = parameter_manipulate(argc, argv);
    if (!region_file_readable(options)) return 1;
    Region_test region_test = Region_test::mean;
    std::string error;
    if (!region_test_choice(region_test, error)) {
        message("Error: %s\n", error.c_str());
        return 1;
    }

    // The probe annotation does not depend on the data, so with more than one
    // thread it is read beside the data files, on a core the readers leave
    // idle at times; its messages are printed after the data reader's, as
    // when one is read after the other.
    bool annotated = false;
    std::string annotation_messages;
    boost::thread annotation_reader;
    if (options.thread_num > 1)
        annotation_reader = boost::thread(
            [&] { read_annotation(options, points, probe_index_map, annotated, annotation_messages); });
    Data_matrix* matrix = read_data(options.configure_file, study, options.covariable_num,
                                    options.thread_num, options);
    if (annotation_reader.joinable()) annotation_reader.join();
    if (matrix == nullptr) return 1;
    if (options.thread_num > 1) {
        if (!annotation_messages.empty()) message("%s", annotation_messages.c_str());
    } else {
        annotated = read_probe_ann(options.probe_ann_file, points, probe_index_map);
    }
    if (!annotated) {
        data_matrix_free(matrix);
        return 1;
    }

    bool written = true;
    if (options.normalize_on) normalize(matrix, options.thread_num, &study);
    Probe_stage_keeps keeps;
    keeps.fits = region_test == Region_test::pooled && (options.r1_on || options.r2_on);
    keeps.normalised_values = region_test == Region_test::mean && (options.r1_on || options.r2_on);
    if (!probe_analysis(matrix, options.thread_num, study, probe_result, Fit_path::fast, keeps)) {
        probe_result_free(probe_result);
        data_matrix_free(matrix);
        return 1;
    }
    written &= write_probe_result(study, probe_result, points, probe_index_map, options);

    if (options.r1_on) {
        read_cgi(options.r1_file, predefined.regions);
        cgi_probe(predefined.regions, points, study, probe_index_map, predefined.region_probes);
        if (!cgi_analysis(matrix, options.thread_num, study, predefined_result, predefined, &probe_result,
                          Fit_path::fast, region_test)) {
            return stop_after_region_failure(matrix, probe_result, predefined_result);
        }
        written &= write_cgi_result(options, study, probe_result, points, probe_index_map,
                                    predefined_result, predefined);
    }
    if (options.r2_on) {
        if (!dmr_analysis(study, matrix, options, points, probe_index_map, arbitrary, arbitrary_result,
                          &probe_result, Fit_path::fast, region_test)) {
            cgi_result_free(predefined_result);
            return stop_after_region_failure(matrix, probe_result, arbitrary_result);
        }
        written &= write_dmr_result(options, study, probe_result, points, probe_index_map,
                                    arbitrary_result, arbitrary);
    }

    cgi_result_free(arbitrary_result);
    cgi_result_free(predefined_result);
    probe_result_free(probe_result);
    data_matrix_free(matrix);
    fflush(stdout);
    return written ? 0 : 1;
}
