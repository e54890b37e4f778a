// Command lines that the parser accepts, checked field by field in-process.
// Rejected command lines end the process; cli_test checks them on the binary.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "parameter.h"
#include "test_util.h"

namespace {

Parameter parse(std::initializer_list<std::string> arguments) {
    std::vector<std::string> words{"cimbrel"};
    words.insert(words.end(), arguments);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    return parameter_manipulate(static_cast<int>(words.size()), argv.data());
}

}  // namespace

TEST(parameter_manipulate, one_flag_leaves_every_other_default) {
    Parameter options = parse({"--nosnp"});
    EXPECT_TRUE(options.nosnp);
    EXPECT_DOUBLE_EQ(options.pvalue_threshold, 0.01);
    EXPECT_DOUBLE_EQ(options.fdr_threshold, 0.01);
    EXPECT_EQ(options.thread_num, 1u);
    EXPECT_EQ(options.covariable_num, 0u);
    EXPECT_TRUE(options.normalize_on && options.r1_on && options.r2_on);
    EXPECT_FALSE(options.continuous_on);
    EXPECT_EQ(options.configure_file, "../etc/description.xls");
    EXPECT_EQ(options.probe_ann_file, "../data/probe.ann");
    EXPECT_EQ(options.r1_file, "../data/cpgIslandExt.txt");
    EXPECT_EQ(options.probe_out_file, "probe.txt");
    EXPECT_EQ(options.r1_out_file, "r1.txt");
    EXPECT_EQ(options.r2_out_file, "r2.txt");
}

TEST(parameter_manipulate, every_option_sets_its_field) {
    Parameter options = parse({"--normalize-off", "--r1-off", "--r2-off", "--continuous", "--thread", "4",
                               "--pvalue", "1.01", "--fdr", "0", "--covariable", "2", "--configure", "c.xls",
                               "--r1", "islands.bed", "--probe", "450k.ann", "--r1-prefix", "cgi",
                               "--r2-prefix", "dmr", "--probe-prefix", "cpg"});
    EXPECT_FALSE(options.normalize_on || options.r1_on || options.r2_on || options.nosnp);
    EXPECT_TRUE(options.continuous_on);
    EXPECT_EQ(options.thread_num, 4u);
    EXPECT_DOUBLE_EQ(options.pvalue_threshold, 1.01);
    EXPECT_DOUBLE_EQ(options.fdr_threshold, 0.0);
    EXPECT_EQ(options.covariable_num, 2u);
    EXPECT_EQ(options.configure_file, "c.xls");
    EXPECT_EQ(options.r1_file, "islands.bed");
    EXPECT_EQ(options.probe_ann_file, "450k.ann");
    EXPECT_EQ(options.probe_out_file, "cpg.txt");
    EXPECT_EQ(options.r1_out_file, "cgi.txt");
    EXPECT_EQ(options.r2_out_file, "dmr.txt");
}

TEST(parameter_manipulate, later_value_wins) {
    EXPECT_EQ(parse({"-n", "2", "-n", "8"}).thread_num, 8u);
    EXPECT_EQ(parse({"-c", "a", "--configure", "b"}).configure_file, "b");
}

TEST(parameter_manipulate, numbers_are_read_from_the_start_of_the_value) {
    Parameter options = parse({"-n", "4x", "--covariable", "3", "-p", " 0.05abc", "-q", "1e-2"});
    EXPECT_EQ(options.thread_num, 4u);
    EXPECT_EQ(options.covariable_num, 3u);
    EXPECT_DOUBLE_EQ(options.pvalue_threshold, 0.05);
    EXPECT_DOUBLE_EQ(options.fdr_threshold, 0.01);
}

TEST(parameter_manipulate, thread_count_up_to_the_cap_is_accepted) {
    EXPECT_EQ(parse({"-n", "1024"}).thread_num, max_thread_num);
    EXPECT_EQ(parse({"-n", "1"}).thread_num, 1u);
}

TEST(parameter_manipulate, value_is_taken_whatever_it_looks_like) {
    Parameter options = parse({"-c", "-n", "--r1", "-h", "--probe", "--nosnp"});
    EXPECT_EQ(options.configure_file, "-n");
    EXPECT_EQ(options.r1_file, "-h");
    EXPECT_EQ(options.probe_ann_file, "--nosnp");
    EXPECT_EQ(options.thread_num, 1u);
    EXPECT_FALSE(options.nosnp);
}

TEST(parameter_manipulate, probe_prefix_keeps_only_its_first_word) {
    Parameter options = parse({"--probe-prefix", "my run"});
    EXPECT_EQ(options.probe_prefix, "my");
    EXPECT_EQ(options.probe_out_file, "my.txt");
    EXPECT_EQ(parse({"--probe-prefix", " \tlead trail"}).probe_out_file, "lead.txt");
}

TEST(parameter_manipulate, other_text_values_keep_their_blanks) {
    Parameter options = parse({"--r1-prefix", "my cgi", "-c", " study.xls"});
    EXPECT_EQ(options.r1_out_file, "my cgi.txt");
    EXPECT_EQ(options.configure_file, " study.xls");
}

TEST(parameter_manipulate, derived_names_keep_the_directory_part) {
    Parameter options =
        parse({"--r1-prefix", "out/cgi", "--r2-prefix", "/tmp/run 1/r2", "--probe-prefix", "../res/p"});
    EXPECT_EQ(options.r1_out_file, "out/cgi.txt");
    EXPECT_EQ(options.r2_out_file, "/tmp/run 1/r2.txt");
    EXPECT_EQ(options.probe_out_file, "../res/p.txt");
}

// The parser's non-exiting form (used by the command-line fuzz target):
// the same outcome and messages as the program, reported instead of exiting.
TEST(parse_parameters, reports_help_and_rejection_without_ending_the_process) {
    struct Case {
        std::vector<const char*> argv;
        bool go_on;
        int status;
        const char* first_line;
    };
    const Case cases[] = {
        {{"cimbrel"}, false, -1, "Cimbrel "},
        {{"cimbrel", "-n", "2", "--help", "-x"}, false, 0, "Cimbrel "},
        {{"cimbrel", "-x"}, false, -1, "Unrecognized parameter -x"},
        {{"cimbrel", "-p", "2"}, false, -1, "Invalid pvalue 2"},
        {{"cimbrel", "--r1"}, false, -1, "Lack value of --r1"},
        {{"cimbrel", "-n", "3"}, true, 99, ""},
    };
    for (const Case& c : cases) {
        Parameter options;
        options.nosnp = true;  // replaced by the defaults
        int status = 99;
        bool go_on = true;
        const std::string out = capture_stdout([&] {
            go_on = parse_parameters(static_cast<int>(c.argv.size()), c.argv.data(), options, status);
        });
        EXPECT_EQ(go_on, c.go_on) << c.argv.back();
        EXPECT_EQ(status, c.status) << c.argv.back();
        EXPECT_EQ(out.rfind(c.first_line, 0), 0u) << out;
        if (!go_on) {
            EXPECT_NE(out.find("-h --help"), std::string::npos) << "usage text missing";
        }
        EXPECT_FALSE(options.nosnp) << "options not reset";
    }
}
