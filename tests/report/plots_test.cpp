// Pictures: the thinning of dot layers keeps every point below the cut and
// draws each binned pixel once; the plots draw every tested probe with
// p <= thinning_cut as its own dot; ticks fall on round numbers; chromosome
// slots follow the natural order without overlapping.
#include "plots.h"

#include <cmath>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include <gtest/gtest.h>

#include "report_run.h"
#include "svg.h"

namespace {

struct Segment {
    long x, y, length;  // tenths of a pixel
    bool operator<(const Segment& o) const { return std::tie(x, y, length) < std::tie(o.x, o.y, o.length); }
    bool operator==(const Segment& o) const { return x == o.x && y == o.y && length == o.length; }
};

// Segments of path data written by Dot_layer: "M x y hL" then "m dx dy hL".
std::vector<Segment> decode(const std::string& d) {
    std::vector<Segment> out;
    long x = 0, y = 0;
    const char* s = d.c_str();
    while (*s) {
        const char command = *s++;
        char* end = nullptr;
        if (command == 'M' || command == 'm') {
            long a = strtol(s, &end, 10), b = strtol(end, &end, 10);
            x = command == 'M' ? a : x + a;
            y = command == 'M' ? b : y + b;
        } else if (command == 'h') {
            long length = strtol(s, &end, 10);
            out.push_back({x, y, length});
            x += length;
        } else {
            ADD_FAILURE() << "unexpected path command " << command;
            return out;
        }
        s = end;
    }
    return out;
}

// Path data of every <path class="exact"> (or "binned") in svg.
std::vector<Segment> paths_of(const std::string& svg, const std::string& kind) {
    std::vector<Segment> out;
    const std::string mark = "<path class=\"" + kind + "\" d=\"";
    for (size_t at = svg.find(mark); at != std::string::npos; at = svg.find(mark, at + 1)) {
        const size_t start = at + mark.size();
        for (const Segment& s : decode(svg.substr(start, svg.find('"', start) - start))) out.push_back(s);
    }
    return out;
}

struct Study {
    Temp_dir dir;
    Probe_table table;
    Probe_summary summary;
    size_t below_cut = 0;  // tested rows with p <= thinning_cut
};

void load(Study& study, size_t n) {
    write_text(study.dir.file("probe.txt"), random_probe_table(n, test_seed()));
    std::string error;
    ASSERT_TRUE(read_probe_table(study.dir.file("probe.txt"), study.table, error)) << error;
    study.summary = summarize(study.table, 0.05);
    for (double p : study.summary.sorted_p) study.below_cut += p <= thinning_cut;
}

}  // namespace

TEST(report_dot_layer, exact_dots_all_kept_binned_dots_once_per_pixel) {
    std::mt19937 rng(test_seed());
    std::uniform_real_distribution<double> coordinate(0.0, 300.0);
    Dot_layer layer;
    std::multiset<Segment> exact;
    std::set<std::pair<long, long>> cells;
    for (int i = 0; i < 20000; ++i) {
        const double x = coordinate(rng), y = coordinate(rng) / 10;
        const bool keep = i % 7 == 0;
        layer.add(x, y, keep);
        if (keep) exact.insert({std::lround(x * 10), std::lround(y * 10), 0});
        else cells.insert({static_cast<long>(y), static_cast<long>(x)});
    }
    const std::vector<Segment> drawn = decode(layer.exact_path());
    EXPECT_EQ(std::multiset<Segment>(drawn.begin(), drawn.end()), exact);
    std::set<std::pair<long, long>> covered;
    size_t pixels = 0;
    for (const Segment& run : decode(layer.binned_path())) {
        EXPECT_EQ((run.x - 5) % 10, 0);
        for (long x = run.x; x <= run.x + run.length; x += 10, ++pixels) covered.insert({(run.y - 5) / 10, (x - 5) / 10});
    }
    EXPECT_EQ(covered, cells);
    EXPECT_EQ(pixels, cells.size()) << "a pixel drawn twice";
    EXPECT_LT(layer.binned_path().size(), cells.size() * 4) << "runs of pixels should share one segment";
}

TEST(report_dot_layer, empty_layer_draws_nothing) {
    EXPECT_EQ(Dot_layer().markup("dots", "#000000", 3), "");
}

TEST(report_thinning, every_point_below_the_cut_is_drawn_in_each_plot) {
    Study study;
    load(study, 20000);
    ASSERT_GT(study.below_cut, 500u);
    const std::vector<size_t> top = top_rows(study.table.rows, 10);
    const std::string pictures[] = {qq_plot(study.summary), manhattan_plot(study.table, study.summary, top),
                                    volcano_plot(study.table, study.summary)};
    for (const std::string& svg : pictures) {
        EXPECT_EQ(paths_of(svg, "exact").size(), study.below_cut);
        const size_t binned = paths_of(svg, "binned").size();
        EXPECT_GT(binned, 0u);
        EXPECT_LT(binned, study.table.rows.size() - study.below_cut) << "the bulk was not thinned";
    }
}

