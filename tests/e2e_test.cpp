// End-to-end tests: every folder tests/data/<NN_intent>/ that holds a file
// "cmd" is a scenario. Its inputs (every other file outside expected/) are
// copied to a temporary folder, the program runs there with the arguments of
// "cmd" (one per line), and every file of expected/ must match the output
// byte for byte: result tables and tracks by name, "stdout" against the
// program's standard output with the time stamps masked, "status" against
// the exit status. A scenario is run with 1 and with 3 worker threads (the
// thread count is appended to the arguments; a later value wins); standard
// output is compared for the single-thread run only, since worker warnings
// of parallel runs come in no fixed order. Files the scenario does not name
// in expected/ must not be written unless listed in "may_write".
//
// CIMBREL_REDO=1 rewrites the expected files from the single-thread run and
// lists those that changed (review them as a diff before committing).
// CIMBREL_KEEP_TMP=1 keeps the temporary folders.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

const std::string data_root = CIMBREL_TEST_DATA;

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool is_dir(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<std::string> read_lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// Copies the scenario's inputs (sub-folders included, expected/ excluded),
// each compressed with gzip under its own name when gzip is set.
void copy_inputs(const std::string& from, const std::string& to, bool gzip = false) {
    for (const auto& name : list_dir(from)) {
        if (name == "expected" || name == "cmd" || name == "may_write") continue;
        std::string source = from + "/" + name, target = to + "/" + name;
        if (is_dir(source)) {
            mkdir(target.c_str(), 0755);
            copy_inputs(source, target, gzip);
        } else {
            const std::string text = read_text(source);
            write_text(target, gzip ? gzip_text(text) : text);
        }
    }
}

// The first differing line of two texts, for a readable failure message.
std::string first_difference(const std::string& expected, const std::string& actual) {
    std::istringstream a(expected), b(actual);
    std::string line_a, line_b;
    for (int line = 1;; ++line) {
        bool more_a = static_cast<bool>(std::getline(a, line_a));
        bool more_b = static_cast<bool>(std::getline(b, line_b));
        if (!more_a && !more_b) return "texts differ only in their final line end";
        if (!more_a || !more_b || line_a != line_b) {
            return "line " + std::to_string(line) + "\n  expected: " + (more_a ? line_a : "<end>") +
                   "\n  actual:   " + (more_b ? line_b : "<end>");
        }
    }
}

std::string sorted_lines(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

// Every regular file below dir, as paths relative to it.
void collect_files(const std::string& dir, const std::string& prefix, std::set<std::string>& out) {
    for (const auto& name : list_dir(dir)) {
        std::string path = dir + "/" + name;
        if (is_dir(path)) collect_files(path, prefix + name + "/", out);
        else out.insert(prefix + name);
    }
}

struct Scenario_run {
    Run_result result;
    std::set<std::string> written;  // files present after the run that were not inputs
};

Scenario_run run_scenario(const std::string& scenario, const Temp_dir& work, const std::string& threads,
                          bool gzip = false) {
    copy_inputs(scenario, work.path(), gzip);
    std::set<std::string> inputs;
    collect_files(work.path(), "", inputs);
    std::vector<std::string> args = read_lines(scenario + "/cmd");
    if (!threads.empty()) {
        args.push_back("-n");
        args.push_back(threads);
    }
    Scenario_run run;
    run.result = run_cimbrel(args, work.path() + "/" + (is_dir(work.path() + "/run") ? "run" : "."));
    std::set<std::string> after;
    collect_files(work.path(), "", after);
    for (const auto& f : after)
        if (!inputs.count(f)) run.written.insert(f);
    return run;
}

// Name of an output file relative to the work folder (scenarios with a run/
// folder write there).
std::string output_path(const Temp_dir& work, const std::string& name) {
    std::string in_run = work.path() + "/run/" + name;
    return is_dir(work.path() + "/run") ? in_run : work.path() + "/" + name;
}

// memory: a CIMBREL_MEMORY budget for the run ("" for none).
void check_scenario(const std::string& name, const std::string& threads, bool compare_stdout,
                    bool gzip = false, const std::string& memory = "") {
    std::string scenario = data_root + "/" + name;
    std::string expected_dir = scenario + "/expected";
    Temp_dir work;
    if (!memory.empty()) setenv("CIMBREL_MEMORY", memory.c_str(), 1);
    Scenario_run run = run_scenario(scenario, work, threads, gzip);
    unsetenv("CIMBREL_MEMORY");
    std::string out = mask_time_stamps(run.result.out);
    bool redo = getenv("CIMBREL_REDO") != nullptr && threads.empty() && !gzip && memory.empty();

    std::set<std::string> expected_files;
    collect_files(expected_dir, "", expected_files);
    if (redo) {
        for (const auto& f : run.written) {
            std::string base = is_dir(work.path() + "/run") && f.rfind("run/", 0) == 0 ? f.substr(4) : f;
            expected_files.insert(base);
        }
        expected_files.insert("stdout");
        expected_files.insert("status");
    }
    std::set<std::string> allowed;
    for (const auto& f : read_lines(scenario + "/may_write")) allowed.insert(f);

    for (const auto& file : expected_files) {
        std::string actual;
        bool present = true;
        if (file == "stdout") {
            if (!compare_stdout) continue;
            actual = out;
        } else if (file == "status") {
            actual = std::to_string(run.result.status) + "\n";
        } else {
            std::string path = output_path(work, file);
            present = file_exists(path);
            actual = present ? read_text(path) : "";
        }
        std::string expected_path = expected_dir + "/" + file;
        if (redo) {
            if (!present) continue;
            if (!file_exists(expected_path) || read_text(expected_path) != actual) {
                std::string command = "mkdir -p \"$(dirname '" + expected_path + "')\"";
                if (system(command.c_str()) != 0) ADD_FAILURE() << "cannot create " << expected_path;
                write_text(expected_path, actual);
                std::cerr << "rewrote " << name << "/expected/" << file << "\n";
            }
            continue;
        }
        EXPECT_TRUE(present) << name << ": " << file << " was not written";
        std::string expected = read_text(expected_path);
        // Out of core the data files are read one after another, and with
        // several threads side by side, so messages of parallel stages may
        // come in another order: the same lines are required. The
        // annotation, read beside the data files, still prints its messages
        // after theirs and before the next stage: that block is the same.
        if (file == "stdout" && (!memory.empty() || !threads.empty())) {
            auto annotation_block = [](const std::string& text) {
                const size_t from = text.find("Warnning: wrong format encountered when reading probe annotation");
                if (from == std::string::npos) return std::string();
                const size_t stage = text.find("[TIME]", from);
                return text.substr(from, stage == std::string::npos ? std::string::npos : stage - from);
            };
            EXPECT_EQ(annotation_block(expected), annotation_block(actual))
                << name << ": the annotation's messages are not the last before the next stage";
            expected = sorted_lines(expected);
            actual = sorted_lines(actual);
        }
        EXPECT_EQ(expected, actual) << name << (gzip ? " (gzipped inputs)" : "") << " (threads "
                                    << (threads.empty() ? "1" : threads) << "): " << file << " differs at "
                                    << first_difference(expected, actual);
    }
    EXPECT_TRUE(run.result.err.empty()) << name << ": the program wrote to standard error:\n"
                                        << run.result.err;
    for (const auto& f : run.written) {
        std::string base = is_dir(work.path() + "/run") && f.rfind("run/", 0) == 0 ? f.substr(4) : f;
        EXPECT_TRUE(expected_files.count(base) || allowed.count(base))
            << name << ": unexpected output file " << f;
    }
}

std::vector<std::string> scenarios() {
    std::vector<std::string> names;
    for (const auto& name : list_dir(data_root))
        if (name != "negative_control" && file_exists(data_root + "/" + name + "/cmd"))
            names.push_back(name);
    return names;
}

class scenario : public ::testing::TestWithParam<std::string> {};

TEST_P(scenario, single_thread_matches_expected_files_and_messages) { check_scenario(GetParam(), "", true); }

TEST_P(scenario, three_threads_match_the_same_files) {
    if (getenv("CIMBREL_REDO") != nullptr) GTEST_SKIP();
    check_scenario(GetParam(), "3", true);
}

// A memory budget of one byte: the values go to a spill file and are analysed
// one probe row at a time. The results and messages must not change.
TEST_P(scenario, out_of_core_runs_give_the_same_files_and_messages) {
    if (getenv("CIMBREL_REDO") != nullptr) GTEST_SKIP();
    check_scenario(GetParam(), "", true, false, "1");
    check_scenario(GetParam(), "3", false, false, "1");
}

// Every input compressed (configuration, data, annotation and region files):
// the same results and the same messages, byte for byte.
// (Scenarios about compressed input itself are left as they are.)
TEST_P(scenario, gzipped_inputs_give_the_same_files_and_messages) {
    if (getenv("CIMBREL_REDO") != nullptr || GetParam().find("gzip") != std::string::npos) GTEST_SKIP();
    check_scenario(GetParam(), "", true, true);
}

INSTANTIATE_TEST_SUITE_P(e2e, scenario, ::testing::ValuesIn(scenarios()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string id = "s" + info.param;
                             for (char& c : id)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return id;
                         });

// The harness itself must notice a difference: a scenario whose expected
// table is deliberately wrong has to fail.
TEST(harness, negative_control_detects_a_changed_table) {
    std::string scenario = data_root + "/negative_control";
    Temp_dir work;
    Scenario_run run = run_scenario(scenario, work, "");
    std::string expected = read_text(scenario + "/expected_wrong/probe.txt");
    std::string actual = read_text(output_path(work, "probe.txt"));
    ASSERT_FALSE(actual.empty());
    EXPECT_NE(expected, actual);
    EXPECT_NE(first_difference(expected, actual).find("line"), std::string::npos);
}

}  // namespace

namespace {

// A damaged compressed input of any kind stops the run before any result is
// written: one message naming the file, exit status 1. Each input of a full
// scenario is in turn replaced by a truncated gzip file.
TEST(compressed_input, a_truncated_file_of_any_kind_stops_the_run_before_any_output) {
    const std::string scenario = data_root + "/02_three_groups_covariables";
    for (const std::string damaged : {"description.xls", "P9.txt", "P4.txt", "probe.ann", "cgi.txt"}) {
        Temp_dir work;
        copy_inputs(scenario, work.path());
        const std::string packed = gzip_text(read_text(work.file(damaged)));
        write_text(work.file(damaged), packed.substr(0, packed.size() - 9));
        std::set<std::string> inputs;
        collect_files(work.path(), "", inputs);
        const Run_result run = run_cimbrel(read_lines(scenario + "/cmd"), work.path());
        EXPECT_EQ(1, run.status) << damaged;
        EXPECT_NE(std::string::npos, run.out.find("Error: cannot read file " + damaged + ": truncated gzip data"))
            << damaged << ":\n" << run.out;
        std::set<std::string> after;
        collect_files(work.path(), "", after);
        EXPECT_EQ(inputs, after) << damaged << ": a result file was written";
    }
}

}  // namespace
