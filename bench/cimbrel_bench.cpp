// Benchmark driver: loads a study laid out like the bundled example (made by
// cimbrel_generate), times every stage of a default run with the fast paths,
// and times the reference implementations side by side in the same run: the
// whole reference probe stage, and the reference region worker on every k-th
// region (the same stride a worker uses) scaled to the whole stage, since
// dense region fits take minutes at array scale. With CIMBREL_MEMORY set
// below the study's size the values are spilled to disk and analysed by
// blocks of rows (the out-of-core path); the reference rows are then left
// out, since they need the matrix in memory. CIMBREL_REGION_TEST chooses the
// region test of the region rows, as for cimbrel (the reference region rows
// always time the pooled model's dense fits). The read stage's throughput is
// given in MB of data-file text per second of wall time and of CPU time
// (the latter less sensitive to a busy machine). Not a test.
//
//   cimbrel_bench <study dir> [-n threads] [--covariable K] [--continuous]
//                 [--region-stride k] [--no-reference]
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bed_file.h"
#include "cgi_analysis.h"
#include "dmr_analysis.h"
#include "input_file.h"
#include "line_reader.h"
#include "normalize.h"
#include "parameter.h"
#include "probe_analysis.h"
#include "read_file.h"
#include "spill_file.h"
#include "write_file.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

template <class Body>
double timed(Body body) {
    auto start = Clock::now();
    body();
    return seconds_since(start);
}

double cpu_seconds() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Bytes of text in the data files the configuration names (compressed files
// are inflated to count them).
double data_text_bytes(const std::string& configure_file) {
    Line_reader configuration(configure_file);
    std::string_view line;
    double bytes = 0.0;
    std::vector<char> buffer(1 << 20);
    while (configuration.next(line)) {
        Line_scanner scanner(line);
        std::string file;
        if (line.empty() || line[0] == '#' || !scanner.word(file)) continue;
        Input_file input;
        if (!input.open(file)) continue;
        if (!input.compressed()) {
            bytes += static_cast<double>(input.size_hint());
            continue;
        }
        for (long n = 0; (n = input.read(buffer.data(), buffer.size())) > 0;) bytes += static_cast<double>(n);
    }
    return bytes;
}

double peak_rss_mb() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

struct Options {
    std::string dir;
    uint32_t threads = 2;
    uint32_t covariables = 1;
    bool continuous = false;
    uint32_t region_stride = 50;
    bool reference = true;  // time the reference implementations too
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (a == "-n") o.threads = std::stoul(value());
        else if (a == "--covariable") o.covariables = std::stoul(value());
        else if (a == "--continuous") o.continuous = true;
        else if (a == "--region-stride") o.region_stride = std::stoul(value());
        else if (a == "--no-reference") o.reference = false;
        else o.dir = a;
    }
    if (o.dir.empty()) {
        fprintf(stderr, "usage: cimbrel_bench <study dir> [-n threads] [--covariable K] [--continuous]"
                        " [--region-stride k] [--no-reference]\n");
        exit(2);
    }
    return o;
}

void row(const char* stage, double fast, double reference, bool estimated = false) {
    if (reference > 0)
        fprintf(stderr, "%-28s %10.3f s   reference %10.3f s %s  ratio %8.1fx\n", stage, fast, reference,
                estimated ? "(est.)" : "      ", reference / fast);
    else
        fprintf(stderr, "%-28s %10.3f s\n", stage, fast);
}

// Times the reference region worker on every stride-th region, scaled up.
double reference_regions(Data_matrix* matrix, const Data_description& study,
                         const CGI_description& region_list, uint32_t stride) {
    if (region_list.regions.empty()) return 0.0;
    CGI_result scratch;
    scratch.pvalue = gsl_vector_alloc(region_list.regions.size());
    scratch.fdr = gsl_vector_alloc(region_list.regions.size());
    gsl_vector_set_all(scratch.pvalue, 2.0);
    double t = timed([&] { cgi_analysis_thread(matrix, 0, stride, &study, &region_list, &scratch); });
    cgi_result_free(scratch);
    return t * stride;
}

}  // namespace

