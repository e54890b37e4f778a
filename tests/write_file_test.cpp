// Result writers: the probe table and tracks, the region tables and tracks,
// compared as whole files on small hand-built results.
#include "write_file.h"

#include <cmath>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

// One probe of a hand-built result: its statistics, its group means (A, B)
// and, when annotated, its position.
struct Probe_row {
    std::string id;
    double pvalue, fdr, range;
    std::vector<double> means;
    std::string chr;  // empty: the probe has no annotation
    uint32_t loc;
    std::string ann;
};

// Study, probe result and annotation built from rows; output under dir.
struct Fixture {
    Temp_dir dir;
    Data_description study;
    Probe_result result;
    std::vector<Point> points;
    Probe_index_map probe_index_map;
    Parameter options;

    explicit Fixture(const std::vector<Probe_row>& rows,
                     const std::vector<std::string>& groups = {"A", "B"}) {
        for (uint32_t g = 0; g < groups.size(); ++g) study.group_index.add(groups[g], g);
        result.pvalue = gsl_vector_alloc(rows.size());
        result.fdr = gsl_vector_alloc(rows.size());
        result.range = gsl_vector_alloc(rows.size());
        result.group_mean = gsl_matrix_alloc(rows.size(), groups.size());
        for (uint32_t i = 0; i < rows.size(); ++i) add_row(i, rows[i]);
        options.probe_out_file = dir.file("probe.txt");
        options.probe_prefix = dir.file("probe");
        options.r1_out_file = dir.file("r1.txt");
        options.r1_prefix = dir.file("r1");
        options.r2_out_file = dir.file("r2.txt");
        options.r2_prefix = dir.file("r2");
    }
    ~Fixture() {
        gsl_vector_free(result.pvalue);
        gsl_vector_free(result.fdr);
        gsl_vector_free(result.range);
        gsl_matrix_free(result.group_mean);
    }

    void add_row(uint32_t i, const Probe_row& row) {
        study.probe_index.add(row.id, i);
        gsl_vector_set(result.pvalue, i, row.pvalue);
        gsl_vector_set(result.fdr, i, row.fdr);
        gsl_vector_set(result.range, i, row.range);
        for (size_t g = 0; g < row.means.size(); ++g)
            gsl_matrix_set(result.group_mean, i, g, row.means[g]);
        if (!row.chr.empty()) annotate(row.id, row.chr, row.loc, row.ann);
    }
    void annotate(const std::string& id, const std::string& chr, uint32_t loc,
                  const std::string& ann) {
        Point point;
        point.chr = chr;
        point.loc = loc;
        point.id = id;
        point.ann = ann;
        points.push_back(point);
        probe_index_map.build(points);
    }
    std::string file(const std::string& name) const { return read_text(dir.file(name)); }

    bool write_probes(std::string* out = nullptr) {
        bool ok = false;
        std::string printed = capture_stdout([&] {
            ok = write_probe_result(study, result, points, probe_index_map, options);
        });
        if (out != nullptr) *out = mask_time_stamps(printed);
        return ok;
    }
    bool write_regions(bool predefined, const CGI_result& regions_result,
                       const CGI_description& region_list, std::string* out = nullptr) {
        bool ok = false;
        std::string printed = capture_stdout([&] {
            ok = predefined ? write_cgi_result(options, study, result, points,
                                               probe_index_map, regions_result, region_list)
                            : write_dmr_result(options, study, result, points,
                                               probe_index_map, regions_result, region_list);
        });
        if (out != nullptr) *out = mask_time_stamps(printed);
        return ok;
    }
};

// ---- probe table and tracks ----

// cg01 sits exactly on both thresholds (listed through the 1e-10 margin);
// cg02 misses the p-value threshold, cg03 the FDR threshold; cg04 has a zero
// mean ("-") and numbers that need the exponent form; cg05 has no
// annotation; rs06 (NaN mean) and r_07 (negative mean) start with "r".
std::vector<Probe_row> probe_rows() {
    return {
        {"cg01", 0.01, 0.01, 0.5, {0.25, 0.75}, "chr1", 1000, "annA"},
        {"cg02", 0.0100001, 0.001, 0.1, {0.3, 0.4}, "chr1", 1100, "annB"},
        {"cg03", 0.001, 0.5, 0.1, {0.3, 0.4}, "chr1", 1200, "annC"},
        {"cg04", 0.0001234, 1.5e-07, 0.123456789, {0.0, 0.5}, "chr2", 500, "annD"},
        {"cg05", 0.001, 0.001, 0.1, {0.3, 0.4}, "", 0, ""},
        {"rs06", 0.005, 0.005, 0.1, {std::nan(""), 0.9}, "chr10", 42, "annF"},
        {"r_07", 0.002, 0.002, 0.7, {-0.1, 0.8}, "chrX", 7, "annG"},
    };
}

