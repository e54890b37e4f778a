// The sample sheet as Excel and Illumina save it, and the design built from
// it: names with white space, categorical covariables, missing values.
#include "design.h"
#include "sheet.h"

#include <gtest/gtest.h>

#include "line_reader.h"

namespace {

bool read(const std::string& text, Sheet& sheet, std::string& error) {
    Line_reader reader;
    reader.open_memory(text.data(), text.size());
    return read_sheet(reader, "sheet.csv", sheet, error);
}

bool design_of(const std::string& text, const Design_options& options, Design& design, std::string& error) {
    Sheet sheet;
    return read(text, sheet, error) && build_design(sheet, options, design, error);
}

// Excel's CSV: BOM, CRLF, a quoted comma, a blank row and a row of empty cells
// at the end, a trailing empty column.
const std::string excel_sheet =
    "\xEF\xBB\xBFSample_Name,Sample_Group,Age,Sex,Note,\r\n"
    "S 01,Healthy control,54,M,\"Smith, J.\",\r\n"
    "S02,case,61,F,,\r\n"
    "\r\n"
    "S03,\"Healthy  control\",47.5,F\r\n"
    ",,,,,\r\n";

// The same text with every line end replaced, as Excel for Mac's "CSV (Macintosh)" ends lines in "\r".
std::string with_line_ends(std::string text, const std::string& end) {
    std::string out;
    for (size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') ++at;
        out += text[at] == '\n' || text[at] == '\r' ? end : std::string(1, text[at]);
    }
    return out;
}

TEST(sheet, excel_layout) {
    for (const std::string end : {"\r\n", "\r", "\n"}) {
        Sheet sheet;
        std::string error;
        ASSERT_TRUE(read(with_line_ends(excel_sheet, end), sheet, error)) << error;
        EXPECT_EQ(sheet.header, (std::vector<std::string>{"Sample_Name", "Sample_Group", "Age", "Sex", "Note"}));
        ASSERT_EQ(sheet.rows.size(), 3u);
        EXPECT_EQ(sheet.rows[0].cells[4], "Smith, J.");
        EXPECT_EQ(sheet.rows[2].line, 5u);
        EXPECT_EQ(sheet.rows[2].cells.size(), 5u);  // the short row padded
    }
}

TEST(sheet, illumina_blocks_before_data) {
    Sheet sheet;
    std::string error;
    ASSERT_TRUE(read("[Header],,\nInvestigator Name,Ann,\n[Reads]\n\n[Data],,\nSample_Name,Sample_Group\nS1,a\n",
                     sheet, error)) << error;
    EXPECT_EQ(sheet.header_line, 6u);
    EXPECT_EQ(sheet.rows[0].cells[1], "a");
    EXPECT_FALSE(read("[Header]\nInvestigator Name,Ann\n", sheet, error));
    EXPECT_NE(error.find("[Data]"), std::string::npos);
}

TEST(sheet, malformed_rows_name_their_line) {
    Sheet sheet;
    std::string error;
    EXPECT_FALSE(read("Sample_Name,Sample_Group\nS1,a\nS2,b,extra\n", sheet, error));
    EXPECT_EQ(error, "sheet.csv:3: row has 3 cells, but the header names 2 columns");
    EXPECT_FALSE(read("Sample_Name,Sample_Group\nS1,\"a\n", sheet, error));
    EXPECT_EQ(error, "sheet.csv:2: a quoted field has no closing quote");
    EXPECT_FALSE(read("A,B,A\n", sheet, error));
    EXPECT_NE(error.find("\"A\" appears twice"), std::string::npos);
}

TEST(design, white_space_and_categorical_covariable) {
    Design_options options;
    options.covariables = {"Age", "Sex"};
    Design design;
    std::string error;
    ASSERT_TRUE(design_of(excel_sheet, options, design, error)) << error;
    ASSERT_EQ(design.samples.size(), 3u);
    EXPECT_EQ(design.samples[0].sheet_name, "S 01");
    EXPECT_EQ(design.samples[0].name, "S_01");
    EXPECT_EQ(design.samples[2].value, "Healthy_control");
    EXPECT_EQ(design.covariable_names, (std::vector<std::string>{"Age", "Sex_M"}));
    EXPECT_EQ(design.samples[0].covariables, (std::vector<std::string>{"54", "1"}));
    EXPECT_EQ(design.samples[2].covariables, (std::vector<std::string>{"47.5", "0"}));
    ASSERT_EQ(design.notes.size(), 2u);  // one for all renamed names, one for the categorical column
    EXPECT_NE(design.notes[0].find("3 sample or group names"), std::string::npos);
}

TEST(design, categorical_levels_in_sorted_order_first_left_out) {
    Design_options options;
    options.covariables = {"Batch"};
    Design design;
    std::string error;
    ASSERT_TRUE(design_of("Sample_Name,Sample_Group,Batch\nA,g,p2\nB,g,b1\nC,h,p10\nD,h,b1\n", options, design, error));
    EXPECT_EQ(design.covariable_names, (std::vector<std::string>{"Batch_p10", "Batch_p2"}));
    EXPECT_EQ(design.samples[0].covariables, (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(design.samples[2].covariables, (std::vector<std::string>{"1", "0"}));
    EXPECT_EQ(design.samples[3].covariables, (std::vector<std::string>{"0", "0"}));
}

TEST(design, continuous_column_and_other_column_names) {
    Design_options options;
    options.sample_column = "ID";
    options.continuous_column = "BMI";
    Design design;
    std::string error;
    ASSERT_TRUE(design_of("ID\tBMI\nA\t21.5\nB\t30\n", options, design, error)) << error;
    EXPECT_TRUE(design.continuous);
    EXPECT_EQ(design.samples[1].value, "30");
    EXPECT_FALSE(design_of("ID\tBMI\nA\t21.5\nB\tobese\n", options, design, error));
    EXPECT_EQ(error, "sheet.csv:3: sample \"B\": value \"obese\" of column \"BMI\" is not a number");
}

TEST(design, missing_values_and_columns_are_errors_naming_the_sample) {
    Design_options options;
    options.covariables = {"Age"};
    Design design;
    std::string error;
    EXPECT_FALSE(design_of("Sample_Name,Sample_Group,Age\nS1,a,50\nS2,b,\n", options, design, error));
    EXPECT_EQ(error, "sheet.csv:3: sample \"S2\" has no value in column \"Age\"");
    EXPECT_FALSE(design_of("Sample_Name,Sample_Group,Age\nS1,,50\n", options, design, error));
    EXPECT_EQ(error, "sheet.csv:2: sample \"S1\" has no value in column \"Sample_Group\"");
    EXPECT_FALSE(design_of("Sample_Name,Group,Age\nS1,a,50\n", options, design, error));
    EXPECT_NE(error.find("no column \"Sample_Group\" in the header (columns: Sample_Name, Group, Age)"), std::string::npos);
    EXPECT_FALSE(design_of("Sample_Name,Sample_Group,Age\nS 1,a,50\nS_1,a,51\n", options, design, error));
    EXPECT_EQ(error, "sheet.csv:3: sample \"S_1\" appears again (first on line 2)");
}

}  // namespace

// A numeric covariable with a missing or unreadable value stays numeric and
// is refused (as a categorical column it would take one indicator per
// sample); levels that become one column name, and a covariable given twice,
// are refused with the values named.
TEST(design, covariable_values_that_would_mislead_cimbrel) {
    const std::string head = "Sample_Name,Sample_Group,Age,Batch\n";
    const struct {
        std::string rows;
        std::vector<std::string> covariables;
        std::string expected;  // the covariable columns, or the error
    } cases[] = {
        {"A,g,54,x\nB,g,NA,y\nC,h,61,x\n", {"Age"},
         "sheet.csv:3: sample \"B\": value \"NA\" of the numeric covariable \"Age\" is missing or not a finite number"},
        {"A,g,inf,x\nB,g,50,y\n", {"Age"}, "sheet.csv:2: sample \"A\": value \"inf\" of the numeric covariable \"Age\" "
                                           "is missing or not a finite number"},
        {"A,g,1e400,x\nB,g,0x10,y\n", {"Age"}, "sheet.csv:2: sample \"A\": value \"1e400\" of the numeric covariable "
                                               "\"Age\" is missing or not a finite number"},
        {"A,g,54,x\nB,g,old,y\nC,h,NA,x\n", {"Age"}, "Age_NA Age_old"},  // a word: categorical, as before
        {"A,g,1,b 1\nB,g,2,b  1\nC,h,3,b\t1\nD,h,4,c\n", {"Batch"},
         "sheet.csv:1: level \"b\t1\" of \"Batch\", level \"b  1\" of \"Batch\" and level \"b 1\" of \"Batch\" all "
         "become the configuration column \"Batch_b_1\"; make them differ in more than white space"},
        {"A,g,1,x\nB,g,2,y\n", {"Age", "Age"}, "covariable \"Age\" is given twice"},
    };
    for (const auto& c : cases) {
        Design_options options;
        options.covariables = c.covariables;
        Design design;
        std::string error;
        std::string got;
        if (!design_of(head + c.rows, options, design, error)) got = error;
        else for (const std::string& name : design.covariable_names) got += (got.empty() ? "" : " ") + name;
        EXPECT_EQ(got, c.expected) << c.rows;
    }
}
