// Arbitrary regions: the linking distance, maximal runs, chromosome breaks,
// and the stage driver, which forms regions from the study's probes only,
// one annotation record per probe, and copes with no region at all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dmr_analysis.h"
#include "test_util.h"

namespace {

// Points in the order given (callers list them sorted); id "<chr>_<loc>".
std::vector<Point> points_at(const std::vector<std::pair<std::string, uint32_t>>& places) {
    std::vector<Point> points;
    for (const auto& [chr, loc] : places) points.push_back(Point{chr, loc, chr + "_" + std::to_string(loc), "x"});
    return points;
}

// "chr:start-end id,id,…" per region, checking the fixed region properties;
// name(row) gives the identifier of a listed row.
template <class Name>
std::vector<std::string> regions_of(const CGI_description& region_list, Name name) {
    std::vector<std::string> shown;
    for (uint32_t i = 0; i < region_list.regions.size(); ++i) {
        const Bed& r = region_list.regions[i];
        EXPECT_EQ(r.name, "");
        EXPECT_GE(region_list.region_probes.count(i), 2u) << "region " << i;
        std::string text = r.chr + ":" + std::to_string(r.start) + "-" + std::to_string(r.end) + " ";
        for (uint32_t k = 0; k < region_list.region_probes.count(i); ++k) text += name(region_list.region_probes.begin(i)[k]) + ",";
        shown.push_back(text.substr(0, text.size() - 1));
    }
    EXPECT_EQ(region_list.region_probes.regions_with_probes(), region_list.regions.size());
    return shown;
}

// Regions of points, every point a study probe whose row is its index.
std::vector<std::string> find(const std::vector<Point>& points) {
    CGI_description region_list;
    std::vector<uint32_t> all(points.size());
    for (uint32_t i = 0; i < points.size(); ++i) all[i] = i;
    find_region(points, all, all, region_list);
    return regions_of(region_list, [&](uint32_t row) { return points[row].id; });
}

using Texts = std::vector<std::string>;

}  // namespace

TEST(probe_distance, position_difference_or_one_past_linking_distance) {
    std::vector<Point> p = points_at({{"chr1", 1000}, {"chr1", 1100}, {"chr2", 1100}});
    EXPECT_EQ(probe_distance(p, 0, 1), 100u);
    EXPECT_EQ(probe_distance(p, 1, 2), 101u);  // same position, other chromosome
    EXPECT_EQ(probe_distance(p, 0, 0), 0u);
}

TEST(find_region, gaps_50_100_150_give_one_region_of_three) {
    EXPECT_EQ(find(points_at({{"chr1", 1000}, {"chr1", 1050}, {"chr1", 1150}, {"chr1", 1300}})),
              (Texts{"chr1:1000-1151 chr1_1000,chr1_1050,chr1_1150"}));
}

TEST(find_region, gap_of_100_links_and_101_does_not) {
    EXPECT_EQ(find(points_at({{"chr1", 10}, {"chr1", 110}})), (Texts{"chr1:10-111 chr1_10,chr1_110"}));
    EXPECT_TRUE(find(points_at({{"chr1", 10}, {"chr1", 111}})).empty());
}

TEST(find_region, same_position_links) {
    std::vector<Point> p = points_at({{"chr1", 500}, {"chr1", 500}});
    p[1].id = "twin";
    EXPECT_EQ(find(p), (Texts{"chr1:500-501 chr1_500,twin"}));
}

// chr1 ends at 1010 and chr2 starts at 1020: two regions, never one.
TEST(find_region, chromosome_change_breaks_a_run) {
    EXPECT_EQ(find(points_at({{"chr1", 1000}, {"chr1", 1010}, {"chr2", 1020}, {"chr2", 1030}})),
              (Texts{"chr1:1000-1011 chr1_1000,chr1_1010", "chr2:1020-1031 chr2_1020,chr2_1030"}));
    EXPECT_TRUE(find(points_at({{"chr1", 1000}, {"chr2", 1000}})).empty());
}

// The scan resumes at the first probe that did not link (200), which starts
// the next region; the isolated probe at 900 belongs to none.
TEST(find_region, consecutive_runs_and_isolated_probes) {
    EXPECT_EQ(find(points_at({{"chr1", 1}, {"chr1", 50}, {"chr1", 200}, {"chr1", 250}, {"chr1", 900}})),
              (Texts{"chr1:1-51 chr1_1,chr1_50", "chr1:200-251 chr1_200,chr1_250"}));
}

