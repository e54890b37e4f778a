// The beta matrix reader on the layouts analysts hold: minfi's write.csv
// (empty first header cell, quoted names), GEO's processed matrix (tabs,
// ID_REF, a Detection Pval column after each sample), and its failures.
#include "matrix.h"

#include <gtest/gtest.h>

#include "line_reader.h"

namespace {

struct Matrix_text {
    std::string text;
    Line_reader lines;
    Matrix_reader reader;
    explicit Matrix_text(std::string content, Delimiter delimiter = Delimiter::automatic)
        : text(std::move(content)), reader(lines, "betas.txt", delimiter) {
        lines.open_memory(text.data(), text.size());
    }
};

TEST(matrix_reader, minfi_csv) {
    for (const char* end : {"\n", "\r"}) {  // "\r": old Mac line ends
        Matrix_text m(std::string("\"\",\"S1\",\"S2\"") + end + "\"cg01\",0.5,NA" + end + "\"cg02\",\"0.25\",0.75" + end);
        std::string error;
        ASSERT_TRUE(m.reader.read_header(error)) << error;
        ASSERT_EQ(m.reader.samples().size(), 2u);
        EXPECT_FALSE(m.reader.interleaved());
        EXPECT_EQ(m.reader.samples()[1].name, "S2");
        ASSERT_EQ(m.reader.next(error), 1);
        EXPECT_EQ(m.reader.id(), "cg01");
        EXPECT_EQ(m.reader.field(2), "NA");
        ASSERT_EQ(m.reader.next(error), 1);
        EXPECT_EQ(m.reader.field(1), "0.25");
        EXPECT_EQ(m.reader.line(), 3u);
        EXPECT_EQ(m.reader.next(error), 0);
        EXPECT_TRUE(error.empty());
    }
}

TEST(matrix_reader, geo_processed_with_detection_columns) {
    Matrix_text m("\xEF\xBB\xBFID_REF\tS1\tDetection Pval\tS 2\tS 2.DETECTION PVAL\tS3\tS3.Detection_Pval\r\n"
                  "cg01\t0.5\t0.01\t0.6\t0.2\t0.7\t0\r\n\r\n!series_matrix_table_end\r\n");
    std::string error;
    ASSERT_TRUE(m.reader.read_header(error)) << error;
    ASSERT_EQ(m.reader.samples().size(), 3u);
    EXPECT_TRUE(m.reader.interleaved());
    EXPECT_EQ(m.reader.samples()[1].name, "S 2");
    EXPECT_EQ(m.reader.samples()[1].beta, 3u);
    EXPECT_EQ(m.reader.samples()[1].detection, 4u);
    ASSERT_EQ(m.reader.next(error), 1);
    EXPECT_EQ(m.reader.field(4), "0.2");
    EXPECT_EQ(m.reader.next(error), 0);  // blank and "!" lines skipped
}

TEST(matrix_reader, header_failures) {
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"ID_REF\tDetection Pval\tS1\n", "betas.txt:1: column 2 (\"Detection Pval\") holds detection p-values, but no sample column stands before it"},
        {"ID_REF\tS1\tDetection Pval\tS2\n", "betas.txt:1: sample \"S2\" has no Detection Pval column after it, but other samples have one"},
        {"ID,S1,S1\n", "betas.txt:1: sample \"S1\" names two columns"},
        {"ID,S1,\n", "betas.txt:1: column 3 has no sample name"},
        {"ID;S1;S2\n", "betas.txt:1: the header names no sample column (separated by commas)"},
        {"\n\n", "betas.txt: no header row"},
    };
    for (const Case& c : cases) {
        Matrix_text m(c.text);
        std::string error;
        EXPECT_FALSE(m.reader.read_header(error)) << c.text;
        EXPECT_EQ(error, c.error);
    }
}

