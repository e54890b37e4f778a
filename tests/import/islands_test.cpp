// Region files from UCSC's cpgIslandExt (bin column first, "CpG: N" names)
// and from BED files of 3 or more columns, detected per file, written with
// the probes' 1-based coordinates.
#include "islands.h"

#include <gtest/gtest.h>

#include "bed_file.h"
#include "line_reader.h"
#include "test_util.h"

namespace {

// Regions as "chr start end name" lines plus the layout, or "error: ...".
// A repeated region adds "(N repeated)".
std::string read(const std::string& text, Island_layout layout = Island_layout::unknown) {
    Line_reader reader;
    reader.open_memory(text.data(), text.size());
    std::string out, error;
    Island_counts counts;
    auto sink = [&](const Region_record& r) {
        out += r.chr + " " + std::to_string(r.start) + " " + std::to_string(r.end) + " " + r.name + "\n";
    };
    if (!read_islands(reader, "islands.txt", sink, layout, counts, error)) return "error: " + error;
    if (counts.repeated > 0) out += "(" + std::to_string(counts.repeated) + " repeated) ";
    return out + (layout == Island_layout::ucsc ? "ucsc" : "bed");
}

TEST(islands, ucsc_table_with_bin_and_spaced_names) {
    EXPECT_EQ(read("#bin\tchrom\tchromStart\tchromEnd\tname\tlength\n"
                   "585\tchr1\t28735\t29810\tCpG: 116\t1075\t116\t787\t21.6\t73.2\t0.83\n"
                   "586\tchr1\t135124\t135563\tCpG: 30\t439\t30\t295\t13.7\t67.2\t0.64\n"),
              "chr1 28736 29811 CpG:116\nchr1 135125 135564 CpG:30\nucsc");
}

TEST(islands, bed_layouts) {
    EXPECT_EQ(read("track name=islands\nchr1\t100\t200\nchr2\t5\t9\n"), "chr1 101 201 chr1:100-200\nchr2 6 10 chr2:5-9\nbed");
    EXPECT_EQ(read("chr1 100 200 island one 0 +\n"), "chr1 101 201 island\nbed");  // white space separated
    EXPECT_EQ(read("chr1\t100\t200\tCpG: 7\t0\t+\r\n"), "chr1 101 201 CpG:7\nbed");
}

TEST(islands, failures_name_file_and_line) {
    EXPECT_EQ(read("chr1\t100\t200\nchr1\t100\n"), "error: islands.txt:2: line has 2 columns, but BED needs 3 or more");
    EXPECT_EQ(read("chr1\t1x\t200\n"), "error: islands.txt:1: expected chromosome, start and end (whole numbers) in columns 1 to 3");
    EXPECT_EQ(read("chr1\t300\t200\n"), "error: islands.txt:1: start 300 lies after end 200");
    EXPECT_EQ(read("585\tchr1\t28735\t29810\tCpG: 116\n585\tchr1\t-1\t5\tx\n"),
              "error: islands.txt:2: expected chromosome, start and end (whole numbers) in columns 2 to 4");
}

TEST(islands, gzip_file_to_region_file) {
    Temp_dir dir;
    write_text(dir.file("cpgIslandExt.txt.gz"), gzip_text("585\tchr1\t28735\t29810\tCpG: 116\t1075\n"));
    Island_layout layout = Island_layout::unknown;
    Island_counts count;
    std::string error;
    ASSERT_TRUE(import_islands(dir.file("cpgIslandExt.txt.gz"), dir.file("r.txt"), layout, count, error)) << error;
    EXPECT_EQ(read_text(dir.file("r.txt")), "# chrom\tstart\tend\tname\nchr1\t28736\t29811\tCpG:116\n");
    layout = Island_layout::unknown;
    EXPECT_FALSE(import_islands(dir.file("none.txt"), dir.file("r2.txt"), layout, count, error));
    EXPECT_EQ(error, "cannot open " + dir.file("none.txt"));
}

// Inputs that were read wrongly without a word: line ends, chromosome names
// that are numbers, coordinates beyond 32 bits, repeated lines.
TEST(islands, hostile_inputs) {
    const std::string ucsc_row = "\t28735\t29810\tCpG: 116\t1075\t116\t787\t21.6\t73.2\t0.83";
    const struct {
        std::string text;
        Island_layout layout;
        std::string expected;
    } cases[] = {
        {"chr1\t100\t200\ta\rchr1\t300\t400\tb\r", Island_layout::unknown, "chr1 101 201 a\nchr1 301 401 b\nbed"},
        {"585\t1" + ucsc_row + "\n", Island_layout::unknown, "1 28736 29811 CpG:116\nucsc"},
        {"585\t1\t28735\t29810\tCpG_116\n", Island_layout::unknown,
         "error: islands.txt:1: columns 1 to 4 are all whole numbers, so the line could be UCSC's layout (bin, "
         "chrom, chromStart, chromEnd) or BED (chrom, start, end, name): give --layout ucsc or --layout bed"},
        {"585\t1\t28735\t29810\tCpG_116\n", Island_layout::ucsc, "1 28736 29811 CpG_116\nucsc"},
        {"1\t10468\t11240\tCpG:_94\n", Island_layout::unknown, "1 10469 11241 CpG:_94\nbed"},
        {"chr1\t4294967294\t4294967294\n", Island_layout::unknown, "chr1 4294967295 4294967295 chr1:4294967294-4294967294\nbed"},
        {"chr1\t100\t4294967295\n", Island_layout::unknown,
         "error: islands.txt:1: end 4294967295 is out of range (coordinates go up to 4294967294)"},
        {"chr1\t99999999999999999999999\t1\n", Island_layout::unknown,
         "error: islands.txt:1: start 99999999999999999999999 is out of range (coordinates go up to 4294967294)"},
        {"chr1\t1\t5\ta\nchr1\t1\t5\ta\nchr1\t1\t5\tb\nchr1 1 5 a\n", Island_layout::unknown,
         "chr1 2 6 a\nchr1 2 6 b\n(2 repeated) bed"},
    };
    for (const auto& c : cases) EXPECT_EQ(read(c.text, c.layout), c.expected) << c.text;
}

// The imported region holds exactly the island's bases: a probe on the base
// before it and one on the base after it stay out, probes on its first and
// last base are in.
TEST(islands, probes_on_the_island_edges_map_as_its_bases) {
    // Bases 100 to 199 counted from 0, so probe positions (MAPINFO) 101 to 200.
    Temp_dir dir;
    write_text(dir.file("island.bed"), "chr1\t100\t200\tI\n");
    Island_layout layout = Island_layout::unknown;
    Island_counts counts;
    std::string error;
    ASSERT_TRUE(import_islands(dir.file("island.bed"), dir.file("regions.txt"), layout, counts, error)) << error;
    write_text(dir.file("probe.ann"), "before\tchr1\t100\tx\nfirst\tchr1\t101\tx\nlast\tchr1\t200\tx\n"
                                      "after\tchr1\t201\tx\n");
    std::vector<Bed> regions;
    std::vector<Point> points;
    Probe_index_map index;
    ASSERT_TRUE(read_cgi(dir.file("regions.txt"), regions) && read_probe_ann(dir.file("probe.ann"), points, index));
    Data_description study;
    for (const char* id : {"before", "first", "last", "after"}) study.probe_index.add(id, study.probe_index.size());
    Region_probes mapped;
    cgi_probe(regions, points, study, index, mapped);
    ASSERT_EQ(regions.size(), 1u);
    std::vector<std::string> inside;
    for (uint32_t k = 0; k < mapped.count(0); ++k) inside.emplace_back(study.probe_index.name(mapped.begin(0)[k]));
    EXPECT_EQ(inside, (std::vector<std::string>{"first", "last"}));
}

}  // namespace

// Found by fuzzing: a UCSC chromosome cell starting with "#" was written as
// a region line that cimbrel's region reader skips as a comment, so the
// region was lost without a word.
TEST(islands, chromosome_starting_with_a_comment_mark_is_refused) {
    EXPECT_EQ(read("585\t#hr1\t28735\t29810\tCpG: 1\n"),
              "error: islands.txt:1: chromosome \"#hr1\" starts with \"#\", which marks a comment in the region file");
}
