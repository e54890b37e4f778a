// Results do not depend on the thread count: random small studies (a few
// samples in 2-3 groups or on a continuous scale, a covariable, a few
// hundred probes in clusters that form arbitrary regions, CpG islands over
// some of them, failed detections scattered and for whole groups, SNP
// probes, betas of 0 and 1, unreadable values) are run with -n 1 and -n 7,
// and every file written must be byte-identical between the two runs. The
// progress and warning lines must agree too, up to their order (workers
// print in no fixed order) and time stamps. The seed is printed and taken
// from CIMBREL_TEST_SEED to repeat a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

namespace fs = std::filesystem;

struct Probe {
    std::string id;
    std::string chr;
    uint32_t position;
};

struct Study {
    std::vector<Probe> probes;
    std::vector<std::string> groups;        // one per sample
    std::vector<double> ages;               // the covariable, one per sample
    bool continuous = false;
    std::vector<std::string> arguments;
};

// Probes in clusters of 1-6, 20-90 bp apart within a cluster, clusters far
// apart, on three chromosomes; about one in twenty is a SNP probe.
std::vector<Probe> make_probes(std::mt19937& random, size_t count) {
    std::vector<Probe> probes;
    uint32_t position = 1000;
    size_t cluster_left = 0;
    for (size_t i = 0; i < count; ++i) {
        if (cluster_left == 0) {
            cluster_left = 1 + random() % 6;
            position += 5000 + random() % 20000;
        } else {
            position += 20 + random() % 70;
        }
        --cluster_left;
        char id[32];
        snprintf(id, sizeof(id), "%s%08zu", random() % 20 == 0 ? "rs" : "cg", i);
        probes.push_back({id, "chr" + std::to_string(1 + i * 3 / count), position});
    }
    return probes;
}

Study make_study(std::mt19937& random) {
    Study study;
    study.probes = make_probes(random, 200 + random() % 200);
    study.continuous = random() % 3 == 0;
    const size_t groups = 2 + random() % 2;
    for (size_t g = 0; g < groups; ++g) {
        const size_t samples = 2 + random() % 3;
        for (size_t s = 0; s < samples; ++s) {
            study.groups.push_back("group" + std::to_string(g));
            study.ages.push_back(30 + random() % 40);
        }
    }
    study.arguments = {"-c", "description.xls", "--probe", "probe.ann", "--r1", "cgi.txt",
                       "--covariable", "1", "-p", "1.01", "-q", "1.01"};
    if (study.continuous) study.arguments.push_back("--continuous");
    if (random() % 2 == 0) study.arguments.push_back("--nosnp");
    if (random() % 4 == 0) study.arguments.push_back("--normalize-off");
    return study;
}

// One data line: mostly usable betas with a group effect on some probes;
// failed detections, betas of 0 or 1 and unreadable values here and there;
// every value of one group failed on every 25th probe.
std::string data_line(std::mt19937& random, const Probe& probe, size_t row, size_t group) {
    std::uniform_real_distribution<double> noise(-0.08, 0.08);
    const double effect = row % 7 == 0 ? 0.15 * static_cast<double>(group) : 0.0;
    double beta = std::clamp(0.2 + 0.6 * static_cast<double>(row % 11) / 10.0 + effect + noise(random), 0.01, 0.99);
    double detection = random() % 100 < 5 ? 0.2 : 0.001;
    if (row % 25 == 3 && group == 1) detection = 0.5;
    const unsigned odd = random() % 400;
    char line[96];
    if (odd == 0) return probe.id + "\tNA\t0.01\n";
    if (odd == 1) beta = 0.0;
    if (odd == 2) beta = 1.0;
    snprintf(line, sizeof(line), "%s\t%.6f\t%.4f\n", probe.id.c_str(), beta, detection);
    return line;
}

// Islands over about a third of the clusters' first probes, some ending
// inside a cluster.
std::string island_file(std::mt19937& random, const std::vector<Probe>& probes) {
    std::string text = "#chrom\tstart\tend\tname\n";
    for (size_t i = 0; i < probes.size(); ++i) {
        if (random() % 9 != 0) continue;
        const uint32_t start = probes[i].position - random() % 50;
        text += probes[i].chr + "\t" + std::to_string(start) + "\t" +
                std::to_string(start + 50 + random() % 300) + "\tCpG:_" + std::to_string(i) + "\n";
    }
    return text;
}

void write_study(std::mt19937& random, const Study& study, const std::string& dir) {
    std::string annotation, configuration = "# file\tsample\tgroup\tage\n";
    for (const Probe& probe : study.probes)
        annotation += probe.id + "\t" + probe.chr + "\t" + std::to_string(probe.position) + "\tBody\n";
    write_text(dir + "/probe.ann", annotation);
    write_text(dir + "/cgi.txt", island_file(random, study.probes));
    for (size_t s = 0; s < study.groups.size(); ++s) {
        const size_t group = static_cast<size_t>(study.groups[s].back() - '0');
        std::string data;
        for (size_t row = 0; row < study.probes.size(); ++row) data += data_line(random, study.probes[row], row, group);
        const std::string name = "S" + std::to_string(s + 1);
        write_text(dir + "/" + name + ".txt", data);
        const std::string third = study.continuous ? std::to_string(10 + group * 5 + s % 3) : study.groups[s];
        configuration += name + ".txt\t" + name + "\t" + third + "\t" + std::to_string(study.ages[s]) + "\n";
    }
    write_text(dir + "/description.xls", configuration);
}

// Files of a folder that are not among inputs, by name.
std::map<std::string, std::string> written_files(const std::string& dir, const std::set<std::string>& inputs) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && inputs.count(name) == 0) files[name] = read_text(entry.path().string());
    }
    return files;
}

std::set<std::string> file_names(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

std::vector<std::string> sorted_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(mask_time_stamps(text));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace

TEST(determinism, outputs_are_identical_for_one_and_seven_threads) {
    const unsigned seed = test_seed();
    std::mt19937 random(seed);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("study " + std::to_string(round) + " of seed " + std::to_string(seed));
        const Study study = make_study(random);
        Temp_dir one, seven;
        write_study(random, study, one.path());
        fs::copy(one.path(), seven.path(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        const std::set<std::string> inputs = file_names(one.path());
        std::vector<std::string> args = study.arguments;
        args.insert(args.end(), {"-n", "1"});
        const Run_result single = run_cimbrel(args, one.path());
        args.back() = "7";
        const Run_result parallel = run_cimbrel(args, seven.path());
        ASSERT_EQ(single.status, 0) << single.out;
        ASSERT_EQ(parallel.status, 0) << parallel.out;
        const auto single_files = written_files(one.path(), inputs);
        const auto parallel_files = written_files(seven.path(), inputs);
        for (const char* table : {"probe.txt", "r1.txt", "r2.txt"})
            EXPECT_EQ(single_files.count(table), 1u) << table << " not written";
        EXPECT_GT(single_files.size(), 5u) << "tracks missing";
        for (const auto& [name, text] : single_files) {
            auto other = parallel_files.find(name);
            ASSERT_NE(other, parallel_files.end()) << name << " written with -n 1 only";
            EXPECT_TRUE(text == other->second) << name << " differs between -n 1 and -n 7";
        }
        EXPECT_EQ(single_files.size(), parallel_files.size()) << "-n 7 wrote other files";
        EXPECT_EQ(sorted_lines(single.out), sorted_lines(parallel.out));
    }
}