const char* const probe_header = "ID\tPvalue\tFDR\tRange\tA\tB\tCHR\tLOC\tANN\n";

TEST(write_probe_result, lists_probes_passing_both_thresholds) {
    Fixture f(probe_rows());
    f.annotate("cg99", "chr1", 5, "not_in_study");
    std::string out;
    EXPECT_TRUE(f.write_probes(&out));
    EXPECT_EQ(out, "[TIME]     Write probe analysis result\n");
    EXPECT_EQ(f.file("probe.txt"),
              std::string(probe_header) +
                  "cg01\t0.01\t0.01\t0.5\t0.25\t0.75\tchr1\t1000\tannA\n"
                  "cg04\t0.0001234\t1.5e-07\t0.123457\t-\t0.5\tchr2\t500\tannD\n"
                  "rs06\t0.005\t0.005\t0.1\t-\t0.9\tchr10\t42\tannF\n"
                  "r_07\t0.002\t0.002\t0.7\t-\t0.8\tchrX\t7\tannG\n");
    EXPECT_EQ(f.file("probe_A.BedGraph"), "chr1\t1000\t1001\t0.250000\n");
    EXPECT_EQ(f.file("probe_B.BedGraph"),
              "chr1\t1000\t1001\t0.750000\n"
              "chr2\t500\t501\t0.500000\n"
              "chr10\t42\t43\t0.900000\n"
              "chrX\t7\t8\t0.800000\n");
}

TEST(write_probe_result, nosnp_skips_every_identifier_starting_with_r) {
    Fixture f(probe_rows());
    f.options.nosnp = true;
    EXPECT_TRUE(f.write_probes());
    EXPECT_EQ(f.file("probe.txt"),
              std::string(probe_header) +
                  "cg01\t0.01\t0.01\t0.5\t0.25\t0.75\tchr1\t1000\tannA\n"
                  "cg04\t0.0001234\t1.5e-07\t0.123457\t-\t0.5\tchr2\t500\tannD\n");
    EXPECT_EQ(f.file("probe_B.BedGraph"), "chr1\t1000\t1001\t0.750000\nchr2\t500\t501\t0.500000\n");
}

TEST(write_probe_result, one_group_gives_one_column_and_one_track) {
    Fixture f({{"cg01", 0.001, 0.001, 0.0, {0.6}, "chr1", 10, "x"}}, {"all"});
    EXPECT_TRUE(f.write_probes());
    EXPECT_EQ(
        f.file("probe.txt"),
        "ID\tPvalue\tFDR\tRange\tall\tCHR\tLOC\tANN\ncg01\t0.001\t0.001\t0\t0.6\tchr1\t10\tx\n");
    EXPECT_EQ(f.file("probe_all.BedGraph"), "chr1\t10\t11\t0.600000\n");
}

TEST(write_probe_result, last_position_ends_one_past_without_wrapping) {
    Fixture f({{"cg01", 0.001, 0.001, 0.5, {0.25, 0.75}, "chr1", 4294967295u, "a"}});
    EXPECT_TRUE(f.write_probes());
    EXPECT_EQ(f.file("probe_A.BedGraph"), "chr1\t4294967295\t4294967296\t0.250000\n");
}

TEST(write_probe_result, unwritable_table_fails_and_creates_no_track) {
    Fixture f(probe_rows());
    f.options.probe_out_file = f.dir.file("missing/probe.txt");
    std::string out;
    EXPECT_FALSE(f.write_probes(&out));
    EXPECT_EQ(out, "[TIME]     Write probe analysis result\nError: cannot open file " +
                       f.options.probe_out_file + "\n");
    EXPECT_FALSE(file_exists(f.dir.file("probe_A.BedGraph")));
    EXPECT_FALSE(file_exists(f.dir.file("probe_B.BedGraph")));
}

