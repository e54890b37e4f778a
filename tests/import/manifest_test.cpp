// The vendor's manifests: 450K (CHR "1", empty island relation = open sea)
// and EPIC v2 (CHR "chr1", IlmnID with its suffix), the [Heading] and
// [Controls] blocks around the probes, chosen annotation columns, failures.
#include "manifest.h"

#include <gtest/gtest.h>

#include "line_reader.h"
#include "test_util.h"

namespace {

// Records as annotation lines, or "error: ..." when the reader fails.
std::string read(const std::string& text, const std::vector<std::string>& ann = {}, Manifest_counts* counts = nullptr) {
    Line_reader reader;
    reader.open_memory(text.data(), text.size());
    std::string out, error;
    Manifest_counts own;
    auto sink = [&](const Annotation_record& r) {
        out += r.id + " " + r.chr + " " + std::to_string(r.position) + " " + r.annotation + "\n";
    };
    if (!read_manifest(reader, "manifest.csv", ann, sink, counts != nullptr ? *counts : own, error)) return "error: " + error;
    return out;
}

const std::string heading = "Illumina, Inc.,,,\r\n[Heading],,,\r\nDescriptor File Name,X.bpm,,\r\n[Assay],,,\r\n";

const std::string manifest_450k =
    heading +
    "IlmnID,Name,CHR,MAPINFO,UCSC_RefGene_Name,Relation_to_UCSC_CpG_Island\r\n"
    "cg00000029,cg00000029,16,53468112,RBL2,N_Shore\r\n"
    "cg00000108,cg00000108,3,37459206,\"C3orf35;C3orf35\",\r\n"
    "ch.1.1F,ch.1.1F,,,,\r\n"
    "cg00000109,cg00000109,X,0,,Island\r\n"
    "rs10796216,rs10796216,10,1,,S_Shelf\r\n"
    "[Controls],,,\r\n"
    "0027630,STAINING,Red,DNP (20K)\r\n";

TEST(manifest, layout_450k_with_controls_block) {
    Manifest_counts counts;
    EXPECT_EQ(read(manifest_450k, {}, &counts),
              "cg00000029 chr16 53468112 N_Shore\n"
              "cg00000108 chr3 37459206 OpenSea\n"
              "rs10796216 chr10 1 S_Shelf\n");
    EXPECT_EQ(counts.probes, 3u);
    EXPECT_EQ(counts.without_position, 2u);
}

TEST(manifest, epic_v2_keeps_suffixed_identifiers) {
    std::string text = heading +
                       "IlmnID,Name,CHR,MAPINFO,Relation_to_UCSC_CpG_Island\n"
                       "cg00000029_TC21,cg00000029,chr16,53434200,N_Shore\n"
                       "cg25324105_BC11,cg25324105,chr0,0,\n";
    EXPECT_EQ(read(text), "cg00000029_TC21 chr16 53434200 N_Shore\n");
}

TEST(manifest, chosen_columns_joined_with_dots_for_empty_cells) {
    EXPECT_EQ(read(manifest_450k, {"UCSC_RefGene_Name", "Relation_to_UCSC_CpG_Island"}),
              "cg00000029 chr16 53468112 RBL2|N_Shore\n"
              "cg00000108 chr3 37459206 C3orf35;C3orf35|.\n"
              "rs10796216 chr10 1 .|S_Shelf\n");
}

TEST(manifest, failures_name_file_and_line) {
    const std::string header = "IlmnID,CHR,MAPINFO,Relation_to_UCSC_CpG_Island\n";
    EXPECT_EQ(read(heading + "Name,CHR\n"), "error: manifest.csv: no header row naming IlmnID (is this a manifest?)");
    EXPECT_EQ(read(heading + header, {"Gene"}), "error: manifest.csv:5: the header has no column \"Gene\"");
    EXPECT_EQ(read(header + "cg1,1,12x,\n"), "error: manifest.csv:2: MAPINFO \"12x\" of probe cg1 is not a position");
    EXPECT_EQ(read(header + "cg1,1,-5,\n"), "error: manifest.csv:2: MAPINFO \"-5\" of probe cg1 is not a position");
    EXPECT_EQ(read(header + "cg1,1,5,Island,extra\n"), "error: manifest.csv:2: row has 5 fields, but the header has 4");
    EXPECT_EQ(read(header + "cg1,1\n"), "error: manifest.csv:2: row has 2 fields, but the header has 4");
    EXPECT_EQ(read(header + ",1,5,\n"), "error: manifest.csv:2: row has no IlmnID");
}

// Rows that were written wrongly or silently: old Mac line ends, repeated
// identifiers, a manifest without a usable probe, the mitochondrial genome.
TEST(manifest, hostile_inputs) {
    const std::string header = "IlmnID,CHR,MAPINFO,Relation_to_UCSC_CpG_Island\n";
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"IlmnID,CHR,MAPINFO,Relation_to_UCSC_CpG_Island\rcg1,1,5,Island\rcg2,2,6,\r", "cg1 chr1 5 Island\ncg2 chr2 6 OpenSea\n"},
        {header + "cg1,1,5,Island\ncg2,2,6,\ncg1,1,5,Island\n", "cg1 chr1 5 Island\ncg2 chr2 6 OpenSea\n(1 repeated)"},
        {header + "cg1,1,5,Island\ncg2,2,6,\ncg1,2,5,Island\n",
         "error: manifest.csv:4: IlmnID \"cg1\" appears again (first on line 2) with another chromosome, position or "
         "annotation"},
        {header + "cg1,1,5,Island\ncg1,1,5,N_Shore\n",
         "error: manifest.csv:3: IlmnID \"cg1\" appears again (first on line 2) with another chromosome, position or "
         "annotation"},
        {header, "error: manifest.csv: no probe with a chromosome and position"},
        {header + "ch.1,,,\ncg2,1,0,\n", "error: manifest.csv: no probe with a chromosome and position (2 probes without)"},
        {header + "cg1,MT,5,\ncg2,chrMT,6,\ncg3,chrM,7,\n", "cg1 chrM 5 OpenSea\ncg2 chrM 6 OpenSea\ncg3 chrM 7 OpenSea\n"},
    };
    for (const auto& c : cases) {
        Manifest_counts counts;
        std::string got = read(c.text, {}, &counts);
        if (counts.repeated > 0) got += "(" + std::to_string(counts.repeated) + " repeated)";
        EXPECT_EQ(got, c.expected) << c.text;
    }
}

