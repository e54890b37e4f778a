// Import of a matrix and a sheet into a study folder: what the data files
// and the configuration say, and that every bad input stops the import with
// its file and line named and leaves neither configuration nor data file nor
// temporary file behind.
#include "study_import.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include <gtest/gtest.h>

#include "line_reader.h"
#include "test_util.h"

namespace {

// The (decompressed) content of a file.
std::string content(const std::string& path) {
    Line_reader reader;
    std::string text;
    std::string_view line;
    if (!reader.open(path)) return "<missing>";
    while (reader.next(line)) text += line;
    return reader.failed() ? "<corrupt>" : text;
}

std::vector<std::string> listing(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.' || entry->d_name[1] > '.') names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct study_import : ::testing::Test {
    Temp_dir dir;
    Matrix_import job;
    Import_report report;
    std::string error;

    // Writes the inputs; gzip when the name ends in .gz.
    void input(const std::string& name, const std::string& text) {
        bool gz = name.size() > 3 && name.substr(name.size() - 3) == ".gz";
        write_text(dir.file(name), gz ? gzip_text(text, 16) : text);
    }
    void prepare(const std::string& betas, const std::string& sheet) {
        input("betas.csv", betas);
        input("sheet.csv", sheet);
        job.betas = dir.file("betas.csv");
        job.sheet = dir.file("sheet.csv");
        job.out_dir = dir.file("study");
    }
    bool run() { return import_matrix(job, report, error); }
    std::string data(const std::string& sample) { return content(dir.file("study/data/" + sample + ".txt.gz")); }
    std::string configuration() { return read_text(dir.file("study/etc/description.xls")); }
};

TEST_F(study_import, minfi_betas_with_detection_matrix_and_missing_values) {
    prepare("\"\",\"S1\",\"S2\"\n\"cg01\",0.5,NA\n\"cg02\",NaN,0.75\n\"cg03\",,1e-2\n",
            "Sample_Name,Sample_Group,Age\nS2,case,40\nS1,control,50\n");
    input("detp.csv", "\"\",\"S1\",\"S2\"\n\"cg01\",0.01,0.02\n\"cg02\",0,0.2\n\"cg03\",0.03,NA\n");
    job.detp = dir.file("detp.csv");
    job.design.covariables = {"Age"};
    ASSERT_TRUE(run()) << error;
    EXPECT_EQ(data("S1"), "cg01\t0.5\t0.01\ncg02\t0.5\t1\ncg03\t0.5\t1\n");
    EXPECT_EQ(data("S2"), "cg01\t0.5\t1\ncg02\t0.75\t0.2\ncg03\t0.5\t1\n");
    EXPECT_EQ(configuration(), "# file\tsample\tSample_Group\tAge\n"
                               "../data/S2.txt.gz\tS2\tcase\t40\n"
                               "../data/S1.txt.gz\tS1\tcontrol\t50\n");
    EXPECT_EQ(report.probes, 3u);
    EXPECT_TRUE(listing(dir.file("study/run")).empty());
    EXPECT_EQ(cimbrel_command(job.out_dir, report).substr(0, 3), "cd ");
}

TEST_F(study_import, signal_matrix_gives_betas_from_the_signals) {
    prepare("ID_REF,TargetID,S1 Unmethylated Signal,S1 Methylated Signal,S1 Detection Pval\n"
            "1,cg01,1000,3000,0.01\n2,cg02,,3000,0.01\n3,cg03,0,0,0.5\n",
            "Sample_Name,Sample_Group\nS1,a\n");
    ASSERT_TRUE(run()) << error;
    EXPECT_EQ(data("S1"), "1\t0.731707\t0.01\n2\t0.5\t1\n3\t0\t0.5\n");
    input("betas.csv", "ID,S1.Signal_A,S1.Signal_B\ncg01,-1,2\n");
    EXPECT_FALSE(run());
    EXPECT_EQ(error, dir.file("betas.csv") + ":2: sample \"S1\": unmethylated signal \"-1\" is not a number of 0 or more");
}

TEST_F(study_import, geo_interleaved_gzip_subset_and_exclusion_list) {
    input("betas.txt.gz", "ID_REF\tA\tDetection Pval\tB x\tDetection Pval\tC\tDetection Pval\n"
                          "cg01\t0.1\t0.001\t0.2\t0.06\t0.3\t0\n"
                          "rs01\t0.4\t0.001\t0.5\t0.00\t0.6\t0\n"
                          "cg02\t0.7\t0.001\t0.8\t0.01\t0.9\t0\n");
    input("sheet.csv", "Sample_Name,Sample_Group\n\"B x\",a\nA,b\n");
    input("exclude.txt", "# cross-reactive\nrs01\ncg99\n");
    job.betas = dir.file("betas.txt.gz");
    job.sheet = dir.file("sheet.csv");
    job.exclude = dir.file("exclude.txt");
    job.out_dir = dir.file("study");
    ASSERT_TRUE(run()) << error;
    EXPECT_EQ(data("B_x"), "cg01\t0.2\t0.06\ncg02\t0.8\t0.01\n");
    EXPECT_EQ(data("A"), "cg01\t0.1\t0.001\ncg02\t0.7\t0.001\n");
    EXPECT_EQ(configuration(), "# file\tsample\tSample_Group\n../data/B_x.txt.gz\tB_x\ta\n../data/A.txt.gz\tA\tb\n");
    std::string notes;
    for (const std::string& note : report.notes) notes += note + "\n";
    EXPECT_NE(notes.find("1 of the 3 samples"), std::string::npos) << notes;
    EXPECT_NE(notes.find("1 probe of the exclusion list left out (2 listed, 1 of them not in the matrix)"),
              std::string::npos) << notes;
}

TEST_F(study_import, blocks_of_rows_are_gzip_members_of_one_file) {
    std::string betas = "ID,S1\n", expected;
    for (int i = 0; i < 50; ++i) {
        betas += "cg" + std::to_string(i) + ",0." + std::to_string(i + 10) + "\n";
        expected += "cg" + std::to_string(i) + "\t0." + std::to_string(i + 10) + "\t0\n";
    }
    prepare(betas, "Sample_Name,Sample_Group\nS1,a\n");
    job.block_rows = 7;
    ASSERT_TRUE(run()) << error;
    EXPECT_EQ(data("S1"), expected);
}

struct Failure {
    const char* name;
    const char* betas;
    const char* sheet;
    const char* detp;  // null: none
    const char* error; // after the folder of the inputs
};

const Failure failures[] = {
    {"non_numeric_beta", "ID,S1,S2\ncg01,0.5,0.6\ncg02,0.5,high\n", nullptr, nullptr,
     "betas.csv:3: sample \"S2\": beta value \"high\" is not a number"},
    {"m_value", "ID,S1,S2\ncg01,0.5,-2.31\n", nullptr, nullptr,
     "betas.csv:2: sample \"S2\": beta value -2.31 is outside [0, 1] (betas are expected, not M-values)"},
    {"ragged_row", "ID,S1,S2\ncg01,0.5,0.6\ncg02,0.5\n", nullptr, nullptr,
     "betas.csv:3: row has 2 fields, but the header has 3"},
    {"bad_detection", "ID\tS1\tDetection Pval\tS2\tDetection Pval\ncg01\t0.5\t0.1\t0.6\t2\n", nullptr, nullptr,
     "betas.csv:2: sample \"S2\": detection p-value 2 is outside [0, 1]"},
    {"missing_covariable", "ID,S1,S2\ncg01,0.5,0.6\n", "Sample_Name,Sample_Group,Age\nS1,a,3\nS2,b,\n", nullptr,
     "sheet.csv:3: sample \"S2\" has no value in column \"Age\""},
    {"sample_not_in_matrix", "ID,S1,S2\ncg01,0.5,0.6\n", "Sample_Name,Sample_Group,Age\nS1,a,3\nS3,b,4\n", nullptr,
     "sheet.csv:3: sample \"S3\" has no column in "},
    // Either column could be meant: neither is taken silently.
    {"columns_differ_only_in_white_space", "ID,S 1,S_1,S2\ncg01,0.1,0.9,0.6\n",
     "Sample_Name,Sample_Group,Age\nS_1,a,3\nS2,b,4\n", nullptr,
     "sheet.csv:2: sample \"S_1\" matches the columns \"S 1\" and \"S_1\" of "},
    {"detp_other_sample", "ID,S1,S2\ncg01,0.5,0.6\n", nullptr, "ID,S1,S3\ncg01,0,0\n",
     "detp.csv:1: sample 2 is \"S3\", but "},
    {"detp_other_probe", "ID,S1,S2\ncg01,0.5,0.6\ncg02,0.5,0.6\n", nullptr, "ID,S1,S2\ncg01,0,0\ncg03,0,0\n",
     "detp.csv:3: probe \"cg03\", but line 3 of "},
    {"detp_shorter", "ID,S1,S2\ncg01,0.5,0.6\ncg02,0.5,0.6\n", nullptr, "ID,S1,S2\ncg01,0,0\n",
     "detp.csv: ends before probe \"cg02\" (line 3 of "},
    {"detp_longer", "ID,S1,S2\ncg01,0.5,0.6\n", nullptr, "ID,S1,S2\ncg01,0,0\ncg02,0,0\n",
     "detp.csv:3: probe \"cg02\" has no row in "},
};

void PrintTo(const Failure& failure, std::ostream* out) { *out << failure.name; }

class study_import_failure : public study_import, public ::testing::WithParamInterface<Failure> {};

TEST_P(study_import_failure, stops_naming_file_and_line_and_leaves_nothing) {
    const Failure& f = GetParam();
    prepare(f.betas, f.sheet != nullptr ? f.sheet : "Sample_Name,Sample_Group,Age\nS1,a,3\nS2,b,4\n");
    job.design.covariables = {"Age"};
    job.block_rows = 1;  // the first rows are written before the failure
    if (f.detp != nullptr) {
        input("detp.csv", f.detp);
        job.detp = dir.file("detp.csv");
    }
    EXPECT_FALSE(run());
    std::string message = error.substr(0, 1) == "/" ? error.substr(dir.path().size() + 1) : error;
    EXPECT_EQ(message.substr(0, std::string(f.error).size()), f.error) << error;
    EXPECT_FALSE(file_exists(dir.file("study/etc/description.xls")));
    EXPECT_TRUE(listing(dir.file("study/data")).empty());
}

INSTANTIATE_TEST_SUITE_P(inputs, study_import_failure, ::testing::ValuesIn(failures),
                         [](const ::testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

TEST_F(study_import, truncated_gzip_matrix_is_an_error_naming_it) {
    std::string rows = "ID,S1\n";
    for (int i = 0; i < 2000; ++i) rows += "cg" + std::to_string(i) + ",0.5\n";
    std::string gz = gzip_text(rows);
    prepare("", "Sample_Name,Sample_Group\nS1,a\n");
    write_text(job.betas, gz.substr(0, gz.size() / 2));
    job.block_rows = 100;
    EXPECT_FALSE(run());
    EXPECT_EQ(error.substr(0, job.betas.size() + 2), job.betas + ": ") << error;
    EXPECT_TRUE(listing(dir.file("study/data")).empty());
    EXPECT_FALSE(file_exists(dir.file("study/etc/description.xls")));
}

// Every file and folder under path, with the bytes of each file.
std::map<std::string, std::string> snapshot(const std::string& path) {
    std::map<std::string, std::string> files;
    for (const std::string& name : listing(path)) {
        const std::string child = path + "/" + name;
        if (DIR* dir = opendir(child.c_str())) {
            closedir(dir);
            files[name + "/"] = "";
            for (const auto& [below, bytes] : snapshot(child)) files[name + "/" + below] = bytes;
        } else {
            files[name] = read_text(child);
        }
    }
    return files;
}

// A failed import into an existing study leaves it byte for byte as it was;
// a failed first import leaves no folder behind, not even the parents it made.
TEST_F(study_import, failure_leaves_an_existing_study_as_it_was_and_no_new_folder) {
    const std::string sheet = "Sample_Name,Sample_Group\nS1,a\nS2,b\n";
    struct Spoiler {
        const char* name;
        bool first_import;               // also tried where no study exists yet
        void (*spoil)(study_import& test);  // before the failing run
    } spoilers[] = {
        {"bad_last_row", true,
         [](study_import& t) { t.input("betas.csv", "ID,S1,S2\ncg01,0.9,0.8\ncg02,0.7,0.6\ncg03,0.5,x\n"); }},
        {"folder_in_place_of_the_configuration", false,
         [](study_import& t) {
             const std::string path = t.job.out_dir + "/etc/description.xls";
             ASSERT_EQ(unlink(path.c_str()), 0);
             ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
             write_text(path + "/keep", "kept");
             t.input("betas.csv", "ID,S1,S2\ncg01,0.9,0.8\n");
         }},
        {"sheet_is_the_configuration", false,
         [](study_import& t) {
             t.job.sheet = t.job.out_dir + "/etc/description.xls";
             write_text(t.job.sheet, "Sample_Name,Sample_Group\nS1,a\nS2,b\n");
             t.input("betas.csv", "ID,S1,S2\ncg01,0.9,0.8\n");
         }},
    };
    for (const Spoiler& spoiler : spoilers) {
        for (bool existing : {true, false}) {
            if (!existing && !spoiler.first_import) continue;
            const std::string top = dir.file(std::string(spoiler.name) + (existing ? "_old" : "_new"));
            prepare("ID,S1,S2\ncg01,0.1,0.2\ncg02,0.3,0.4\n", sheet);
            job.out_dir = top + "/deeper/study";
            job.block_rows = 1;
            if (existing) {
                ASSERT_TRUE(run()) << error;
            }
            spoiler.spoil(*this);
            const auto before = snapshot(top);
            EXPECT_FALSE(run()) << spoiler.name;
            EXPECT_EQ(snapshot(top), before) << spoiler.name << (existing ? "" : " (first import)") << ": " << error;
            EXPECT_EQ(file_exists(top), existing) << spoiler.name;
        }
    }
}

TEST(data_file_name, data_file_names_are_safe_and_unique) {
    std::set<std::string> taken;
    EXPECT_EQ(data_file_name("S01", taken), "S01.txt.gz");
    EXPECT_EQ(data_file_name("s01", taken), "s01_2.txt.gz");
    EXPECT_EQ(data_file_name("../x/y", taken), "_.._x_y.txt.gz");
    EXPECT_EQ(data_file_name("GSM1:R01C01", taken), "GSM1_R01C01.txt.gz");
    Import_report report;
    report.covariables = {"age", "sex_M"};
    report.continuous = true;
    EXPECT_EQ(cimbrel_command("my study", report), "cd 'my study/run' && cimbrel --covariable 2 --continuous");
}

}  // namespace

// EPIC v2 replicates merged while streaming: groups adjacent and far apart
// (cg01's three replicates span most of the matrix), one with no detected
// replicate (cg04), a lone suffixed identifier (cg02); small blocks, so held
// rows cross block boundaries; gzip, so the matrix is read twice.
struct Replicate_case {
    const char* name;
    Replicates mode;
    bool detection;
    const char* data;
};

void PrintTo(const Replicate_case& c, std::ostream* out) { *out << c.name; }

const Replicate_case replicate_cases[] = {
    {"keep", Replicates::keep, true,
     "cg01_TC11\t0.1\t0.01\ncg02_BC11\t0.2\t0.5\ncg01_TC12\t0.3\t0.02\ncg03\t0.4\t0.01\ncg04_TO11\t0.5\t0.2\n"
     "cg05\t0.6\t0.03\ncg01_BO13\t0.123456789\t0.001\ncg04_TO12\t0.7\t0.3\ncg06_TC11\t0.8\t0.04\n"
     "cg06_TC12\t0.9\t0.04\n"},
    {"mean", Replicates::mean, true,
     "cg01\t0.174486\t0.001\ncg02\t0.2\t0.5\ncg03\t0.4\t0.01\ncg04\t0.6\t0.3\ncg05\t0.6\t0.03\ncg06\t0.85\t0.04\n"},
    {"best", Replicates::best, true,
     "cg01\t0.123456789\t0.001\ncg02\t0.2\t0.5\ncg03\t0.4\t0.01\ncg04\t0.5\t0.2\ncg05\t0.6\t0.03\ncg06\t0.8\t0.04\n"},
    {"mean_of_betas_only", Replicates::mean, false,
     "cg01\t0.174486\t0\ncg02\t0.2\t0\ncg03\t0.4\t0\ncg04\t0.6\t0\ncg05\t0.6\t0\ncg06\t0.85\t0\n"},
    {"best_of_betas_only", Replicates::best, false,
     "cg01\t0.1\t0\ncg02\t0.2\t0\ncg03\t0.4\t0\ncg04\t0.5\t0\ncg05\t0.6\t0\ncg06\t0.8\t0\n"},
};

struct study_import_replicates : study_import, ::testing::WithParamInterface<Replicate_case> {};

TEST_P(study_import_replicates, writes_each_base_identifier_once_at_its_first_replicate) {
    const Replicate_case& c = GetParam();
    const char* rows[][3] = {{"cg01_TC11", "0.1", "0.01"},         {"cg02_BC11", "0.2", "0.5"},
                             {"cg01_TC12", "0.3", "0.02"},         {"cg03", "0.4", "0.01"},
                             {"cg04_TO11", "0.5", "0.2"},          {"cg05", "0.6", "0.03"},
                             {"cg01_BO13", "0.123456789", "0.001"}, {"cg04_TO12", "0.7", "0.3"},
                             {"cg06_TC11", "0.8", "0.04"},         {"cg06_TC12", "0.9", "0.04"}};
    std::string betas = c.detection ? "ID_REF\tS1\tDetection Pval\n" : "ID_REF\tS1\n";
    for (const auto& row : rows)
        betas += std::string(row[0]) + "\t" + row[1] + (c.detection ? std::string("\t") + row[2] : "") + "\n";
    input("betas.txt.gz", betas);
    input("sheet.csv", "Sample_Name,Sample_Group\nS1,a\n");
    job.betas = dir.file("betas.txt.gz");
    job.sheet = dir.file("sheet.csv");
    job.out_dir = dir.file("study");
    job.replicates = c.mode;
    job.block_rows = 2;
    ASSERT_TRUE(run()) << error;
    EXPECT_EQ(data("S1"), c.data);
}

INSTANTIATE_TEST_SUITE_P(modes, study_import_replicates, ::testing::ValuesIn(replicate_cases),
                         [](const ::testing::TestParamInfo<Replicate_case>& info) { return info.param.name; });
