// Genome annotation: Point and Bed orderings and relations, the annotation
// and region file readers, and the probe-to-region sweep checked against a
// brute-force "first containing region" oracle on random layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <random>
#include <set>

#include "bed_file.h"
#include "test_util.h"

namespace {

using Probe_lists = std::map<uint32_t, std::vector<std::string>>;

Point point(const std::string& chr, uint32_t loc, const std::string& id = "p") {
    return Point{chr, loc, id, "ann"};
}

// Annotation read from text through the real reader.
struct Annotation {
    std::vector<Point> points;
    Probe_index_map index;
    std::string out;  // what the reader printed

    // The map as identifier -> record, for comparisons.
    std::map<std::string, uint32_t> entries() const {
        std::map<std::string, uint32_t> all;
        for (const Point& point : points) {
            uint32_t record = 0;
            if (index.find(point.id, record)) all[point.id] = record;
        }
        EXPECT_EQ(all.size(), index.size());
        return all;
    }
};

Annotation read_annotation(const std::string& text) {
    Temp_dir dir;
    write_text(dir.file("probe.ann"), text);
    Annotation annotation;
    annotation.out = capture_stdout([&] {
        EXPECT_TRUE(read_probe_ann(dir.file("probe.ann"), annotation.points, annotation.index));
    });
    return annotation;
}

std::vector<Bed> read_regions(const std::string& text, std::string* out = nullptr) {
    Temp_dir dir;
    write_text(dir.file("regions.bed"), text);
    std::vector<Bed> regions;
    std::string printed = capture_stdout([&] { EXPECT_TRUE(read_cgi(dir.file("regions.bed"), regions)); });
    if (out != nullptr) *out = printed;
    return regions;
}

Data_description study_of(const std::vector<std::string>& ids) {
    Data_description study;
    uint32_t row = 0;
    for (const std::string& id : ids) {
        if (!study.probe_index.find(id, row)) study.probe_index.add(id, study.probe_index.size());
    }
    return study;
}

// Region index -> identifiers of its probes, in list order.
Probe_lists map_probes(const std::vector<Bed>& regions, const Annotation& annotation,
                         const std::vector<std::string>& study_ids) {
    Data_description study = study_of(study_ids);
    ::Region_probes mapped;
    cgi_probe(regions, annotation.points, study, annotation.index, mapped);
    Probe_lists lists;
    for (uint32_t i = 0; i < regions.size(); ++i) {
        for (uint32_t k = 0; k < mapped.count(i); ++k)
            lists[i].push_back(std::string(study.probe_index.name(mapped.begin(i)[k])));
    }
    return lists;
}

std::string describe(const Bed& region) {
    return region.chr + ":" + std::to_string(region.start) + "-" + std::to_string(region.end) + " " +
           region.name;
}

}  // namespace

TEST(point_ordering, chromosome_as_text_then_numeric_position) {
    EXPECT_TRUE(point("chr10", 500) < point("chr2", 1));
    EXPECT_TRUE(point("chr2", 1) < point("chrX", 1));
    EXPECT_TRUE(point("chr1", 9) < point("chr1", 10));
    EXPECT_FALSE(point("chr1", 10) < point("chr1", 9));
    EXPECT_FALSE(point("chr1", 10, "a") < point("chr1", 10, "b"));  // id is no tie-break
    EXPECT_FALSE(point("chr1", 10, "b") < point("chr1", 10, "a"));
}

TEST(bed_ordering, chromosome_start_end_and_name_ignored) {
    EXPECT_TRUE((Bed{"chr10", 900, 901, ""}) < (Bed{"chr2", 1, 2, ""}));
    EXPECT_TRUE((Bed{"chr2", 100, 150, ""}) < (Bed{"chr2", 100, 200, ""}));
    EXPECT_TRUE((Bed{"chr2", 99, 500, ""}) < (Bed{"chr2", 100, 150, ""}));
    EXPECT_FALSE((Bed{"chr2", 100, 200, "a"}) < (Bed{"chr2", 100, 200, "b"}));
    EXPECT_FALSE((Bed{"chr2", 100, 200, "b"}) < (Bed{"chr2", 100, 200, "a"}));
}