TEST(report_thinning, dots_stay_inside_the_picture) {
    Study study;
    load(study, 3000);
    const std::string svg = manhattan_plot(study.table, study.summary, {});
    for (const char* kind : {"exact", "binned"})
        for (const Segment& s : paths_of(svg, kind)) {
            EXPECT_GE(s.x, 0);
            EXPECT_LE(s.x + s.length, picture::manhattan.width * 10);
            EXPECT_GE(s.y, 0);
            EXPECT_LE(s.y, picture::manhattan.height * 10);
        }
}

TEST(report_ticks, round_steps_cover_the_range) {
    const std::vector<double> t = nice_ticks(0.0, 84.3, 6);
    EXPECT_EQ(t, (std::vector<double>{0, 20, 40, 60, 80, 100}));
    const std::vector<double> u = nice_ticks(0.0, 0.63, 6);  // 0.105 a step, rounded up to 0.2
    ASSERT_EQ(u.size(), 5u);
    EXPECT_NEAR(u[4], 0.8, 1e-12);
    EXPECT_EQ(tick_label(u[3], 0.2), "0.6");
    EXPECT_EQ(tick_label(nice_ticks(0.0, 0.0004, 4)[1], 1e-4), "0.0001");
    EXPECT_EQ(tick_label(40000, 10000), "40000");
    const std::vector<double> flat = nice_ticks(2.0, 2.0, 5);  // no range: still an axis
    EXPECT_GE(flat.size(), 2u);
    EXPECT_EQ(nice_ticks(0.0, 1.0, 5).size(), 6u);
}

TEST(report_chromosome_slots, natural_order_no_overlap_minimum_width) {
    Temp_dir dir;
    write_text(dir.file("p.txt"),
               "ID\tPvalue\tFDR\tRange\tCHR\tLOC\tANN\n"
               "a\t0.5\t1\t0.1\tchr10\t130000000\tx\n"
               "b\t0.5\t1\t0.1\tchr2\t240000000\tx\n"
               "c\t0.5\t1\t0.1\tchrM\t16000\tx\n"
               "d\t0.5\t1\t0.1\tchr1\t248000000\tx\n"
               "e\t2\t2\t0.1\tchr5\t180000000\tx\n");  // untested only: no slot
    Probe_table table;
    std::string error;
    ASSERT_TRUE(read_probe_table(dir.file("p.txt"), table, error)) << error;
    const std::vector<Chromosome_slot> slots = chromosome_slots(table, 100, 800, 3, 4);
    std::vector<std::string> names;
    for (const Chromosome_slot& s : slots) names.push_back(table.chromosomes[s.chr]);
    EXPECT_EQ(names, (std::vector<std::string>{"chr1", "chr2", "chr10", "chrM"}));
    EXPECT_DOUBLE_EQ(slots.front().left, 100);
    EXPECT_NEAR(slots.back().left + slots.back().width, 900, 1e-9);
    EXPECT_DOUBLE_EQ(slots.back().width, 4);
    for (size_t i = 1; i < slots.size(); ++i) EXPECT_NEAR(slots[i].left, slots[i - 1].left + slots[i - 1].width + 3, 1e-9);
    EXPECT_NEAR(slots[0].width / slots[2].width, 248.0 / 130.0, 1e-9);
}

TEST(report_chromosome_slots, many_contigs_still_fit) {
    Temp_dir dir;
    std::string text = "ID\tPvalue\tFDR\tRange\tCHR\tLOC\tANN\n";
    for (int c = 0; c < 400; ++c) text += "p" + std::to_string(c) + "\t0.5\t1\t0.1\tchrUn_" + std::to_string(c) + "\t5000\tx\n";
    text += "big\t0.5\t1\t0.1\tchr1\t248000000\tx\n";
    write_text(dir.file("p.txt"), text);
    Probe_table table;
    std::string error;
    ASSERT_TRUE(read_probe_table(dir.file("p.txt"), table, error)) << error;
    const std::vector<Chromosome_slot> slots = chromosome_slots(table, 60, 880, 3, 4);
    ASSERT_EQ(slots.size(), 401u);
    EXPECT_EQ(table.chromosomes[slots[0].chr], "chr1");
    for (size_t i = 1; i < slots.size(); ++i) {
        EXPECT_GE(slots[i].left, slots[i - 1].left + slots[i - 1].width - 1e-9);
        EXPECT_GT(slots[i].width, 0.0);
    }
    EXPECT_LE(slots.back().left + slots.back().width, 940 + 1e-9);
}