TEST(write_probe_result, unwritable_track_is_skipped_but_reported_as_failure) {
    Fixture f(probe_rows());
    ASSERT_EQ(mkdir(f.dir.file("probe_A.BedGraph").c_str(), 0755), 0);
    std::string out;
    EXPECT_FALSE(f.write_probes(&out));
    EXPECT_EQ(out, "[TIME]     Write probe analysis result\nError: can not open file " +
                       f.dir.file("probe_A.BedGraph") + "\n");
    EXPECT_NE(f.file("probe.txt").find("r_07\t"), std::string::npos);
    EXPECT_NE(f.file("probe_B.BedGraph").find("chrX\t7\t8\t0.800000\n"), std::string::npos);
}

TEST(write_probe_result, failed_write_is_reported_as_failure) {
    if (!file_exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    Fixture f(probe_rows());
    f.options.probe_out_file = "/dev/full";
    std::string out;
    EXPECT_FALSE(f.write_probes(&out));
    EXPECT_NE(out.find("Error: cannot write file /dev/full\n"), std::string::npos);
}

// ---- region tables and tracks ----

// Probes a-d on chr1, e and f at one position on chr10 (e has no B mean),
// g, h on chr2, i-l in regions that miss a threshold.
std::vector<Probe_row> region_probe_rows() {
    return {
        {"a", 2, 1, 0, {0.21, 0.31}, "chr1", 1100, "annA"},
        {"b", 2, 1, 0, {0.22, 0.32}, "chr1", 1200, "annB"},
        {"c", 2, 1, 0, {0.23, 0.33}, "chr1", 1300, "annC"},
        {"d", 2, 1, 0, {0.24, 0.34}, "chr1", 1400, "annD"},
        {"e", 2, 1, 0, {0.25, 2.0}, "chr10", 50, "annE"},
        {"f", 2, 1, 0, {0.26, 0.36}, "chr10", 50, "annF"},
        {"g", 2, 1, 0, {0.27, 0.37}, "chr2", 10, "annG"},
        {"h", 2, 1, 0, {0.28, 0.38}, "chr2", 20, "annH"},
        {"i", 2, 1, 0, {0.29, 0.39}, "chr3", 5, "annI"},
        {"j", 2, 1, 0, {0.30, 0.40}, "chr3", 6, "annJ"},
        {"k", 2, 1, 0, {0.31, 0.41}, "chr4", 1, "annK"},
        {"l", 2, 1, 0, {0.32, 0.42}, "chr4", 2, "annL"},
    };
}

struct Region_case {
    const char* chr;
    uint32_t start, end;
    const char* name;
    double pvalue, fdr;
    std::vector<std::string> probes;
};

// A region list and its result; owns the result vectors.
struct Region_set {
    CGI_description region_list;
    CGI_result result;

    // Probes are listed by their rows in the study's registry.
    Region_set(const std::vector<Region_case>& cases, const ID_index& probes) {
        if (cases.empty()) return;
        result.pvalue = gsl_vector_alloc(cases.size());
        result.fdr = gsl_vector_alloc(cases.size());
        for (uint32_t i = 0; i < cases.size(); ++i) {
            Bed region;
            region.chr = cases[i].chr;
            region.start = cases[i].start;
            region.end = cases[i].end;
            region.name = cases[i].name;
            region_list.regions.push_back(region);
            for (const std::string& id : cases[i].probes) {
                uint32_t row = 0;
                EXPECT_TRUE(probes.find(id, row)) << id;
                region_list.region_probes.add(i, row);
            }
            gsl_vector_set(result.pvalue, i, cases[i].pvalue);
            gsl_vector_set(result.fdr, i, cases[i].fdr);
        }
    }
    ~Region_set() { cgi_result_free(result); }
};

// Regions 0 and 1 share a, b, c; region 2 holds two probes at one position;
// regions 4 and 5 miss a threshold; region 6 is untested.
std::vector<Region_case> region_cases() {
    return {
        {"chr1", 1000, 2000, "X", 0.001, 0.005, {"a", "b", "c"}},
        {"chr1", 1000, 2000, "Y", 0.01, 0.01, {"a", "b", "c", "d"}},
        {"chr10", 0, 100, "Z", 1e-5, 0.000012345678, {"e", "f"}},
        {"chr2", 0, 100, "W", 0.002, 0.003, {"g", "h"}},
        {"chr3", 0, 10, "V", 0.001, 0.02, {"i", "j"}},
        {"chr4", 0, 10, "U", 0.0100001, 0.001, {"k", "l"}},
        {"chr5", 0, 10, "T", 2.0, 2.0, {}},
    };
}

const char* const region_header = "CHR\tSTART\tEND\tNAME\tPVALUE\tFDR\tPROBE\tANNOTATION\n";

TEST(write_region_result, table_lists_reported_regions_in_region_order) {
    Fixture f(region_probe_rows());
    Region_set regions(region_cases(), f.study.probe_index);
    std::string out;
    EXPECT_TRUE(f.write_regions(true, regions.result, regions.region_list, &out));
    EXPECT_EQ(out, "[TIME]     Writing predefined region result\n");
    EXPECT_EQ(f.file("r1.txt"), std::string(region_header) +
                                    "chr1\t1000\t2000\tX\t0.001\t0.005\ta,b,c,\tannB\n"
                                    "chr1\t1000\t2000\tY\t0.01\t0.01\ta,b,c,d,\tannC\n"
                                    "chr10\t0\t100\tZ\t1e-05\t1.23457e-05\te,f,\tannF\n"
                                    "chr2\t0\t100\tW\t0.002\t0.003\tg,h,\tannH\n");
}

TEST(write_region_result, tracks_sorted_by_chromosome_text_one_line_per_position) {
    // chr10 before chr2; a-c written once though two regions list them; at
    // chr10:50 the A track keeps e's value (met first); e has no B mean, so
    // the B track takes f's; i-l belong to unreported regions.
    Fixture f(region_probe_rows());
    Region_set regions(region_cases(), f.study.probe_index);
    EXPECT_TRUE(f.write_regions(true, regions.result, regions.region_list));
    EXPECT_EQ(f.file("r1_A.BedGraph"),
              "chr1\t1100\t1101\t0.210000\nchr1\t1200\t1201\t0.220000\nchr1\t1300\t1301\t0.230000\n"
              "chr1\t1400\t1401\t0.240000\nchr10\t50\t51\t0.250000\n"
              "chr2\t10\t11\t0.270000\nchr2\t20\t21\t0.280000\n");
    EXPECT_EQ(f.file("r1_B.BedGraph"),
              "chr1\t1100\t1101\t0.310000\nchr1\t1200\t1201\t0.320000\nchr1\t1300\t1301\t0.330000\n"
              "chr1\t1400\t1401\t0.340000\nchr10\t50\t51\t0.360000\n"
              "chr2\t10\t11\t0.370000\nchr2\t20\t21\t0.380000\n");
}

TEST(write_region_result, predefined_and_arbitrary_writers_write_the_same_bytes) {
    Fixture f(region_probe_rows());
    std::vector<Region_case> cases = region_cases();
    cases[3].name = "";  // an arbitrary region's empty name: two tabs side by side
    Region_set regions(cases, f.study.probe_index);
    std::string out;
    EXPECT_TRUE(f.write_regions(true, regions.result, regions.region_list));
    EXPECT_TRUE(f.write_regions(false, regions.result, regions.region_list, &out));
    EXPECT_EQ(out, "[TIME]     Writing arbitrary region result\n");
    EXPECT_NE(f.file("r2.txt").find("chr2\t0\t100\t\t0.002\t"), std::string::npos);
    EXPECT_EQ(f.file("r1.txt"), f.file("r2.txt"));
    EXPECT_EQ(f.file("r1_A.BedGraph"), f.file("r2_A.BedGraph"));
    EXPECT_EQ(f.file("r1_B.BedGraph"), f.file("r2_B.BedGraph"));
}

TEST(write_region_result, no_region_writes_header_and_empty_tracks) {
    Fixture f(region_probe_rows());
    Region_set regions({}, f.study.probe_index);
    ASSERT_EQ(regions.result.pvalue, nullptr);
    EXPECT_TRUE(f.write_regions(false, regions.result, regions.region_list));
    EXPECT_EQ(f.file("r2.txt"), region_header);
    EXPECT_TRUE(file_exists(f.dir.file("r2_A.BedGraph")));
    EXPECT_EQ(f.file("r2_A.BedGraph"), "");
    EXPECT_TRUE(file_exists(f.dir.file("r2_B.BedGraph")));
    EXPECT_EQ(f.file("r2_B.BedGraph"), "");
}

TEST(write_region_result, probe_without_annotation_never_shows_another_probes_value) {
    // "lost" is a study probe without annotation (and region X's ANNOTATION
    // pick): it is listed, but neither borrows point 0 nor draws a track line.
    std::vector<Probe_row> rows = region_probe_rows();
    rows.push_back({"lost", 2, 1, 0, {0.5, 0.5}, "", 0, ""});
    Fixture f(rows);
    Region_set regions({{"chr1", 1000, 2000, "X", 0.001, 0.001, {"b", "lost"}},
                        {"chr1", 3000, 4000, "Y", 0.001, 0.001, {"lost", "b", "c"}}},
                       f.study.probe_index);
    std::string out;
    EXPECT_TRUE(f.write_regions(true, regions.result, regions.region_list, &out));
    EXPECT_EQ(out, "[TIME]     Writing predefined region result\n");
    EXPECT_EQ(f.file("r1.txt"), std::string(region_header) +
                                    "chr1\t1000\t2000\tX\t0.001\t0.001\tb,lost,\t\n"
                                    "chr1\t3000\t4000\tY\t0.001\t0.001\tlost,b,c,\tannB\n");
    EXPECT_EQ(f.file("r1_A.BedGraph"), "chr1\t1200\t1201\t0.220000\nchr1\t1300\t1301\t0.230000\n");
    EXPECT_EQ(f.file("r1_B.BedGraph"), "chr1\t1200\t1201\t0.320000\nchr1\t1300\t1301\t0.330000\n");
}

TEST(write_region_result, unwritable_table_fails_and_creates_no_track) {
    Fixture f(region_probe_rows());
    Region_set regions(region_cases(), f.study.probe_index);
    f.options.r1_out_file = f.dir.file("missing/r1.txt");
    std::string out;
    EXPECT_FALSE(f.write_regions(true, regions.result, regions.region_list, &out));
    EXPECT_EQ(out, "[TIME]     Writing predefined region result\nError: cannot open file " +
                       f.options.r1_out_file + "\n");
    EXPECT_FALSE(file_exists(f.dir.file("r1_A.BedGraph")));
}

TEST(write_region_result, unwritable_track_stops_with_empty_files) {
    // Three groups, B's track blocked: the table and A's track exist but are
    // empty, C's track is never created.
    std::vector<Probe_row> rows = region_probe_rows();
    for (Probe_row& row : rows) row.means.push_back(0.5);
    Fixture f(rows, {"A", "B", "C"});
    Region_set regions(region_cases(), f.study.probe_index);
    ASSERT_EQ(mkdir(f.dir.file("r2_B.BedGraph").c_str(), 0755), 0);
    std::string out;
    EXPECT_FALSE(f.write_regions(false, regions.result, regions.region_list, &out));
    EXPECT_EQ(out, "[TIME]     Writing arbitrary region result\nError: cannot open file " +
                       f.dir.file("r2_B.BedGraph") + "\n");
    EXPECT_EQ(f.file("r2.txt"), "");
    EXPECT_TRUE(file_exists(f.dir.file("r2_A.BedGraph")));
    EXPECT_EQ(f.file("r2_A.BedGraph"), "");
    EXPECT_FALSE(file_exists(f.dir.file("r2_C.BedGraph")));
}

TEST(write_region_result, failed_write_is_reported_as_failure) {
    if (!file_exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    Fixture f(region_probe_rows());
    Region_set regions(region_cases(), f.study.probe_index);
    f.options.r1_out_file = "/dev/full";
    std::string out;
    EXPECT_FALSE(f.write_regions(true, regions.result, regions.region_list, &out));
    EXPECT_NE(out.find("Error: cannot write file /dev/full\n"), std::string::npos);
}

}  // namespace
