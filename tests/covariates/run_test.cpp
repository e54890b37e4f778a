// cimbrel-covariates on studies mixed from the bundled blood reference:
// recovery of the proportions, the components against a dense singular
// value decomposition of the residuals, identical output in and out of core
// and with any thread count, and the inflation a composition difference
// causes in cimbrel's tests, removed by adjusting for it.
#include <cmath>
#include <cstdlib>
#include <iostream>

#include <gsl/gsl_blas.h>
#include <gsl/gsl_linalg.h>
#include <gsl/gsl_multifit.h>
#include <gtest/gtest.h>

#include "mixed_study.h"
#include "normalize.h"
#include "parameter.h"
#include "read_file.h"

namespace {

Run_result covariates(const std::vector<std::string>& args, const std::string& dir) {
    return run_program(CIMBREL_COVARIATES_BINARY, args, dir);
}

TEST(covariates_run, recovers_mixed_proportions) {
    Temp_dir dir;
    Mixed_study study;
    write_mixed_study(dir.path(), study);
    const Run_result run = covariates({"config", "--covariable", "1", "--cells", "blood", "--out", "new", "--table", "table"},
                                      dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    const auto rows = table_rows(read_text(dir.file("table")));
    ASSERT_EQ(rows.size(), study.samples + 1);
    EXPECT_EQ(rows[0], std::vector<std::string>({"sample", "GR", "NK", "B", "CD4", "CD8", "MO"}));
    double error = 0.0;
    for (size_t s = 0; s < study.samples; ++s)
        for (size_t k = 0; k < 6; ++k) error += std::fabs(std::stod(rows[s + 1][k + 1]) - study.proportions[s * 6 + k]);
    EXPECT_LE(error / (6.0 * study.samples), 0.02);
    // Granulocytes are the baseline: five cell columns after the covariable.
    const auto config = table_rows(read_text(dir.file("new")));
    EXPECT_EQ(config[0], std::vector<std::string>({"# file", "sample", "group", "covariable1", "NK", "B", "CD4", "CD8", "MO"}));
    EXPECT_EQ(config[1].size(), 9u);
    EXPECT_NE(run.err.find("cimbrel -c new --covariable 6"), std::string::npos) << run.err;
}

}  // namespace

namespace {

// Residuals of every probe usable in all samples on the design (n x p),
// centred, as a probes x samples matrix.
gsl_matrix* dense_residuals(const gsl_matrix* logit, const gsl_matrix* design) {
    const size_t n = logit->size2, p = design->size2;
    std::vector<size_t> complete;
    for (size_t r = 0; r < logit->size1; ++r) {
        bool usable = true;
        for (size_t s = 0; s < n; ++s) usable = usable && std::isfinite(gsl_matrix_get(logit, r, s));
        if (usable) complete.push_back(r);
    }
    gsl_matrix* residuals = gsl_matrix_alloc(complete.size(), n);
    gsl_multifit_linear_workspace* work = gsl_multifit_linear_alloc(n, p);
    gsl_vector* y = gsl_vector_alloc(n);
    gsl_vector* fitted = gsl_vector_alloc(n);
    gsl_vector* c = gsl_vector_alloc(p);
    gsl_matrix* cov = gsl_matrix_alloc(p, p);
    for (size_t k = 0; k < complete.size(); ++k) {
        gsl_matrix_get_row(y, logit, complete[k]);
        double chisq = 0.0;
        gsl_multifit_linear(design, y, c, cov, &chisq, work);
        gsl_blas_dgemv(CblasNoTrans, 1.0, design, c, 0.0, fitted);
        double mean = 0.0;
        for (size_t s = 0; s < n; ++s) mean += (gsl_vector_get(y, s) - gsl_vector_get(fitted, s)) / n;
        for (size_t s = 0; s < n; ++s) gsl_matrix_set(residuals, k, s, gsl_vector_get(y, s) - gsl_vector_get(fitted, s) - mean);
    }
    gsl_matrix_free(cov);
    gsl_vector_free(c);
    gsl_vector_free(fitted);
    gsl_vector_free(y);
    gsl_multifit_linear_free(work);
    return residuals;
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
    double ab = 0.0, aa = 0.0, bb = 0.0, ma = 0.0, mb = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        ma += a[i] / a.size();
        mb += b[i] / b.size();
    }
    for (size_t i = 0; i < a.size(); ++i) {
        ab += (a[i] - ma) * (b[i] - mb);
        aa += (a[i] - ma) * (a[i] - ma);
        bb += (b[i] - mb) * (b[i] - mb);
    }
    return ab / std::sqrt(aa * bb);
}

TEST(covariates_run, components_match_dense_decomposition_of_residuals) {
    Temp_dir dir;
    Mixed_study study;
    study.hidden = 3;
    study.covariable_effect = 0.2;
    write_mixed_study(dir.path(), study);
    const size_t count = 4;
    const Run_result run = covariates({"config", "--covariable", "1", "--cells", "blood", "--pcs", std::to_string(count),
                                       "--out", "new", "--table", "table"},
                                      dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    const auto rows = table_rows(read_text(dir.file("table")));
    ASSERT_EQ(rows.size(), study.samples + 2);

    // The same study read and normalised here; the model: the two groups,
    // the covariable and the five cell columns the configuration carries.
    Parameter options;
    Data_description names;
    options.configure_file = dir.file("config");
    gsl_matrix* design = gsl_matrix_calloc(study.samples, 2 + 1 + 5);
    std::string rewritten;
    for (const auto& line : table_rows(read_text(dir.file("config")))) {
        if (line.size() < 4) continue;
        rewritten += dir.file(line[0]) + "\t" + line[1] + "\t" + line[2] + "\t" + line[3] + "\n";
    }
    write_text(dir.file("config.abs"), rewritten);
    Data_matrix* matrix = read_data(dir.file("config.abs"), names, 1, 1, options);
    ASSERT_NE(matrix, nullptr);
    normalize(matrix, 1, &names);
    for (size_t s = 0; s < study.samples; ++s) {
        gsl_matrix_set(design, s, study.groups[s] == "control" ? 0 : 1, 1.0);
        gsl_matrix_set(design, s, 2, gsl_matrix_get(matrix->covariable, s, 0));
        for (size_t k = 0; k < 5; ++k) gsl_matrix_set(design, s, 3 + k, std::stod(rows[s + 1][2 + k]));
    }
    gsl_matrix* residuals = dense_residuals(matrix->logit, design);
    const size_t n = study.samples;
    gsl_matrix* v = gsl_matrix_alloc(n, n);
    gsl_vector* singular = gsl_vector_alloc(n);
    gsl_vector* work = gsl_vector_alloc(n);
    gsl_linalg_SV_decomp(residuals, v, singular, work);
    double total = 0.0;
    for (size_t k = 0; k < n; ++k) total += gsl_vector_get(singular, k) * gsl_vector_get(singular, k);
    for (size_t k = 0; k < count; ++k) {
        std::vector<double> expected(n), got(n);
        for (size_t s = 0; s < n; ++s) {
            expected[s] = gsl_matrix_get(v, s, k) * gsl_vector_get(singular, k);
            got[s] = std::stod(rows[s + 1][7 + k]);
        }
        EXPECT_GE(std::fabs(correlation(expected, got)), 0.9999) << "PC" << k + 1;
        const double fraction = gsl_vector_get(singular, k) * gsl_vector_get(singular, k) / total;
        EXPECT_NEAR(std::stod(rows[n + 1][7 + k]), fraction, 1e-6) << "PC" << k + 1;
        // Scores scaled by the singular value, the largest one positive.
        const auto largest = std::max_element(got.begin(), got.end(), [](double a, double b) { return std::fabs(a) < std::fabs(b); });
        EXPECT_GT(*largest, 0.0);
        EXPECT_NEAR(std::fabs(*largest), std::fabs(expected[largest - got.begin()]), 1e-5 * std::fabs(*largest) + 1e-6);
    }
    gsl_vector_free(work);
    gsl_vector_free(singular);
    gsl_matrix_free(v);
    gsl_matrix_free(residuals);
    gsl_matrix_free(design);
    data_matrix_free(matrix);
}

}  // namespace

namespace {

TEST(covariates_run, same_output_out_of_core_and_with_any_thread_count) {
    // More samples than one tile of the cross-product, so that three
    // workers share the tiles.
    Temp_dir dir;
    Mixed_study study;
    study.samples = 300;
    study.filler_probes = 400;
    study.hidden = 2;
    write_mixed_study(dir.path(), study);
    std::string first_config, first_table;
    for (const char* memory : {"", "1"}) {
        for (const char* threads : {"1", "3"}) {
            if (*memory) setenv("CIMBREL_MEMORY", memory, 1);
            const Run_result run = covariates({"config", "--covariable", "1", "--cells", "blood", "--pcs", "3", "--out",
                                               "new", "--table", "table", "-n", threads},
                                              dir.path());
            unsetenv("CIMBREL_MEMORY");
            ASSERT_EQ(run.status, 0) << run.err;
            if (first_config.empty()) {
                first_config = read_text(dir.file("new"));
                first_table = read_text(dir.file("table"));
                continue;
            }
            EXPECT_EQ(read_text(dir.file("new")), first_config) << "CIMBREL_MEMORY=" << memory << " -n " << threads;
            EXPECT_EQ(read_text(dir.file("table")), first_table) << "CIMBREL_MEMORY=" << memory << " -n " << threads;
        }
    }
}

// lambda as cimbrel-report prints it for a cimbrel run on config.
double inflation(const std::string& dir, const std::string& config, const std::string& covariables) {
    const Run_result run = run_cimbrel({"-c", config, "--covariable", covariables, "--probe", "probe.ann", "--r1-off",
                                        "--r2-off", "-p", "1.01", "-q", "1.01"},
                                       dir);
    EXPECT_EQ(run.status, 0) << run.out;
    const Run_result report = run_program(CIMBREL_REPORT_BINARY, {"probe.txt", "--out", "report.html"}, dir);
    EXPECT_EQ(report.status, 0) << report.err;
    const size_t at = report.out.find("lambda\t");
    return at == std::string::npos ? NAN : std::stod(report.out.substr(at + 7));
}

TEST(covariates_run, adjusting_for_cells_removes_inflation_from_a_composition_difference) {
    Temp_dir dir;
    Mixed_study study;
    study.samples = 40;
    study.shift = 0.05;  // "case" samples carry 5 points more granulocytes
    write_mixed_study(dir.path(), study);
    const double raw = inflation(dir.path(), "config", "1");
    const Run_result run = covariates({"config", "--covariable", "1", "--cells", "blood", "--out", "adjusted"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    const double adjusted = inflation(dir.path(), "adjusted", "6");
    std::cout << "lambda without adjustment " << raw << ", adjusted for cell composition " << adjusted << "\n";
    EXPECT_GT(raw, 2.0);
    EXPECT_LT(adjusted, 1.3);
}

}  // namespace

namespace {

// The lines cimbrel prints, without its progress lines.
std::vector<std::string> message_lines(const std::string& out) {
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < out.size(); start = end + 1) {
        end = std::min(out.find('\n', start), out.size());
        if (end > start && out[start] != '[') lines.push_back(out.substr(start, end - start));
    }
    return lines;
}

TEST(covariates_run, refuses_what_cannot_be_estimated_and_leaves_nothing_behind) {
    Temp_dir dir;
    Mixed_study study;
    study.samples = 10;
    study.filler_probes = 50;
    write_mixed_study(dir.path(), study);
    const std::string config = read_text(dir.file("config"));
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    write_text(dir.file("tiny_reference"), "A B\ncg05398700 0.1 0.9\ncg16802439 0.2 0.8\n");
    const Case cases[] = {
        {{"--cells", "blood", "--pcs", "2"}, "--pcs 2 asks for more components than the 10 samples leave beside the model's 8 columns"},
        {{"--cells", "tiny_reference"}, "the reference has 2 probes in the study, fewer than 6"},
        {{"--cells", "missing_reference"}, "cannot open reference missing_reference"},
        {{"--pcs", "1", "--out", "config"}, "is the input"},
        {{"--pcs", "1", "--table", "S03.txt"}, "is the input"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"config", "--covariable", "1", "--out", "new"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Run_result run = covariates(args, dir.path());
        EXPECT_EQ(run.status, 1) << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(file_exists(dir.file("new"))) << c.message;
        EXPECT_EQ(read_text(dir.file("config")), config);
    }
    // A covariable that is not a number: refused with cimbrel's own message.
    write_text(dir.file("config"), config.substr(0, config.rfind('\t') + 1) + "old\n");
    const Run_result cimbrel = run_cimbrel({"-c", "config", "--covariable", "1", "--probe", "probe.ann", "--r1-off"}, dir.path());
    const Run_result run = covariates({"config", "--covariable", "1", "--pcs", "1", "--out", "new"}, dir.path());
    EXPECT_EQ(run.status, 1);
    const std::vector<std::string> expected = message_lines(cimbrel.out);
    ASSERT_FALSE(expected.empty());
    for (const std::string& line : expected)
        EXPECT_NE(run.err.find("cimbrel-covariates: " + line + "\n"), std::string::npos) << line << "\n" << run.err;
    EXPECT_FALSE(file_exists(dir.file("new")));
    EXPECT_TRUE(run.out.empty());
}

}  // namespace
