// The command line as a user meets it: the built program is run and its
// standard output and exit status are compared byte for byte. A rejected
// command line prints one message, then the usage text, and exits with -1,
// which a shell sees as 255.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

const std::string usage_text =
    "Cimbrel 1.2.1\n"
    "\n"
    "Usage:\n"
    "-h --help                                                print this help info\n"
    "\n"
    "<optional steps choice>\n"
    "--continuous                                             analyze relationship with continous variable rather than group\n"
    "--nosnp                                                  filter out probes containing genomic variance\n"
    "--normalize-off                                          do not normalize the raw betas\n"
    "--r1-off                                                 do not analyze predefined region\n"
    "--r2-off                                                 do not analyze arbitrary region\n"
    "\n"
    "<threshold choice>\n"
    "-n --thread                   [int]                      set threads number\n"
    "-p --pvalue                   [double]                   set p value threshold\n"
    "-q --fdr                      [double]                   set fdr threshold\n"
    "\n"
    "<basic function configuration>\n"
    "-c --configure                [string]                   configure file\n"
    "--covariable                  [int]                      covariable number\n"
    "--probe                       [string]                   probe annotation file\n"
    "--probe-prefix                [string]                   probe BedGraph result file prefix\n"
    "\n"
    "<predefined region configuration>\n"
    "--r1                          [string]                   predefined region file\n"
    "--r1-prefix                   [string]                   predefined region Bedgraph result file prefix\n"
    "\n"
    "<arbitrary region configuration>\n"
    "--r2-prefix                   [string]                   arbitrary region Bedgraph result file prefix\n";

// Runs the program in a fresh empty folder, so that an accepted command line
// finds no study and writes nothing that outlives the test.
Run_result run_in_empty_dir(const std::vector<std::string>& args) {
    Temp_dir dir;
    return run_cimbrel(args, dir.path());
}

void expect_rejected(const std::vector<std::string>& args, const std::string& message) {
    Run_result result = run_in_empty_dir(args);
    EXPECT_EQ(result.status, 255) << args.front();
    EXPECT_EQ(result.out, message + usage_text) << args.front();
    EXPECT_EQ(result.err, "");
}

}  // namespace

TEST(command_line, usage_text_has_29_lines_in_three_columns) {
    size_t lines = 0, start = 0;
    for (size_t end; (end = usage_text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = usage_text.substr(start, end - start);
        ++lines;
        if (line.empty() || line[0] != '-') continue;
        EXPECT_TRUE(line.size() > 57 && line[56] == ' ' && line[57] != ' ') << line;
        EXPECT_TRUE(line[30] == '[' || line.compare(29, 28, std::string(28, ' ')) == 0) << line;
    }
    EXPECT_EQ(lines, 29u);
}

TEST(command_line, help_prints_usage_and_exits_0) {
    for (const char* word : {"-h", "--help"}) {
        Run_result result = run_in_empty_dir({word});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, usage_text);
        EXPECT_EQ(result.err, "");
    }
}

TEST(command_line, no_arguments_prints_usage_and_exits_255) {
    expect_rejected({}, "");
}

