// Study reader on small studies written to a temporary folder. In the
// configuration texts "@/" stands for that folder, so data files are named by
// absolute path whatever the working directory.
#include "read_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <sstream>
#include <sys/stat.h>

#include "spill_file.h"
#include "test_util.h"

namespace {

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

struct Study {
    Temp_dir dir;
    Parameter options;
    Data_description names;
    Data_matrix* matrix = nullptr;
    std::string out;  // standard output after the progress line

    ~Study() { data_matrix_free(matrix); }
    std::string path(const std::string& name) const { return dir.file(name); }
    std::string at_dir(const std::string& text) const { return replace_all(text, "@/", dir.path() + "/"); }
    void file(const std::string& name, const std::string& text) { write_text(path(name), text); }
    void configure(std::string text) {
        file("config.txt", at_dir(text));
        options.configure_file = path("config.txt");
    }
    // Runs the reader; true when it returned a matrix.
    bool read(uint32_t threads = 1) {
        std::string all = capture_stdout([&] {
            matrix = read_data(options.configure_file, names, options.covariable_num, threads, options);
        });
        // The progress line: a time stamp in brackets, then the title.
        size_t end = std::min(all.find('\n'), all.size());
        std::string title = "]     Read data";
        EXPECT_TRUE(end > title.size() && all[0] == '[' && all.compare(end - title.size(), title.size(), title) == 0)
            << all;
        out = all.substr(std::min(end + 1, all.size()));
        return matrix != nullptr;
    }
    double logit(size_t r, size_t c) const { return gsl_matrix_get(matrix->logit, r, c); }
    // 1 for a usable value, -1 for an excluded one (stored as NaN).
    int valid(size_t r, size_t c) const { return is_usable(logit(r, c)) ? 1 : -1; }
};

const char* two_probes = "cg1\t0.5\t0.01\ncg2\t0.2\t0.01\n";

// Identifier -> index of every identifier of a registry.
std::map<std::string, uint32_t> registry(const ID_index& index) {
    std::map<std::string, uint32_t> all;
    for (uint32_t i = 0; i < index.index_end(); ++i) {
        uint32_t found = 0;
        const std::string name(index.name(i));
        if (!name.empty() && index.find(name, found)) all[name] = found;
    }
    return all;
}

}  // namespace

TEST(read_data, worked_example_registers_samples_groups_and_probes) {
    Study study;
    study.configure("# file\tname\tgroup\n@/s1.txt\tS1\tcase\n@/s2.txt\tS2\tcontrol\n@/s3.txt\tS3\tcase\n");
    for (const char* name : {"s1.txt", "s2.txt", "s3.txt"}) study.file(name, two_probes);
    ASSERT_TRUE(study.read());
    EXPECT_EQ("", study.out);
    const Data_description& names = study.names;
    EXPECT_EQ((std::map<std::string, uint32_t>{{"S1", 0}, {"S2", 1}, {"S3", 2}}), registry(names.sample_index));
    EXPECT_EQ((std::map<std::string, uint32_t>{{"case", 0}, {"control", 1}}), registry(names.group_index));
    EXPECT_EQ((std::map<std::string, std::string>{{"S1", "case"}, {"S2", "control"}, {"S3", "case"}}),
              names.sample_group.sample_to_group);
    EXPECT_EQ((std::map<std::string, uint32_t>{{"cg1", 0}, {"cg2", 1}}), registry(names.probe_index));
    ASSERT_EQ(2u, study.matrix->logit->size1);
    ASSERT_EQ(3u, study.matrix->logit->size2);
    EXPECT_DOUBLE_EQ(log(0.25), study.logit(1, 2));
    EXPECT_EQ(1, study.valid(1, 2));
    EXPECT_EQ(nullptr, study.matrix->covariable);
    EXPECT_EQ(nullptr, study.matrix->continuous);
}