int main(int argc, char** argv) {
    Options o = parse(argc, argv);
    if (chdir((o.dir + "/run").c_str()) != 0) {
        fprintf(stderr, "cannot enter %s/run\n", o.dir.c_str());
        return 2;
    }
    // CIMBREL_REGION_TEST picks the region test, as it does for cimbrel.
    Region_test region_test = Region_test::mean;
    std::string error;
    if (!region_test_choice(region_test, error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    Parameter options;
    options.thread_num = o.threads;
    options.covariable_num = o.covariables;
    options.continuous_on = o.continuous;
    fflush(stdout);
    // Stage messages go to /dev/null; the timings go to standard error.
    if (freopen("/dev/null", "w", stdout) == nullptr) return 2;

    Data_description study;
    Data_matrix* matrix = nullptr;
    const double cpu_before_read = cpu_seconds();
    double t_read = timed([&] {
        matrix = read_data(options.configure_file, study, o.covariables, o.threads, options);
    });
    const double cpu_read = cpu_seconds() - cpu_before_read;
    if (matrix == nullptr) {
        fprintf(stderr, "study could not be read\n");
        return 1;
    }
    std::vector<Point> points;
    Probe_index_map index_map;
    double t_ann = timed([&] { read_probe_ann(options.probe_ann_file, points, index_map); });
    double t_norm = timed([&] { normalize(matrix, o.threads, &study); });

    Probe_result fast;
    double t_probe = timed([&] {
        Probe_stage_keeps keeps;
        keeps.fits = region_test == Region_test::pooled;
        keeps.normalised_values = region_test == Region_test::mean;
        probe_analysis(matrix, o.threads, study, fast, Fit_path::fast, keeps);
    });
    // The reference probe stage runs in full (same thread count, FDR step
    // included), so both rows measure the same work.
    Probe_result reference;
    const bool in_memory = matrix->logit != nullptr;
    const bool with_reference = in_memory && o.reference;
    double t_probe_ref = with_reference ? timed([&] {
        probe_analysis(matrix, o.threads, study, reference, Fit_path::reference);
    }) : 0.0;
    double t_write = timed([&] { write_probe_result(study, fast, points, index_map, options); });

    CGI_description islands;
    CGI_result island_result;
    double t_r1 = timed([&] {
        read_cgi(options.r1_file, islands.regions);
        cgi_probe(islands.regions, points, study, index_map, islands.region_probes);
        cgi_analysis(matrix, o.threads, study, island_result, islands, &fast, Fit_path::fast, region_test);
    });
    double t_r1_ref = with_reference ? reference_regions(matrix, study, islands, o.region_stride) / o.threads : 0.0;
    double t_r1_write = timed([&] {
        write_cgi_result(options, study, fast, points, index_map, island_result, islands);
    });

    CGI_description runs;
    CGI_result run_result;
    double t_r2 = timed([&] {
        dmr_analysis(study, matrix, options, points, index_map, runs, run_result, &fast, Fit_path::fast, region_test);
    });
    double t_r2_ref = with_reference ? reference_regions(matrix, study, runs, o.region_stride) / o.threads : 0.0;
    double t_r2_write = timed([&] {
        write_dmr_result(options, study, fast, points, index_map, run_result, runs);
    });

    fprintf(stderr, "study %s: %u probes x %u samples, %u threads, %zu islands, %zu runs\n", o.dir.c_str(),
            probe_count(*matrix), sample_count(*matrix), o.threads, islands.regions.size(), runs.regions.size());
    if (in_memory) {
        fprintf(stderr, "values in memory\n");
    } else {
        fprintf(stderr, "values spilled to disk: %u blocks of %u rows (normalisation is applied as the "
                        "probe tests load each block)\n",
                spill_block_count(*matrix->spill), matrix->spill->block_rows);
    }
    row("read data", t_read, 0);
    const double text_mb = data_text_bytes(options.configure_file) / 1e6;
    fprintf(stderr, "  data-file text %.0f MB: %.0f MB/s; %.1f CPU s, %.0f MB per CPU second\n", text_mb,
            text_mb / t_read, cpu_read, text_mb / cpu_read);
    row("read annotation", t_ann, 0);
    row("normalize", t_norm, 0);
    row("probe tests", t_probe, t_probe_ref);
    row("write probes", t_write, 0);
    row("predefined regions", t_r1, t_r1_ref, true);
    row("write predefined", t_r1_write, 0);
    row("arbitrary regions", t_r2, t_r2_ref, true);
    row("write arbitrary", t_r2_write, 0);
    fprintf(stderr, "peak resident memory %.0f MB\n", peak_rss_mb());

    cgi_result_free(run_result);
    cgi_result_free(island_result);
    probe_result_free(reference);
    probe_result_free(fast);
    data_matrix_free(matrix);
    return 0;
}
