// cimbrel-import as a user runs it: help and usage errors, a broken input,
// and the bundled example (examples/import, real layouts) imported end to
// end: cimbrel's results on the imported study must equal, byte for byte,
// its results on the same study written by hand (examples/demo's files
// less the excluded probes, with the configuration and region file of
// tests/data/import_example).
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <fstream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

const std::string example = std::string(CIMBREL_SOURCE_DIR) + "/examples/import";
const std::string demo = std::string(CIMBREL_SOURCE_DIR) + "/examples/demo";

Run_result import(const std::vector<std::string>& args, const std::string& dir = ".") {
    return run_program(CIMBREL_IMPORT_BINARY, args, dir);
}

TEST(import_cli, help_on_every_subcommand) {
    Run_result all = import({"--help"});
    EXPECT_EQ(all.status, 0);
    for (const char* command : {"matrix", "idat", "manifest", "islands"}) {
        EXPECT_NE(all.out.find(command), std::string::npos);
        Run_result help = import({command, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.find(std::string("Usage: cimbrel-import ") + command), 0u) << help.out;
        EXPECT_EQ(help.err, "");
    }
}

TEST(import_cli, usage_errors_exit_1) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{}, "Usage: cimbrel-import COMMAND"},
        {{"convert"}, "cimbrel-import: unknown command \"convert\""},
        {{"matrix", "b.csv", "--out", "d"}, "cimbrel-import matrix: option --samples is required"},
        {{"matrix", "b.csv", "--samples", "s.csv", "--out", "d", "--colour", "x"}, "cimbrel-import matrix: unknown option --colour"},
        {{"matrix", "b.csv", "--samples", "s.csv", "--out", "d", "--delimiter", "semicolon"}, "--delimiter must be auto, tab or comma"},
        {{"matrix", "b.csv", "--samples", "s.csv", "--out", "d", "--group-column", "g", "--continuous-column", "c"},
         "cannot be combined"},
        {{"idat", "s.csv", "--out", "d"}, "cimbrel-import idat: option --manifest is required"},
        {{"idat", "s.csv", "--manifest", "m", "--out", "d", "--background", "rma"}, "--background must be noob or none, not \"rma\""},
        {{"idat", "s.csv", "--manifest", "m", "--out", "d", "-n", "0"}, "--threads must be a whole number of 1 or more"},
        {{"idat", "s.csv", "--manifest", "m", "--out", "d", "--min-beads", "-1"}, "--min-beads must be a whole number"},
        {{"manifest", "--out", "x"}, "cimbrel-import manifest: no input file given"},
        {{"islands", "a.txt", "--out"}, "cimbrel-import islands: option --out needs a value"},
        {{"islands", "a.txt", "--out", "r.txt", "--layout", "gff"}, "--layout must be ucsc or bed, not \"gff\""},
    };
    for (const Case& c : cases) {
        Run_result run = import(c.args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
}

TEST(import_cli, truncated_gzip_sheet_stops_with_its_name) {
    Temp_dir dir;
    std::string gz = gzip_text("Sample_Name,Sample_Group\nS01,control\nS02,case\n");
    write_text(dir.file("sheet.csv.gz"), gz.substr(0, gz.size() - 6));
    Run_result run = import({"matrix", example + "/matrix_processed.txt.gz", "--samples", "sheet.csv.gz", "--out", "study"},
                            dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.find("cimbrel-import matrix: sheet.csv.gz: "), 0u) << run.err;
    EXPECT_FALSE(file_exists(dir.file("study")));
}

std::set<std::string> excluded_probes() {
    std::set<std::string> ids;
    std::istringstream list(read_text(example + "/exclude.txt"));
    for (std::string line; std::getline(list, line);)
        if (!line.empty() && line[0] != '#') ids.insert(line);
    return ids;
}

// examples/demo's study less the excluded probes, with the hand-written configuration and islands.
void write_by_hand(const std::string& root) {
    for (const char* folder : {"", "/etc", "/data", "/data/samples", "/run"}) mkdir((root + folder).c_str(), 0755);
    std::set<std::string> excluded = excluded_probes();
    for (int s = 1; s <= 12; ++s) {
        std::string name = std::string(s < 10 ? "S0" : "S") + std::to_string(s) + ".txt";
        std::istringstream in(read_text(demo + "/data/samples/" + name));
        std::string kept;
        for (std::string line; std::getline(in, line);)
            if (excluded.count(line.substr(0, line.find('\t'))) == 0) kept += line + "\n";
        write_text(root + "/data/samples/" + name, kept);
    }
    const std::string hand = std::string(CIMBREL_TEST_DATA) + "/import_example/";
    write_text(root + "/etc/description.xls", read_text(hand + "description.xls"));
    write_text(root + "/data/cpgIslandExt.txt", read_text(hand + "cpgIslandExt.txt"));
    write_text(root + "/data/probe.ann", read_text(demo + "/data/probe.ann"));
}

TEST(import_cli, bundled_example_gives_the_results_of_the_study_written_by_hand) {
    Temp_dir dir;
    Run_result matrix = import({"matrix", example + "/matrix_processed.txt.gz", "--samples", example + "/samplesheet.csv",
                                "--covariables", "Age,Sex", "--exclude", example + "/exclude.txt", "--out", "study"},
                               dir.path());
    ASSERT_EQ(matrix.status, 0) << matrix.err;
    EXPECT_EQ(matrix.out, "");
    EXPECT_NE(matrix.err.find("run: cd study/run && cimbrel --covariable 2\n"), std::string::npos) << matrix.err;
    Run_result manifest = import({"manifest", example + "/HumanMethylation450_manifest.csv.gz", "--out", "study/data/probe.ann"},
                                 dir.path());
    Run_result islands = import({"islands", example + "/cpgIslandExt.txt.gz", "--out", "study/data/cpgIslandExt.txt"},
                                dir.path());
    ASSERT_EQ(manifest.status + islands.status, 0) << manifest.err << islands.err;
    write_by_hand(dir.file("hand"));
    Run_result imported = run_cimbrel({"--covariable", "2", "-n", "2"}, dir.file("study/run"));
    Run_result by_hand = run_cimbrel({"--covariable", "2", "-n", "2"}, dir.file("hand/run"));
    ASSERT_EQ(imported.status, 0) << imported.out;
    ASSERT_EQ(by_hand.status, 0) << by_hand.out;
    for (const char* table : {"probe", "r1", "r2"}) {
        std::string name = std::string(table) + ".txt";
        EXPECT_GT(read_text(dir.file("hand/run/" + name)).size(), 100u) << name;
        EXPECT_EQ(read_text(dir.file("study/run/" + name)), read_text(dir.file("hand/run/" + name))) << name;
        for (const char* group : {"_control", "_case"}) {
            std::string track = std::string(table) + group + ".BedGraph";
            EXPECT_EQ(read_text(dir.file("study/run/" + track)), read_text(dir.file("hand/run/" + track))) << track;
        }
    }
}

bool has_temporary_file(const std::string& folder) {
    bool found = false;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            found = found || (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0);
        }
        closedir(dir);
    }
    return found;
}