TEST(command_line, help_after_valid_options_wins_and_ends_parsing) {
    Run_result result = run_in_empty_dir({"-n", "2", "--nosnp", "-h", "--bogus", "-n", "0"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, usage_text);
}

TEST(command_line, error_before_help_wins) {
    expect_rejected({"--bogus", "-h"}, "Unrecognized parameter --bogus\n");
    expect_rejected({"-n", "0", "--help"}, "Invalid nproc value 0\n");
}

TEST(command_line, refused_values_name_the_value_as_typed) {
    expect_rejected({"-n", "0"}, "Invalid nproc value 0\n");
    expect_rejected({"--thread", "abc"}, "Invalid nproc value abc\n");
    expect_rejected({"-p", "1.02"}, "Invalid pvalue 1.02\n");
    expect_rejected({"--pvalue", "abc"}, "Invalid pvalue abc\n");
    expect_rejected({"-p", "-0.5"}, "Invalid pvalue -0.5\n");
    expect_rejected({"-q", "-0.1"}, "Invalid fdr value -0.1\n");
    expect_rejected({"--fdr", "1.5x"}, "Invalid fdr value 1.5x\n");
    expect_rejected({"--covariable", "x"}, "Invalid range value x\n");
    expect_rejected({"--probe-prefix", ""}, "Invalid file name\n");
    expect_rejected({"--probe-prefix", " \t"}, "Invalid file name \t\n");
}

// A leading minus wraps to a count near 2^32, which would start billions of
// threads; it is refused like any count above 1024.
TEST(command_line, thread_count_above_1024_is_refused) {
    expect_rejected({"-n", "1025"}, "Invalid nproc value 1025\n");
    expect_rejected({"--thread", "-1"}, "Invalid nproc value -1\n");
    expect_rejected({"-n", "99999999999"}, "Invalid nproc value 99999999999\n");
}

TEST(command_line, unknown_words_are_refused) {
    expect_rejected({"--NOSNP"}, "Unrecognized parameter --NOSNP\n");
    expect_rejected({"-n", "2", "4"}, "Unrecognized parameter 4\n");
    expect_rejected({"-"}, "Unrecognized parameter -\n");
    expect_rejected({"--nosnp=1"}, "Unrecognized parameter --nosnp=1\n");
}

TEST(command_line, option_without_its_value_is_refused) {
    for (const char* word : {"-n", "--thread", "-p", "--pvalue", "-q", "--fdr", "--covariable", "-c",
                             "--configure", "--probe-prefix", "--r1", "--probe", "--r1-prefix",
                             "--r2-prefix"}) {
        expect_rejected({"--nosnp", word}, std::string("Lack value of ") + word + "\n");
    }
}

// "-c -n": -n is the configuration path, so the run goes on to look for a
// study file of that name instead of refusing the command line.
TEST(command_line, value_that_looks_like_an_option_is_a_value) {
    Run_result result = run_in_empty_dir({"-c", "-n", "--r1-off"});
    EXPECT_NE(result.status, 255);
    EXPECT_EQ(result.out.find("Usage:"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Error: cannot open file -n"), std::string::npos) << result.out;
}

// Accepted options let the run go on to look for its (here missing) inputs.
TEST(command_line, accepted_numbers_start_the_run) {
    Run_result result = run_in_empty_dir({"-n", "1024", "-n", "4x", "-p", "1.01", "-q", "0"});
    EXPECT_NE(result.status, 255);
    EXPECT_EQ(result.out.find("Usage:"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Error: cannot open file"), std::string::npos) << result.out;
}

// The bundled example study, copied to a temporary folder and run the way its
// README says. Its data/differential.txt lists the probes that were given a
// true group difference; at an FDR of 1% every reported probe should be one.
namespace {

const std::string example_dir = std::string(CIMBREL_TEST_DATA) + "/../../examples/demo";

std::vector<std::string> example_files() {
    std::vector<std::string> files{"etc/description.xls", "data/probe.ann", "data/cpgIslandExt.txt",
                                   "data/differential.txt"};
    for (int s = 1; s <= 12; ++s) files.push_back("data/samples/S" + std::string(s < 10 ? "0" : "") +
                                                  std::to_string(s) + ".txt");
    return files;
}

std::vector<std::string> first_column(const std::string& text) {
    std::vector<std::string> words;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line[0] != '#') words.push_back(line.substr(0, line.find('\t')));
        start = end + 1;
    }
    return words;
}

}  // namespace

TEST(example_study, reports_only_truly_differential_probes) {
    Temp_dir dir;
    ASSERT_EQ(system(("cp -r '" + example_dir + "' '" + dir.path() + "/demo'").c_str()), 0);
    Run_result result = run_cimbrel({"--covariable", "1", "-n", "2"}, dir.file("demo/run"));
    ASSERT_EQ(result.status, 0) << result.out;
    std::vector<std::string> truth = first_column(read_text(dir.file("demo/data/differential.txt")));
    std::vector<std::string> reported = first_column(read_text(dir.file("demo/run/probe.txt")));
    ASSERT_GT(reported.size(), 10u);
    for (size_t i = 1; i < reported.size(); ++i)
        EXPECT_NE(std::find(truth.begin(), truth.end(), reported[i]), truth.end()) << reported[i];
    EXPECT_GT(first_column(read_text(dir.file("demo/run/r1.txt"))).size(), 1u);
    EXPECT_GT(first_column(read_text(dir.file("demo/run/r2.txt"))).size(), 1u);
}

// The generator command of the example's README rebuilds it byte for byte.
TEST(example_study, generator_command_reproduces_it) {
    std::string binary = CIMBREL_BINARY;
    std::string generator = binary.substr(0, binary.rfind('/') + 1) + "cimbrel_generate";
    if (!file_exists(generator)) GTEST_SKIP() << "cimbrel_generate is not built";
    Temp_dir dir;
    std::string command = generator + " --out '" + dir.path() +
                          "/demo' --probes 2000 --samples 12 --groups 2 --covariables 1 --seed 1 --digits 4"
                          " --threads 3 > /dev/null";
    ASSERT_EQ(system(command.c_str()), 0);
    for (const std::string& file : example_files())
        EXPECT_TRUE(read_text(dir.file("demo/" + file)) == read_text(example_dir + "/" + file)) << file;
}

namespace {

// Scenario 05 run from its own folder, results written to out.
Run_result run_region_layout(const Temp_dir& out, const char* region_test) {
    setenv("CIMBREL_REGION_TEST", region_test, 1);
    Run_result result = run_cimbrel({"-c", "description.xls", "--probe", "probe.ann", "--r1", "cgi.txt", "-p",
                                     "1.01", "-q", "1.01", "--normalize-off", "--probe-prefix", out.file("probe"),
                                     "--r1-prefix", out.file("r1"), "--r2-prefix", out.file("r2")},
                                    std::string(CIMBREL_TEST_DATA) + "/05_region_layout");
    unsetenv("CIMBREL_REGION_TEST");
    return result;
}

}  // namespace

// CIMBREL_REGION_TEST=pooled gives the pooled model's tables as earlier
// releases wrote them; any name but mean or pooled stops the run before
// anything is read or written.
TEST(region_test_choice, pooled_reproduces_earlier_tables_and_unknown_names_stop) {
    Temp_dir pooled;
    EXPECT_EQ(run_region_layout(pooled, "pooled").status, 0);
    EXPECT_EQ(read_text(pooled.file("r1.txt")),
              "CHR\tSTART\tEND\tNAME\tPVALUE\tFDR\tPROBE\tANNOTATION\n"
              "chr1\t100\t200\tover_a\t0.000289086\t0.000289086\ta1,a2,\tann_a2\n"
              "chr1\t300\t500\touter\t0.000167593\t0.000273382\ta4,a5,\tann_a5\n"
              "chr10\t999\t1081\tpair\t0.000136691\t0.000273382\tb1,b2,b3,\tann_b2\n"
              "chr2\t490\t710\twith_outside\t1.26709e-08\t5.06837e-08\tc1,c2,c3,\tann_c2\n");
    Temp_dir refused;
    const Run_result result = run_region_layout(refused, "Mean");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "Error: CIMBREL_REGION_TEST must be mean or pooled, not \"Mean\"\n");
    EXPECT_FALSE(file_exists(refused.file("probe.txt")));
}