TEST(matrix_reader, vendor_exports_group_columns_by_sample) {
    // The vendor software's export: identifier columns, per-sample groups, annotation after them.
    Matrix_text m("Index\tTargetID\tProbeID_A\tS1.AVG_Beta\tS1.Detection Pval\tS1.Avg_NBEADS\tS 2.Signal_A\t"
                  "S 2.Signal_B\tS 2.Detection Pval\tSEARCH_KEY\tILMN_GENE\n1\tcg01\t17\t0.5\t0\t9\t1\t2\t0\tk\tg\n");
    std::string error;
    ASSERT_TRUE(m.reader.read_header(error)) << error;
    ASSERT_EQ(m.reader.samples().size(), 2u);
    const Matrix_sample &s1 = m.reader.samples()[0], &s2 = m.reader.samples()[1];
    EXPECT_EQ(s1.name, "S1");
    EXPECT_EQ(std::vector<size_t>({s1.beta, s1.detection, s1.methylated}), std::vector<size_t>({3, 4, 0}));
    EXPECT_EQ(s2.name, "S 2");
    EXPECT_EQ(std::vector<size_t>({s2.beta, s2.detection, s2.methylated, s2.unmethylated}),
              std::vector<size_t>({0, 8, 7, 6}));
    EXPECT_EQ(m.reader.notes().size(), 2u);  // Avg_NBEADS, and the annotation columns
    ASSERT_EQ(m.reader.next(error), 1);
    EXPECT_EQ(m.reader.id(), "cg01");  // TargetID, not Index

    // A Detection Pval column without a name borrows the sample of the column
    // before; a name longer than a short-string buffer once read freed memory.
    Matrix_text geo("ID_REF,GSM1234567 whole blood donor 1 Unmethylated Signal,"
                    "GSM1234567 whole blood donor 1 Methylated Signal,Detection Pval\n", Delimiter::comma);
    ASSERT_TRUE(geo.reader.read_header(error)) << error;
    ASSERT_EQ(geo.reader.samples().size(), 1u);
    EXPECT_EQ(geo.reader.samples()[0].name, "GSM1234567 whole blood donor 1");
    EXPECT_EQ(geo.reader.samples()[0].detection, 3u);
    EXPECT_TRUE(geo.reader.interleaved());

    Matrix_text chosen("Index\tTargetID\tName\tS1.AVG_Beta\n");
    chosen.reader.set_id_column("Name");
    ASSERT_TRUE(chosen.reader.read_header(error)) << error;
    EXPECT_EQ(chosen.reader.samples().size(), 1u);

    const char* unplaced[] = {"ID\tS1.AVG_Beta\tstray\tS2.AVG_Beta\n", "ID\tS1.Signal_A\tS2.AVG_Beta\n",
                              "ID\tS1.AVG_Beta\t.AVG_Beta\n"};
    for (const char* text : unplaced) {
        Matrix_text bad(text);
        EXPECT_FALSE(bad.reader.read_header(error));
        EXPECT_EQ(error.find("betas.txt:1: cannot place the column"), 0u) << error;
    }
}

TEST(matrix_reader, row_failures) {
    struct Case {
        const char* row;
        const char* error;
    } cases[] = {
        {"cg01,0.5\n", "betas.txt:3: row has 2 fields, but the header has 3"},
        {"cg01,0.5,0.1,0.2\n", "betas.txt:3: row has 4 fields, but the header has 3"},
        {",0.5,0.1\n", "betas.txt:3: row has no probe identifier"},
        {"\"cg 01\",0.5,0.1\n", "betas.txt:3: probe identifier \"cg 01\" holds white space"},
        {"cg01,\"0.5,0.1\n", "betas.txt:3: a quoted field has no closing quote"},
    };
    for (const Case& c : cases) {
        Matrix_text m(std::string("ID,S1,S2\ncg00,0.1,0.2\n") + c.row);
        std::string error;
        ASSERT_TRUE(m.reader.read_header(error));
        EXPECT_EQ(m.reader.next(error), 1);
        EXPECT_EQ(m.reader.next(error), -1) << c.row;
        EXPECT_EQ(error, c.error);
    }
    // A row too short to reach an identifier column that is not the first.
    Matrix_text vendor("Index\tTargetID\tS1.AVG_Beta\n1\n");
    std::string error;
    ASSERT_TRUE(vendor.reader.read_header(error)) << error;
    EXPECT_EQ(vendor.reader.next(error), -1);
    EXPECT_EQ(error, "betas.txt:2: row has 1 fields, but the header has 3");
}

TEST(matrix_reader, cells) {
    double value = 0.0;
    for (const char* missing : {"", "NA", "na", "NaN", "nan"}) EXPECT_EQ(read_cell(missing, value), Cell::missing);
    EXPECT_EQ(read_cell("0.91", value), Cell::number);
    EXPECT_DOUBLE_EQ(value, 0.91);
    EXPECT_EQ(read_cell("-2.3", value), Cell::number);  // the range is the caller's check
    for (const char* bad : {"abc", "0.5.1", "N/A", "1e", "Inf"}) EXPECT_EQ(read_cell(bad, value), Cell::bad);
}

}  // namespace