// Groups numbered by first appearance (B before A); CRLF line ends, a comment
// and a line of blanks only between samples.
TEST(read_data, covariables_follow_the_group_column) {
    Study study;
    study.options.covariable_num = 2;
    study.configure("@/s1.txt S1 B 45 1\r\n#x\n \t\r\n@/s2.txt S2 A 50 0\r\n@/s3.txt S3 B 61 1.5\r\n");
    for (const char* name : {"s1.txt", "s2.txt", "s3.txt"}) study.file(name, two_probes);
    ASSERT_TRUE(study.read());
    EXPECT_EQ("", study.out);
    EXPECT_EQ((std::map<std::string, uint32_t>{{"A", 1}, {"B", 0}}), registry(study.names.group_index));
    ASSERT_EQ(3u, study.matrix->covariable->size1);
    EXPECT_EQ(45.0, gsl_matrix_get(study.matrix->covariable, 0, 0));
    EXPECT_EQ(1.0, gsl_matrix_get(study.matrix->covariable, 0, 1));
    EXPECT_EQ(1.5, gsl_matrix_get(study.matrix->covariable, 2, 1));
}

TEST(read_data, continuous_mode_puts_every_sample_in_group_all) {
    Study study;
    study.options.continuous_on = true;
    study.configure("@/s1.txt S1 0.7\n@/s2.txt S2 -2e-1\n");
    for (const char* name : {"s1.txt", "s2.txt"}) study.file(name, two_probes);
    ASSERT_TRUE(study.read());
    EXPECT_EQ((std::map<std::string, uint32_t>{{"all", 0}}), registry(study.names.group_index));
    EXPECT_EQ("all", study.names.sample_group.get_group("S2"));
    EXPECT_EQ(0.7, gsl_matrix_get(study.matrix->continuous, 0, 0));
    EXPECT_EQ(-0.2, gsl_matrix_get(study.matrix->continuous, 1, 0));
}

// Row by row: detection limit inclusive, just above it, a two-column line, a
// beta above 1, betas of exactly 0 and 1, a "#" line (a probe like any other),
// a line of blanks, and an out-of-range beta whose detection already fails.
TEST(read_data, each_data_line_becomes_a_finite_value_or_an_exclusion) {
    Study study;
    study.configure("@/s1.txt S1 case\n");
    study.file("s1.txt", "cg1 0.5 0.05\ncg2 0.8 0.0500001\ncg3 0.7\ncg4 1.2 0.01\ncg5 0 0.01\n"
                         "cg6 1 0.001\n#c 0.25 0.01\n  \ncg9 -0.1 0.9\n");
    ASSERT_TRUE(study.read());
    const std::string beta = "Error: wrong beta value encountered when reading data\nWrong sentence: ";
    const std::string format = "Error: wrong format when reading data file\nError sentence: ";
    EXPECT_EQ("Error: NULL probe id\n" + format + "cg3 0.7\n\n" + beta + "cg3 0.7\n\n" + beta + "cg4 1.2 0.01\n\n" +
                  format + "  \n\n" + beta + "  \n\n" + "Warning: 2 beta values of 0 or 1 excluded in data file " +
                  study.path("s1.txt") + "\n",
              study.out);
    const int expected_valid[] = {1, -1, -1, -1, -1, -1, 1, -1, -1};
    for (size_t r = 0; r < 9; ++r) {
        EXPECT_EQ(expected_valid[r], study.valid(r, 0)) << "row " << r;
        // No infinity reaches the analysis: a value is finite or excluded.
        EXPECT_TRUE(std::isfinite(study.logit(r, 0)) || std::isnan(study.logit(r, 0))) << "row " << r;
    }
    EXPECT_DOUBLE_EQ(log(1.0 / 3.0), study.logit(6, 0));
}

// Seven rows, six identifiers: RS1 repeats, so the last row lies beyond the
// identifier count and must still be filtered.
TEST(read_data, nosnp_excludes_rows_whose_identifier_starts_with_rs) {
    Study study;
    study.options.nosnp = true;
    study.configure("@/s1.txt S1 case\n");
    study.file("s1.txt", "rs 0.5 0\nrs123 0.5 0\nRS1 0.5 0\nr 0.5 0\ncrs5 0.5 0\nRS1 0.5 0\nrs7 0.2 0\n");
    ASSERT_TRUE(study.read());
    EXPECT_EQ("Warning: duplicated probe id RS1, overwrite old one\n", study.out);
    const int expected_valid[] = {-1, -1, 1, 1, 1, 1, -1};
    for (size_t r = 0; r < 7; ++r) EXPECT_EQ(expected_valid[r], study.valid(r, 0)) << "row " << r;
}