// An import stopped by SIGINT or SIGTERM while it writes leaves nothing
// behind: the matrix comes through a FIFO, so the signal is sent while the
// program waits for the rest of it, its temporary files written.
TEST(import_cli, stopped_import_leaves_no_temporary_file) {
    signal(SIGPIPE, SIG_IGN);  // the program may be gone before the writer is done
    for (int stop : {SIGINT, SIGTERM}) {
        Temp_dir dir;
        write_text(dir.file("sheet.csv"), "Sample_Name,Sample_Group\nS1,a\nS2,b\n");
        ASSERT_EQ(mkfifo(dir.file("betas.csv").c_str(), 0600), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            signal(SIGINT, SIG_DFL);  // as in an interactive shell, whatever this test inherited
            signal(SIGTERM, SIG_DFL);
            if (chdir(dir.path().c_str()) == 0 && freopen("/dev/null", "w", stderr) != nullptr)
                execl(CIMBREL_IMPORT_BINARY, "cimbrel-import", "matrix", "betas.csv", "--samples", "sheet.csv", "--out",
                      "new/study", static_cast<char*>(nullptr));
            _exit(127);
        }
        FILE* betas = fopen(dir.file("betas.csv").c_str(), "w");
        ASSERT_NE(betas, nullptr);
        fputs("ID,S1,S2\n", betas);
        for (int i = 0; i < 30000; ++i) fprintf(betas, "cg%08d,0.25,0.75\n", i);  // more than one block
        fflush(betas);
        bool staged = false;
        for (int wait = 0; wait < 2000 && !staged; ++wait) {
            staged = has_temporary_file(dir.file("new/study/data"));
            if (!staged) usleep(5000);
        }
        EXPECT_TRUE(staged) << "no temporary file appeared";
        kill(child, stop);
        fclose(betas);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == stop) << "status " << status;
        EXPECT_FALSE(file_exists(dir.file("new"))) << "signal " << stop;
    }
    signal(SIGPIPE, SIG_DFL);
}

}  // namespace