TEST(point_region_relations, start_inclusive_end_exclusive_both_ways) {
    const Bed region{"chr1", 100, 200, "r"};
    struct Case {
        Point p;
        int expected;  // -1 point before, 0 inside, 1 point after
    } cases[] = {{point("chr1", 99), -1},  {point("chr1", 100), 0}, {point("chr1", 199), 0},
                 {point("chr1", 200), 1},  {point("chr0", 150), -1}, {point("chr10", 150), 1},
                 {point("chr2", 150), 1},  {point("chr1", 1), -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.p.chr + ":" + std::to_string(c.p.loc));
        EXPECT_EQ(c.p < region, c.expected == -1);
        EXPECT_EQ(c.p == region, c.expected == 0);
        EXPECT_EQ(c.p > region, c.expected == 1);
        EXPECT_EQ(region > c.p, c.expected == -1);
        EXPECT_EQ(region == c.p, c.expected == 0);
        EXPECT_EQ(region < c.p, c.expected == 1);
    }
    const Bed empty{"chr1", 150, 150, ""};
    EXPECT_FALSE(point("chr1", 150) == empty);
    EXPECT_TRUE(point("chr1", 150) > empty);
}

// Every malformed line draws the two-line warning and is skipped; the rest
// is sorted chr1 < chr10 < chr2 and the duplicate cgA maps to its record
// that sorts first (chr1:50), while the other cgA record stays in the list.
TEST(read_probe_ann, rejects_malformed_lines_sorts_and_maps_first_duplicate) {
    Annotation a = read_annotation(
        "# probe annotation\n"
        "ID CHR POS ANN\n"              // header without '#'
        "cgA chr2 10 Island\n"
        "cgB\tchr10\t5\tShore extra\n"  // five fields: the fifth is ignored
        "cgC chr2 9 Open_Sea\n"
        "cgD chr1 0 Island\n"           // position 0
        "cgE chr1 1 Island\n"           // position 1 is fine
        "cgF chr3 7\n"                  // three fields
        "\n"                            // empty line
        "# a comment between records\n"
        "  cgA chr1 50 Shelf\n"         // leading blanks; duplicate identifier
        "cgG chrX abc Island\n");       // position not a number
    const std::string warning = "Warnning: wrong format encountered when reading probe annotation\n";
    EXPECT_EQ(a.out, warning + "Wrong sentence is: ID CHR POS ANN\n" + warning +
                         "Wrong sentence is: cgD chr1 0 Island\n" + warning +
                         "Wrong sentence is: cgF chr3 7\n" + warning + "Wrong sentence is: \n" +
                         warning + "Wrong sentence is: cgG chrX abc Island\n");
    ASSERT_EQ(a.points.size(), 5u);
    const char* expected[][4] = {{"chr1", "1", "cgE", "Island"},  {"chr1", "50", "cgA", "Shelf"},
                                 {"chr10", "5", "cgB", "Shore"},  {"chr2", "9", "cgC", "Open_Sea"},
                                 {"chr2", "10", "cgA", "Island"}};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(a.points[i].chr, expected[i][0]);
        EXPECT_EQ(a.points[i].loc, std::stoul(expected[i][1]));
        EXPECT_EQ(a.points[i].id, expected[i][2]);
        EXPECT_EQ(a.points[i].ann, expected[i][3]);
    }
    EXPECT_EQ(a.entries(), (std::map<std::string, uint32_t>{{"cgA", 1}, {"cgB", 2}, {"cgC", 3}, {"cgE", 0}}));
}

TEST(read_probe_ann, comment_only_file_gives_empty_annotation) {
    Annotation a = read_annotation("# id chr pos ann\n#cg1 chr1 5 x\n");
    EXPECT_TRUE(a.points.empty());
    EXPECT_TRUE(a.index.empty());
    EXPECT_EQ(a.out, "");
}

