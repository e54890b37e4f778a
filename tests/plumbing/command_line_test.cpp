// The command-line reading every companion program shares.
#include <gtest/gtest.h>

#include "command_line.h"

namespace {

// "inputs|--opt=value;...|help version" for a successful parse, the message otherwise.
std::string outcome(const std::vector<std::string>& args, bool quoted = false) {
    Command_line line;
    std::string error;
    if (!parse_command_line(args, Option_rules{{"--out", "--top"}, {"--force"}, quoted}, line, error)) return error;
    std::string text;
    for (const std::string& input : line.inputs) text += input + ",";
    text += "|";
    for (const auto& [name, value] : line.values) text += name + "=" + value + ";";
    return text + "|" + (line.help ? "help " : "") + (line.version ? "version" : "");
}

TEST(plumbing_command_line, reads_the_samtools_way) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"a", "--out", "x", "b"}, "a,b,|--out=x;|"},
        {{"--out=x=y", "--top", "1", "--out", "z"}, "|--out=z;--top=1;|"},   // a later value wins
        {{"--out", "--top"}, "|--out=--top;|"},                              // a value may look like an option
        {{"--out="}, "|--out=;|"},
        {{"-", "--force", "--", "--out", "-h"}, "-,--out,-h,|--force=;|"},  // "--" ends the options
        {{"-h", "--version"}, "||help version"},
        {{"--colour"}, "unknown option --colour"},
        {{"-x"}, "unknown option -x"},
        {{"a", "--out"}, "option --out needs a value"},
        {{"--force=yes"}, "option --force takes no value"},
    };
    for (const auto& c : cases) EXPECT_EQ(outcome(c.first), c.second) << c.first[0];
    EXPECT_EQ(outcome({"--top"}, true), "option '--top' needs a value");
}

TEST(plumbing_command_line, splits_lists) {
    EXPECT_EQ(split_list(" a, b ,,c\t,"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(split_list(""), std::vector<std::string>{});
}

}  // namespace