// With a memory budget too small for the matrix, the values go to the spill
// file by blocks of rows; loading every block gives back the values read
// into memory, and each sample's quantiles are found while it is read.
TEST(read_data, spilled_blocks_hold_the_values_read_into_memory) {
    std::mt19937 random(test_seed());
    std::string config;
    std::map<std::string, std::string> files;
    for (int c = 0; c < 7; ++c) {
        std::string data;
        for (int r = 0; r < 53; ++r) {
            const double beta = (random() % 999 + 1) / 1000.0, detection = random() % 10 == 0 ? 0.2 : 0.01;
            data += "cg" + std::to_string(r) + " " + std::to_string(beta) + " " + std::to_string(detection) + "\n";
        }
        files["s" + std::to_string(c) + ".txt"] = data;
        config += "@/s" + std::to_string(c) + ".txt S" + std::to_string(c) + " g" + std::to_string(c % 2) + "\n";
    }
    Study in_memory;
    for (const auto& [name, data] : files) in_memory.file(name, data);
    in_memory.configure(config);
    ASSERT_TRUE(in_memory.read(2));
    ASSERT_NE(nullptr, in_memory.matrix->logit);
    for (const char* budget : {"1", "40K"}) {
        Study spilled;
        for (const auto& [name, data] : files) spilled.file(name, data);
        spilled.configure(config);
        setenv("CIMBREL_MEMORY", budget, 1);
        const bool read = spilled.read(3);
        unsetenv("CIMBREL_MEMORY");
        ASSERT_TRUE(read);
        ASSERT_EQ(nullptr, spilled.matrix->logit);
        const Matrix_spill& spill = *spilled.matrix->spill;
        EXPECT_EQ(in_memory.out, spilled.out);
        std::vector<double> scratch;
        for (uint32_t b = 0; b < spill_block_count(spill); ++b) {
            gsl_matrix* block = gsl_matrix_alloc(spill_block_size(spill, b), 7);
            std::string error;
            ASSERT_TRUE(spill_read_block(spill, b, block, scratch, error)) << error;
            for (size_t r = 0; r < block->size1; ++r)
                for (size_t c = 0; c < 7; ++c) {
                    const double expected = in_memory.logit(spill_block_first(spill, b) + r, c);
                    const double got = gsl_matrix_get(block, r, c);
                    EXPECT_TRUE(got == expected || (std::isnan(got) && std::isnan(expected))) << budget << " " << r;
                }
            gsl_matrix_free(block);
        }
        EXPECT_EQ(53u, spilled.matrix->probe_num);
        ASSERT_NE(nullptr, spilled.matrix->quantiles);
        for (size_t k = 0; k < 15; ++k)
            for (size_t c = 0; c < 7; ++c)
                EXPECT_EQ(gsl_matrix_get(in_memory.matrix->quantiles, k, c), gsl_matrix_get(spilled.matrix->quantiles, k, c));
    }
}

TEST(read_data, a_malformed_memory_budget_stops_the_run) {
    Study study;
    study.configure("@/s1.txt S1 case\n");
    study.file("s1.txt", two_probes);
    setenv("CIMBREL_MEMORY", "12 GB", 1);
    const bool read = study.read();
    unsetenv("CIMBREL_MEMORY");
    EXPECT_FALSE(read);
    EXPECT_EQ("Error: CIMBREL_MEMORY must be a number of bytes with an optional K, M, G or T suffix (for example "
              "8G), not \"12 GB\"\n",
              study.out);
}

// One worker reads its ten files in groups of four side by side (4 + 4 + 2);
// four workers take one group each (samples 0-3, 4-7, 8-9, none).
TEST(read_data, workers_fill_the_columns_of_ten_samples) {
    for (uint32_t threads : {1u, 4u}) {
        Study study;
        std::string config;
        for (int c = 0; c < 10; ++c) {
            std::string name = "s" + std::to_string(c) + ".txt";
            config += "@/" + name + " S" + std::to_string(c) + " g" + std::to_string(c % 3) + "\n";
            std::string data;
            for (int r = 0; r < 5; ++r)
                data += "cg" + std::to_string(r) + " " + std::to_string((c + 1) / 20.0 + r / 100.0) + " 0.01\n";
            study.file(name, data);
        }
        study.configure(config);
        ASSERT_TRUE(study.read(threads));
        for (int c = 0; c < 10; ++c)
            for (int r = 0; r < 5; ++r) {
                double beta = std::stod(std::to_string((c + 1) / 20.0 + r / 100.0));
                EXPECT_DOUBLE_EQ(log(beta / (1 - beta)), study.logit(r, c)) << r << "," << c << " n " << threads;
            }
    }
}

