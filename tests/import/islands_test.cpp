// Region files from UCSC's cpgIslandExt (bin column first, "CpG: N" names)
// and from BED files of 3 or more columns, detected per file.
#include "islands.h"

#include <gtest/gtest.h>

#include "line_reader.h"
#include "test_util.h"

namespace {

// Regions as "chr start end name" lines plus the layout, or "error: ...".
std::string read(const std::string& text) {
    Line_reader reader;
    reader.open_memory(text.data(), text.size());
    std::string out, error;
    Island_layout layout = Island_layout::unknown;
    size_t count = 0;
    auto sink = [&](const Region_record& r) {
        out += r.chr + " " + std::to_string(r.start) + " " + std::to_string(r.end) + " " + r.name + "\n";
    };
    if (!read_islands(reader, "islands.txt", sink, layout, count, error)) return "error: " + error;
    return out + (layout == Island_layout::ucsc ? "ucsc" : "bed");
}

TEST(Islands, ucsc_table_with_bin_and_spaced_names) {
    EXPECT_EQ(read("#bin\tchrom\tchromStart\tchromEnd\tname\tlength\n"
                   "585\tchr1\t28735\t29810\tCpG: 116\t1075\t116\t787\t21.6\t73.2\t0.83\n"
                   "586\tchr1\t135124\t135563\tCpG: 30\t439\t30\t295\t13.7\t67.2\t0.64\n"),
              "chr1 28735 29810 CpG:116\nchr1 135124 135563 CpG:30\nucsc");
}

TEST(Islands, bed_layouts) {
    EXPECT_EQ(read("track name=islands\nchr1\t100\t200\nchr2\t5\t9\n"), "chr1 100 200 chr1:100-200\nchr2 5 9 chr2:5-9\nbed");
    EXPECT_EQ(read("chr1 100 200 island one 0 +\n"), "chr1 100 200 island\nbed");  // white space separated
    EXPECT_EQ(read("chr1\t100\t200\tCpG: 7\t0\t+\r\n"), "chr1 100 200 CpG:7\nbed");
}

TEST(Islands, failures_name_file_and_line) {
    EXPECT_EQ(read("chr1\t100\t200\nchr1\t100\n"), "error: islands.txt:2: line has 2 columns, but BED needs 3 or more");
    EXPECT_EQ(read("chr1\t1x\t200\n"), "error: islands.txt:1: expected chromosome, start and end (whole numbers) in columns 1 to 3");
    EXPECT_EQ(read("chr1\t300\t200\n"), "error: islands.txt:1: start 300 lies after end 200");
    EXPECT_EQ(read("585\tchr1\t28735\t29810\tCpG: 116\n585\tchr1\t-1\t5\tx\n"),
              "error: islands.txt:2: expected chromosome, start and end (whole numbers) in columns 2 to 4");
}

TEST(Islands, gzip_file_to_region_file) {
    Temp_dir dir;
    write_text(dir.file("cpgIslandExt.txt.gz"), gzip_text("585\tchr1\t28735\t29810\tCpG: 116\t1075\n"));
    Island_layout layout = Island_layout::unknown;
    size_t count = 0;
    std::string error;
    ASSERT_TRUE(import_islands(dir.file("cpgIslandExt.txt.gz"), dir.file("r.txt"), layout, count, error)) << error;
    EXPECT_EQ(read_text(dir.file("r.txt")), "# chrom\tstart\tend\tname\nchr1\t28735\t29810\tCpG:116\n");
    EXPECT_FALSE(import_islands(dir.file("none.txt"), dir.file("r2.txt"), layout, count, error));
    EXPECT_EQ(error, "cannot open " + dir.file("none.txt"));
}

}  // namespace

// Found by fuzzing: a UCSC chromosome cell starting with "#" was written as
// a region line that cimbrel's region reader skips as a comment, so the
// region was lost without a word.
TEST(Islands, chromosome_starting_with_a_comment_mark_is_refused) {
    EXPECT_EQ(read("585\t#hr1\t28735\t29810\tCpG: 1\n"),
              "error: islands.txt:1: chromosome \"#hr1\" starts with \"#\", which marks a comment in the region file");
}