TEST(find_region, no_or_one_probe_forms_nothing) {
    EXPECT_TRUE(find({}).empty());
    EXPECT_TRUE(find(points_at({{"chr1", 5}})).empty());
}

namespace {

// Four samples in two groups (s1, s2 in A; s3, s4 in B); every probe of the
// study gets a row of usable values with a group difference.
struct Study {
    Data_description names;
    Data_matrix* matrix = nullptr;

    explicit Study(const std::vector<std::string>& probe_ids) {
        const char* samples[] = {"s1", "s2", "s3", "s4"};
        for (uint32_t c = 0; c < 4; ++c) {
            names.sample_index.add(samples[c], c);
            names.sample_group.add(samples[c], c < 2 ? "A" : "B");
        }
        names.group_index.add("A", 0);
        names.group_index.add("B", 1);
        matrix = new Data_matrix;
        matrix->logit = gsl_matrix_alloc(probe_ids.size(), 4);
        for (uint32_t r = 0; r < probe_ids.size(); ++r) {
            names.probe_index.add(probe_ids[r], r);
            for (uint32_t c = 0; c < 4; ++c) gsl_matrix_set(matrix->logit, r, c, 0.1 * r + 0.3 * c + (c >= 2));
        }
    }
    ~Study() { data_matrix_free(matrix); }
};

struct Stage_run {
    CGI_description region_list;
    CGI_result result;
    std::string out;
    ~Stage_run() { cgi_result_free(result); }
};

void run_stage(Study& study, const std::vector<Point>& points, Stage_run& run) {
    Probe_index_map index;
    index.build(points);
    Parameter options;
    options.thread_num = 2;
    run.out = capture_stdout([&] {
        dmr_analysis(study.names, study.matrix, options, points, index, run.region_list, run.result,
                     nullptr, Fit_path::reference);
    });
}

const char* const stage_lines =
    "[TIME]     Analyzing differentially methylated arbitrary region\n"
    "[TIME]       Finding fdr in arbitrary region analysis\n";

}  // namespace

// x1050 and x1260 are annotated but not in the study: p1 and p3 (90 apart)
// link around x1050, while p4 and p6 (120 apart) must not link through x1260.
TEST(dmr_analysis, regions_are_formed_from_study_probes_only) {
    Study study({"p1", "p3", "p4", "p6"});
    std::vector<Point> points = points_at({{"chr1", 1000}, {"chr1", 1050}, {"chr1", 1090},
                                           {"chr1", 1200}, {"chr1", 1260}, {"chr1", 1320}});
    const char* ids[] = {"p1", "x1050", "p3", "p4", "x1260", "p6"};
    for (size_t i = 0; i < points.size(); ++i) points[i].id = ids[i];
    Stage_run run;
    run_stage(study, points, run);
    EXPECT_EQ(regions_of(run.region_list, [&](uint32_t row) { return std::string(study.names.probe_index.name(row)); }), (Texts{"chr1:1000-1091 p1,p3"}));
    EXPECT_EQ(mask_time_stamps(run.out), stage_lines);
    ASSERT_NE(run.result.pvalue, nullptr);
    ASSERT_EQ(run.result.pvalue->size, 1u);
    EXPECT_LT(gsl_vector_get(run.result.pvalue, 0), 1.000001);
}

// p1 has two annotation lines; the map points to the first (1000), so p1
// enters the region once, with p2.
TEST(dmr_analysis, duplicate_annotation_lines_put_a_probe_in_once) {
    Study study({"p1", "p2"});
    std::vector<Point> points = points_at({{"chr1", 1000}, {"chr1", 1040}, {"chr1", 1080}});
    points[0].id = points[1].id = "p1";
    points[2].id = "p2";
    Stage_run run;
    run_stage(study, points, run);
    EXPECT_EQ(regions_of(run.region_list, [&](uint32_t row) { return std::string(study.names.probe_index.name(row)); }), (Texts{"chr1:1000-1081 p1,p2"}));
}

TEST(dmr_analysis, no_region_is_a_normal_outcome) {
    Study study({"chr1_10", "chr2_20"});
    for (const std::vector<Point>& points :
         {std::vector<Point>{}, points_at({{"chr1", 10}}), points_at({{"chr1", 10}, {"chr2", 20}})}) {
        Stage_run run;
        run_stage(study, points, run);
        EXPECT_TRUE(run.region_list.regions.empty());
        EXPECT_TRUE(run.region_list.region_probes.empty());
        EXPECT_EQ(run.result.pvalue, nullptr);
        EXPECT_EQ(mask_time_stamps(run.out), stage_lines);
    }
}