// What one data line holds for the analysis, read with a string stream: the
// logit of a usable beta, NaN for anything excluded.
double reference_value(const std::string& line) {
    std::istringstream stream(line);
    std::string id;
    double beta = 0.0, detection = 0.0;
    if (!(stream >> id >> beta >> detection) || detection > 0.05 || !(beta > 0.0 && beta < 1.0)) return NAN;
    return log(beta / (1.0 - beta));
}

// A beta as array software and hand-made files write them: "0." or "1."
// and 0 to 10 decimals (up to 8 take the shortcut, 9 and more do not), or
// an odd form.
std::string random_beta(std::mt19937& random) {
    const char* odd[] = {"0.5", "1.5e-01", "9.9E-1", "1e-3", "-0.2", "x", "0", "1", "0.", "00.5", ".25", "0.5x", "+0.5", "0.25:"};
    if (random() % 4 == 0) return odd[random() % 14];
    std::string beta = random() % 10 == 0 ? "1." : "0.";
    for (unsigned d = 0, n = random() % 11; d < n; ++d) beta += static_cast<char>('0' + random() % 10);
    return beta;
}

// Lines in every form data files give their numbers, the detection p-values
// crowding the limit: each stored value is the one the exact reading gives.
TEST(read_data, values_of_every_number_form_match_the_exact_reading) {
    std::mt19937 random(2026);
    const char* details[] = {"0", "0.05", "0.050", "0.0500000000000000001", "0.0500001", "0.049", "5e-2", "5.0E-02",
                             "5.1e-2", "4.9e-02", "1.49560e-11", "3.678E-38", "2.2e-308", "1e-400", "1e-003",
                             "0x1p-3", "1e", "--1", "inf", "nan", "1e-", ".", "-0.04", "+1e-5", "7e-5x"};
    std::vector<std::string> lines;
    std::string data;
    for (int r = 0; r < 20000; ++r) {
        std::string line = "cg" + std::to_string(r) + (r % 2 ? "\t" : " ") + random_beta(random) + "\t" +
                           details[random() % 25] + (r % 3 ? "" : "\r");
        lines.push_back(line);
        data += line + "\n";
    }
    Study study;
    study.configure("@/s1.txt S1 case\n");
    study.file("s1.txt", data);
    ASSERT_TRUE(study.read());
    for (size_t r = 0; r < lines.size(); ++r) {
        const double expected = reference_value(lines[r]), got = study.logit(r, 0);
        ASSERT_TRUE(std::isnan(expected) ? std::isnan(got) : memcmp(&expected, &got, sizeof got) == 0) << lines[r];
    }
}

TEST(read_data, unreadable_inputs_stop_the_run) {
    struct Case {
        const char* config;  // "" leaves the configuration file unwritten
        const char* expected;
    } cases[] = {
        {"", "Error: cannot open file @/config.txt.\n"},
        {"@/s1.txt S1 case\n@/missing.txt S2 case\n", "Error: cannot open file @/missing.txt\n"},
        {"@/folder S1 case\n@/s1.txt S2 case\n", "Error: cannot open file @/folder\n"},
        {"@/s1.txt S1 case\n@/empty.txt S2 case\n", "Error: reference sample file @/empty.txt has no probe line\n"},
        {"# only\n\n", "Error: configuration file @/config.txt has no sample line\n"},
    };
    for (const Case& c : cases) {
        Study study;
        study.file("s1.txt", two_probes);
        study.file("empty.txt", "");
        mkdir(study.path("folder").c_str(), 0700);
        study.configure(c.config);
        if (*c.config == '\0') remove(study.path("config.txt").c_str());
        EXPECT_FALSE(study.read()) << c.expected;
        EXPECT_EQ(study.at_dir(c.expected), study.out);
    }
    Study folder;
    folder.options.configure_file = folder.dir.path();
    EXPECT_FALSE(folder.read());
    EXPECT_EQ("Error: cannot open file " + folder.dir.path() + ".\n", folder.out);
}

