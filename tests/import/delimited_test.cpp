// Field splitting as spreadsheets and R quote fields, and the small text
// rules every importer relies on (numbers read whole, names without white space).
#include "delimited.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> split(const std::string& line, char delimiter, std::string* error = nullptr) {
    Field_splitter splitter;
    bool ok = splitter.split(line, delimiter);
    if (error != nullptr) *error = ok ? "" : splitter.error();
    return std::vector<std::string>(splitter.fields().begin(), splitter.fields().end());
}

TEST(field_splitter, quoted_fields_with_delimiters_and_doubled_quotes) {
    using V = std::vector<std::string>;
    EXPECT_EQ(split("\"\",\"S 1\",S2\r\n", ','), (V{"", "S 1", "S2"}));
    EXPECT_EQ(split("a,\"Smith, J.\",\"say \"\"hi\"\"\"\n", ','), (V{"a", "Smith, J.", "say \"hi\""}));
    EXPECT_EQ(split("a\t\"x\ty\"\t\n", '\t'), (V{"a", "x\ty", ""}));
    EXPECT_EQ(split("", ','), (V{""}));
    EXPECT_EQ(split("a,,", ','), (V{"a", "", ""}));
    EXPECT_EQ(split("\"a\" ,b", ','), (V{"a", "b"}));  // blanks after a closing quote
}

TEST(field_splitter, broken_quotes_are_errors) {
    std::string error;
    split("a,\"open,b\n", ',', &error);
    EXPECT_NE(error.find("no closing quote"), std::string::npos);
    split("a,\"x\"y,b", ',', &error);
    EXPECT_NE(error.find("after the closing quote"), std::string::npos);
}

TEST(field_splitter, views_stay_valid_across_many_quoted_fields) {
    std::string line;
    for (int i = 0; i < 200; ++i) line += "\"v" + std::to_string(i) + "\",";
    std::vector<std::string> fields = split(line, ',');
    ASSERT_EQ(fields.size(), 201u);
    EXPECT_EQ(fields[0], "v0");
    EXPECT_EQ(fields[199], "v199");
}

TEST(delimited, delimiter_from_header_or_choice) {
    EXPECT_EQ(delimiter_char(Delimiter::automatic, "ID_REF\tS1\tDetection Pval\n"), '\t');
    EXPECT_EQ(delimiter_char(Delimiter::automatic, "\"\",\"S1\"\n"), ',');
    EXPECT_EQ(delimiter_char(Delimiter::comma, "a\tb"), ',');
    EXPECT_EQ(delimiter_char(Delimiter::tab, "a,b"), '\t');
}

TEST(delimited, text_helpers) {
    EXPECT_EQ(underscore_spaces("  Healthy \t control  "), "Healthy_control");
    EXPECT_EQ(without_bom("\xEF\xBB\xBFSample_Name"), "Sample_Name");
    EXPECT_EQ(without_line_end("a\r\n"), "a");
    double value = 0.0;
    EXPECT_TRUE(is_number("0.4312", value));
    EXPECT_DOUBLE_EQ(value, 0.4312);
    EXPECT_TRUE(is_number("1e-3", value));
    for (const char* bad : {"", " 1", "1 ", "0.5x", "NA", "inf", "0x1p-3", "1,5"})
        EXPECT_FALSE(is_number(bad, value)) << bad;
}

}  // namespace