TEST(read_probe_ann, missing_file_or_directory_fails_with_message) {
    Temp_dir dir;
    std::vector<Point> points{point("chr1", 1)};
    Probe_index_map index;
    bool ok = true;
    std::string out = capture_stdout([&] { ok = read_probe_ann(dir.file("none.ann"), points, index); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, "Error: cannot open file " + dir.file("none.ann") + "\n");
    EXPECT_TRUE(points.empty());
    out = capture_stdout([&] { ok = read_probe_ann(dir.path(), points, index); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, "Error: cannot open file " + dir.path() + "\n");
}

// A line longer than any fixed buffer is read whole, and reading goes on.
TEST(read_probe_ann, reads_lines_of_any_length) {
    const std::string long_ann(100000, 'a');
    Annotation a = read_annotation("cg1 chr1 5 " + long_ann + "\ncg2 chr1 6 short\n");
    ASSERT_EQ(a.points.size(), 2u);
    EXPECT_EQ(a.points[0].ann, long_ann);
    EXPECT_EQ(a.points[1].id, "cg2");
    EXPECT_EQ(a.out, "");
}

TEST(read_cgi, rejects_malformed_lines_and_sorts_regions) {
    std::string out;
    std::vector<Bed> regions = read_regions(
        "#chrom start end name\n"    // skipped silently
        "chrom start end name\n"     // header without '#'
        "chr2 100 200 r_a\n"
        "chr10\t300\t400\tr_b extra\n"  // five tokens: name is r_b
        "chr2 50 80\n"               // three tokens
        "\n"
        "chr2 100 150 r_c\n"         // same start, earlier end: before r_a
        "chr1 500 600 r_d\n",
        &out);
    const std::string warning = "Warning: wrong format encountered when reading bed file\n";
    EXPECT_EQ(out, warning + "wrong sentence is: chrom start end name\n" + warning +
                       "wrong sentence is: chr2 50 80\n" + warning + "wrong sentence is: \n");
    std::vector<std::string> got;
    for (const Bed& region : regions) got.push_back(describe(region));
    EXPECT_EQ(got, (std::vector<std::string>{"chr1:500-600 r_d", "chr10:300-400 r_b",
                                             "chr2:100-150 r_c", "chr2:100-200 r_a"}));
}

TEST(read_cgi, missing_file_clears_regions_and_fails) {
    Temp_dir dir;
    std::vector<Bed> regions{Bed{"chr1", 1, 2, "old"}};
    bool ok = true;
    std::string out = capture_stdout([&] { ok = read_cgi(dir.file("none.bed"), regions); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, "Error: cannot open file " + dir.file("none.bed") + "\n");
    EXPECT_TRUE(regions.empty());
}

TEST(read_cgi, reads_lines_of_any_length) {
    const std::string long_name(70000, 'n');
    std::vector<Bed> regions = read_regions("chr1 10 20 " + long_name + "\nchr1 30 40 after\n");
    ASSERT_EQ(regions.size(), 2u);
    EXPECT_EQ(regions[0].name, long_name);
    EXPECT_EQ(regions[1].name, "after");
}

// Probes: a99 a100 a199 a200 on chr1 around the region [100, 200).
TEST(cgi_probe, start_inside_end_outside) {
    Annotation a = read_annotation("a99 chr1 99 x\na100 chr1 100 x\na199 chr1 199 x\na200 chr1 200 x\n");
    Probe_lists mapped = map_probes({Bed{"chr1", 100, 200, "r"}}, a, {"a99", "a100", "a199", "a200"});
    EXPECT_EQ(mapped, (Probe_lists{{0, {"a100", "a199"}}}));
}

// [100, 200) and [150, 300) overlap; the overlap's probe belongs to the first.
TEST(cgi_probe, overlapping_regions_first_region_wins) {
    Annotation a = read_annotation("p120 chr1 120 x\np160 chr1 160 x\np250 chr1 250 x\n");
    Probe_lists mapped = map_probes(read_regions("chr1 100 200 A\nchr1 150 300 B\n"), a,
                                      {"p250", "p160", "p120"});
    EXPECT_EQ(mapped, (Probe_lists{{0, {"p120", "p160"}}, {1, {"p250"}}}));
}

// [150, 200) lies inside [100, 500): the outer region takes both probes.
TEST(cgi_probe, nested_region_gets_no_entry) {
    Annotation a = read_annotation("p120 chr1 120 x\np160 chr1 160 x\n");
    Probe_lists mapped = map_probes(read_regions("chr1 100 500 outer\nchr1 150 200 inner\n"), a,
                                      {"p120", "p160"});
    EXPECT_EQ(mapped, (Probe_lists{{0, {"p120", "p160"}}}));
}

// outside_study lies in the region but is not a study probe; unannotated is
// a study probe without a position; the duplicate line of in_study (chr2)
// must not put it into the chr2 region.
TEST(cgi_probe, only_annotated_study_probes_once_each) {
    Annotation a = read_annotation(
        "in_study chr1 110 x\noutside_study chr1 120 x\nin_study chr2 110 x\n");
    Probe_lists mapped = map_probes(read_regions("chr1 100 200 A\nchr2 100 200 B\n"), a,
                                      {"in_study", "unannotated"});
    EXPECT_EQ(mapped, (Probe_lists{{0, {"in_study"}}}));
}

// The zero-length region at 150 takes nothing; regions past the last probe
// get no entry; chr10 sorts before chr2.
TEST(cgi_probe, zero_length_region_and_probes_running_out) {
    Annotation a = read_annotation("p150 chr2 150 x\nq5 chr10 5 x\n");
    std::vector<Bed> regions = read_regions(
        "chr2 150 150 empty\nchr2 150 151 one\nchr2 300 400 late\nchrX 1 100 later\nchr10 1 10 first\n");
    Probe_lists mapped = map_probes(regions, a, {"p150", "q5"});
    ASSERT_EQ(regions[0].name, "first");
    ASSERT_EQ(regions[2].name, "one");
    EXPECT_EQ(mapped, (Probe_lists{{0, {"q5"}}, {2, {"p150"}}}));
}

TEST(cgi_probe, no_regions_or_no_probes_give_no_entries) {
    Annotation a = read_annotation("p1 chr1 5 x\n");
    EXPECT_TRUE(map_probes({}, a, {"p1"}).empty());
    EXPECT_TRUE(map_probes({Bed{"chr1", 1, 10, "r"}}, a, {}).empty());
}

namespace {

// Naive mapping: each study probe (its mapped record), in annotation order,
// goes to the first region in region order that contains it.
Probe_lists oracle(const std::vector<Bed>& regions, const Annotation& a,
                     const std::vector<std::string>& study_ids) {
    std::vector<uint32_t> rows;
    for (const std::string& id : std::set<std::string>(study_ids.begin(), study_ids.end())) {
        uint32_t record = 0;
        if (a.index.find(id, record)) rows.push_back(record);
    }
    std::sort(rows.begin(), rows.end());
    Probe_lists expected;
    for (uint32_t row : rows) {
        const Point& p = a.points[row];
        for (size_t i = 0; i < regions.size(); ++i) {
            const Bed& r = regions[i];
            if (r.chr == p.chr && r.start <= p.loc && p.loc < r.end) {
                expected[static_cast<uint32_t>(i)].push_back(p.id);
                break;
            }
        }
    }
    return expected;
}


// A random layout on few chromosomes and a narrow span, so that regions
// overlap, nest, touch, have zero or negative length, and probes share
// positions; identifiers repeat across lines, some annotated probes are
// outside the study and some study probes are unannotated.
struct Layout {
    std::string annotation;
    std::string regions;
    std::vector<std::string> study_ids;
};

Layout random_layout(std::mt19937& rng) {
    const char* chromosomes[] = {"chr1", "chr10", "chr2", "chrX"};
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    Layout layout;
    const uint32_t probe_num = 1 + pick(60), region_num = pick(25);
    for (uint32_t i = 0; i < probe_num; ++i) {
        std::string id = "p" + std::to_string(pick(probe_num + 5));
        layout.annotation += id + " " + chromosomes[pick(3)] + " " + std::to_string(1 + pick(300)) + " a\n";
        if (pick(4) != 0) layout.study_ids.push_back(id);
    }
    for (uint32_t i = 0; i < 5; ++i) layout.study_ids.push_back("p" + std::to_string(pick(probe_num + 10)));
    for (uint32_t i = 0; i < region_num; ++i) {
        uint32_t start = 1 + pick(300);
        uint32_t end = pick(10) == 0 ? start - pick(20) : start + pick(80);
        layout.regions += std::string(chromosomes[pick(4)]) + " " + std::to_string(start) + " " +
                          std::to_string(end) + " r" + std::to_string(i) + "\n";
    }
    return layout;
}

}  // namespace

TEST(cgi_probe, sweep_matches_first_containing_region_oracle) {
    std::mt19937 rng(test_seed());
    Temp_dir dir;
    for (int round = 0; round < 300; ++round) {
        Layout layout = random_layout(rng);
        write_text(dir.file("probe.ann"), layout.annotation);
        write_text(dir.file("regions.bed"), layout.regions);
        Annotation a;
        std::vector<Bed> regions;
        ASSERT_TRUE(read_probe_ann(dir.file("probe.ann"), a.points, a.index));
        ASSERT_TRUE(read_cgi(dir.file("regions.bed"), regions));
        Probe_lists mapped = map_probes(regions, a, layout.study_ids);
        ASSERT_EQ(mapped, oracle(regions, a, layout.study_ids))
            << "round " << round << "\nannotation:\n" << layout.annotation << "regions:\n" << layout.regions;
    }
}

// The reader sorts the annotation through compact keys; the order must be
// the one std::sort gives with the Point ordering, also among records that
// share a chromosome and position (which of them comes first decides which
// record an identifier's map entry and a track line take).
TEST(read_probe_ann, sorted_as_the_point_ordering_sorts_them_ties_included) {
    std::mt19937 rng(test_seed());
    const char* chromosomes[] = {"chr1", "chr10", "chr2", "chrX", "chr1_alt"};
    Temp_dir dir;
    for (int round = 0; round < 20; ++round) {
        std::string text;
        std::vector<Point> expected;
        for (int i = 0; i < 3000; ++i) {
            Point p{chromosomes[rng() % 5], static_cast<uint32_t>(1 + rng() % 40), "p" + std::to_string(i), "a"};
            text += p.id + " " + p.chr + " " + std::to_string(p.loc) + " a\n";
            expected.push_back(p);
        }
        std::sort(expected.begin(), expected.end());
        write_text(dir.file("probe.ann"), text);
        Annotation a;
        ASSERT_TRUE(read_probe_ann(dir.file("probe.ann"), a.points, a.index));
        ASSERT_EQ(expected.size(), a.points.size());
        for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(expected[i].id, a.points[i].id) << "round " << round;
    }
}