TEST(read_data, misaligned_data_files_stop_the_run) {
    struct Case {
        const char* data;
        const char* expected;
    } cases[] = {
        {"cg1 0.5 0.01\n", "Error: data file @/s1.txt has 1 lines, but the reference sample file has 2\n"},
        {"cg1 0.5 0.01\ncg2 0.5 0.01\ncg3 0.5 0.01\n",
         "Error: data file @/s1.txt has 3 lines, but the reference sample file has 2\n"},
        {"cg1 0.5 0.01\ncg7 0.5 0.01\n",
         "Error: line 2 of data file @/s1.txt holds probe \"cg7\", but the reference sample file holds \"cg2\" "
         "there\n"},
    };
    for (const Case& c : cases) {
        Study study;
        study.configure("@/s1.txt S1 case\n@/s2.txt S2 case\n");
        study.file("s1.txt", c.data);
        study.file("s2.txt", two_probes);
        EXPECT_FALSE(study.read()) << c.expected;
        EXPECT_EQ(study.at_dir(c.expected), study.out);
    }
}

// Every sample line is checked and reported before the run stops, and no data
// file is opened (none exists here, so an attempt would print its name).
TEST(read_data, bad_configuration_lines_stop_the_run_before_data_is_read) {
    struct Case {
        bool continuous;
        uint32_t covariables;
        const char* config;
        const char* expected;
    } cases[] = {
        {false, 0, "@/a S1\n@/b S2 case\n@/c\n", "F@/a S1\n\nF@/c\n\n"},
        {true, 0, "@/a S1 x\n@/b S2 0.5\n", "F@/a S1 x\n\n"},
        {false, 2, "@/a S1 case 1 2\n@/b S2 case 1\n@/c S3 case 1 x\n", "F@/b S2 case 1\n\nF@/c S3 case 1 x\n\n"},
        {false, 4294967295u, "@/a S1 case 1 2\n", "F@/a S1 case 1 2\n\n"},
        {false, 0, "@/a S1 case\n@/b S1 control\n",
         "Error: duplicate sample name S1\nWarning: duplicated probe id S1, overwrite old one\n"},
    };
    for (const Case& c : cases) {
        Study study;
        study.options.continuous_on = c.continuous;
        study.options.covariable_num = c.covariables;
        study.configure(c.config);
        std::string format = "Error: wrong format when reading configuration file" + study.path("config.txt") +
                             "\nWrong sentence: ";
        EXPECT_FALSE(study.read()) << c.config;
        EXPECT_EQ(study.at_dir(replace_all(c.expected, "F", format)), study.out);
    }
}

// Whole-line reads: neither a long configuration line nor a long data line is
// split into a second line.
TEST(read_data, lines_longer_than_65534_characters_are_read_whole) {
    Study study;
    std::string tail(70000, 'x');
    study.configure("@/s1.txt S1 case " + tail + "\n");
    study.file("s1.txt", "cg1 0.5 0.01 " + tail + "\ncg2 0.5 0.01\n");
    ASSERT_TRUE(study.read());
    EXPECT_EQ("", study.out);
    EXPECT_EQ(2u, study.matrix->logit->size1);
}

// Many workers report bad lines at once; each message keeps its lines together.
TEST(read_data, worker_messages_never_interleave) {
    Study study;
    std::string config, data;
    for (int r = 0; r < 1000; ++r) data += "p" + std::to_string(r) + "\n";
    for (int c = 0; c < 8; ++c) {
        study.file("s" + std::to_string(c), data);
        config += "@/s" + std::to_string(c) + " S" + std::to_string(c) + " case\n";
    }
    study.configure(config);
    ASSERT_TRUE(study.read(8));
    const std::string format = "Error: wrong format when reading data file\nError sentence: ";
    const std::string beta = "Error: wrong beta value encountered when reading data\nWrong sentence: ";
    size_t blocks = 0;
    for (size_t at = 0; at < study.out.size(); ++blocks) {
        ASSERT_EQ(0, study.out.compare(at, format.size(), format)) << "at " << at;
        size_t end = study.out.find("\n\n", at);
        std::string line = study.out.substr(at + format.size(), end + 2 - at - format.size());
        at = end + 2;
        ASSERT_EQ(0, study.out.compare(at, beta.size() + line.size(), beta + line)) << "at " << at;
        at += beta.size() + line.size();
    }
    EXPECT_EQ(8u * 1000u, blocks);
    EXPECT_EQ(8u * 1000u * 6u, static_cast<size_t>(std::count(study.out.begin(), study.out.end(), '\n')));
}