TEST(manifest, gzip_file_to_annotation_file) {
    Temp_dir dir;
    write_text(dir.file("m.csv.gz"), gzip_text(manifest_450k, 64));
    Manifest_counts counts;
    std::string error;
    ASSERT_TRUE(import_manifest(dir.file("m.csv.gz"), dir.file("probe.ann"), {}, counts, error)) << error;
    EXPECT_EQ(read_text(dir.file("probe.ann")),
              "# id\tchr\tposition\tannotation\n"
              "cg00000029\tchr16\t53468112\tN_Shore\n"
              "cg00000108\tchr3\t37459206\tOpenSea\n"
              "rs10796216\tchr10\t1\tS_Shelf\n");
    std::string gz = gzip_text(manifest_450k);
    write_text(dir.file("cut.csv.gz"), gz.substr(0, gz.size() - 12));
    EXPECT_FALSE(import_manifest(dir.file("cut.csv.gz"), dir.file("cut.ann"), {}, counts, error));
    EXPECT_EQ(error.find(dir.file("cut.csv.gz") + ": "), 0u) << error;
    EXPECT_FALSE(file_exists(dir.file("cut.ann")));
}

}  // namespace

// Found by fuzzing: an IlmnID starting with "#" was written as an annotation
// line that cimbrel's annotation reader skips as a comment, so the probe
// lost its position without a word.
TEST(manifest, identifier_starting_with_a_comment_mark_is_refused) {
    EXPECT_EQ(read("IlmnID,CHR,MAPINFO,Relation_to_UCSC_CpG_Island\ncg1,1,5,\n#cg2,1,6,Island\n"),
              "error: manifest.csv:3: IlmnID \"#cg2\" starts with \"#\", which marks a comment in the annotation file");
}
