// cimbrel-report as a user runs it, on the small tables of
// tests/data/report_basic:
//   probe.txt  10 probes, groups case and control: cg01-cg04 have FDR <= 0.05
//              (cg04 only just: 0.045); cg07 is untested (p = 2, Range "-");
//              cg10 has no mean for case ("-"); chromosomes chr1, chr2, chr10,
//              chr22, chrX, chrY, chrM and chr1_random. FDRs follow cimbrel's
//              rule for the 9 tested p-values, whose median is 0.05.
//   r1.txt     3 islands, 2 with FDR <= 0.05, one with 5 probes.
//   r2.txt     2 arbitrary regions with an empty NAME, 1 with FDR <= 0.05.
// Malformed tables are written by each test; every failure must give status
// 1, a message naming file and line, and leave no report behind.
#include <cmath>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "report_run.h"
#include "tables.h"

namespace {

size_t count_of(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::string expected_summary(const std::string& lambda_line, size_t significant, const std::string& fdr) {
    return "probes\t10\ntested\t9\nsignificant\t" + std::to_string(significant) + "\nfdr\t" + fdr +
           "\ngroups\t2\ngroup_names\tcase,control\n" + lambda_line + "table\tfull\n";
}

std::string lambda_line(double quantile) {
    char line[64];
    snprintf(line, sizeof line, "lambda\t%.6f\n", quantile / 0.45493642311957283);
    return line;
}

// Runs on a probe table with the given text; expects failure with a message
// containing `message` and no report left.
void expect_rejected(const std::string& table_text, const std::string& message) {
    Temp_dir dir;
    write_text(dir.file("probe.txt"), table_text);
    const Run_result r = run_report({"probe.txt"}, dir.path());
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err.rfind("cimbrel-report: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << "message: " << r.err << "expected: " << message;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(file_exists(dir.file("report.html")));
}

const std::string header = "ID\tPvalue\tFDR\tRange\tcase\tcontrol\tCHR\tLOC\tANN\n";
const std::string good_row = "cg01\t0.01\t0.02\t0.2\t0.5\t0.3\tchr1\t100\tIsland\n";

}  // namespace

TEST(report_cli, help_prints_usage_and_succeeds) {
    Temp_dir dir;
    const Run_result r = run_report({"--help"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: cimbrel-report PROBE_TABLE [options]\n", 0), 0u);
    EXPECT_NE(r.out.find("--fdr Q"), std::string::npos);
    EXPECT_EQ(r.err, "");
}

TEST(report_cli, summary_and_self_contained_report) {
    Temp_dir dir;
    const Run_result r = run_report({report_data("probe.txt"), "--r1", report_data("r1.txt"), "--r2",
                                     report_data("r2.txt"), "--title", "Study <A> & B"},
                                    dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // Region λ: χ²₁ quantiles of the median p-values 0.001 (r1) and of 0.03 and 1e-11 (r2).
    EXPECT_EQ(r.out, expected_summary(lambda_line(3.841458820694124), 4, "0.05") +
                         "r1_regions\t3\nr1_significant\t2\nr1_" + lambda_line(10.827566170662731) +
                         "r2_regions\t2\nr2_significant\t1\nr2_" +
                         lambda_line((4.7092922468851004 + 46.328476156458343) / 2) + "report\treport.html\n");
    const std::string html = read_text(dir.file("report.html"));
    EXPECT_EQ(count_of(html, "<svg id="), 6u);
    EXPECT_EQ(count_of(html, "comes from a run with <code>-p 1.01 -q 1.01</code>"), 2u);
    for (const char* id : {"qq", "qq-r1", "qq-r2", "manhattan", "volcano", "histogram"})
        EXPECT_NE(html.find(std::string("<svg id=\"") + id + "\""), std::string::npos) << id;
    // Nothing to fetch: no external address, stylesheet, script file or image.
    for (const char* outside : {"http:", "https:", "//", "<link", " src=", "url(", "@import"})
        EXPECT_EQ(html.find(outside), std::string::npos) << outside;
    EXPECT_NE(html.find("<title>Study &lt;A&gt; &amp; B</title>"), std::string::npos);
    // Tables: the top probe, a region with the first two of its five probes.
    EXPECT_NE(html.find("<td>cg01</td>"), std::string::npos);
    EXPECT_NE(html.find("cg02, cgA \xe2\x80\xa6 (+3)"), std::string::npos);
    EXPECT_EQ(html.find("<td>cg07</td>"), std::string::npos) << "untested probe listed among the top";
    EXPECT_NE(html.find("1 row has a p-value above 1"), std::string::npos);
    EXPECT_EQ(html.find("thresholds"), std::string::npos);
    EXPECT_EQ(count_of(read_text(dir.file("report.html")), "</html>"), 1u);
}

TEST(report_cli, gzip_tables_give_the_same_report) {
    // The same tables under the same names, plain in one folder and gzip in
    // the other (multi-member for the probe table; recognised without ".gz").
    Temp_dir dir;
    for (const char* sub : {"plain", "gz"}) ASSERT_EQ(mkdir(dir.file(sub).c_str(), 0755), 0);
    for (const char* name : {"probe.txt", "r1.txt"}) {
        const std::string text = read_text(report_data(name));
        write_text(dir.file("plain/") + name, text);
        write_text(dir.file("gz/") + name, gzip_text(text, 200));
    }
    const Run_result plain = run_report({"probe.txt", "--r1", "r1.txt"}, dir.file("plain"));
    const Run_result gz = run_report({"probe.txt", "--r1", "r1.txt"}, dir.file("gz"));
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(gz.status, 0) << gz.err;
    EXPECT_EQ(gz.out, plain.out);
    EXPECT_TRUE(read_text(dir.file("gz/report.html")) == read_text(dir.file("plain/report.html")));
}

TEST(report_cli, fdr_level_and_top_count) {
    Temp_dir dir;
    const Run_result r = run_report({report_data("probe.txt"), "--fdr", "0.01", "--top", "2"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected_summary(lambda_line(3.841458820694124), 3, "0.01") + "report\treport.html\n");
    const std::string html = read_text(dir.file("report.html"));
    EXPECT_NE(html.find("Top 2 probes"), std::string::npos);
    EXPECT_NE(html.find("<td>cg02</td>"), std::string::npos);
    EXPECT_EQ(html.find("<td>cg03</td>"), std::string::npos);
}

TEST(report_cli, thresholded_table_is_said_plainly) {
    // The rows of a 20,000-probe study with FDR below 0.05, as cimbrel -q 0.05 lists them.
    const std::string full = random_probe_table(20000, 7);
    std::string listed = full.substr(0, full.find('\n') + 1);
    for (size_t at = listed.size(); at < full.size();) {
        const size_t end = full.find('\n', at) + 1;
        const std::string line = full.substr(at, end - at);
        if (std::stod(std::string(tab_field(line, 2))) < 0.05) listed += line;
        at = end;
    }
    Temp_dir dir;
    write_text(dir.file("full.txt"), full);
    write_text(dir.file("listed.txt"), listed);
    const Run_result f = run_report({"full.txt", "--out", "full.html"}, dir.path());
    const Run_result l = run_report({"listed.txt", "--out", "listed.html"}, dir.path());
    ASSERT_EQ(f.status, 0) << f.err;
    ASSERT_EQ(l.status, 0) << l.err;
    EXPECT_NE(f.out.find("table\tfull\n"), std::string::npos);
    EXPECT_NE(l.out.find("table\tthresholded\n"), std::string::npos);
    EXPECT_NE(read_text(dir.file("listed.html")).find("cover only the"), std::string::npos);
    // A full table (cimbrel -p 1.01 -q 1.01) need not list every probe its FDR
    // counts: here 1 row in 300 (probes without annotation) is missing, as
    // 1,461 of 485,577 were in a real study. It is still full.
    std::string most = full.substr(0, full.find('\n') + 1);
    size_t row = 0;
    for (size_t at = most.size(); at < full.size(); ++row) {
        const size_t end = full.find('\n', at) + 1;
        if (row % 300 != 7) most += full.substr(at, end - at);
        at = end;
    }
    write_text(dir.file("most.txt"), most);
    const Run_result m = run_report({"most.txt", "--out", "most.html"}, dir.path());
    ASSERT_EQ(m.status, 0) << m.err;
    EXPECT_NE(m.out.find("table\tfull\n"), std::string::npos) << m.out;
    EXPECT_EQ(read_text(dir.file("most.html")).find("cover only the"), std::string::npos);
}

// Every table cimbrel writes can be reported: groups named like the fixed
// columns; and a region row that ends before it starts is refused.
TEST(report_cli, tables_read_as_cimbrel_writes_them) {
    Temp_dir dir;
    write_text(dir.file("probe.txt"), "ID\tPvalue\tFDR\tRange\tID\tCHR\tCHR\tLOC\tANN\n"
                                      "cg01\t0.01\t0.02\t0.2\t0.5\t0.3\tchr1\t100\tIsland\n"
                                      "cg02\t0.5\t0.6\t0.1\t0.4\t0.3\tchr2\t200\tOpenSea\n");
    Run_result r = run_report({"probe.txt"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("groups\t2\ngroup_names\tID,CHR\n"), std::string::npos) << r.out;
    write_text(dir.file("r1.txt"), "CHR\tSTART\tEND\tNAME\tPVALUE\tFDR\tPROBE\tANNOTATION\n"
                                   "chr1\t500\t100\tI\t0.01\t0.02\tcg01,\tIsland\n");
    r = run_report({"probe.txt", "--r1", "r1.txt", "--out", "r1.html"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cimbrel-report: r1.txt:2: START 500 lies after END 100\n");
    EXPECT_FALSE(file_exists(dir.file("r1.html")));
}

TEST(report_cli, zero_pvalues_are_drawn_and_counted) {
    Temp_dir dir;
    write_text(dir.file("zeros.txt"), header + "a\t0\t0\t0.5\t0.9\t0.4\tchr1\t100\tx\n"
                                               "b\t0\t0\t0.4\t0.8\t0.4\tchr2\t100\tx\n");
    const Run_result r = run_report({"zeros.txt"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("lambda\tinf\n"), std::string::npos) << r.out;
    EXPECT_NE(read_text(dir.file("report.html")).find("2 probes with p = 0 are drawn on the top edge"), std::string::npos);
}

TEST(report_cli, malformed_probe_tables) {
    expect_rejected("ID\tPvalue\tRange\tcase\tCHR\tLOC\tANN\n" + good_row, "probe.txt:1: column 3 is 'Range', expected 'FDR'");
    expect_rejected(header + good_row + "cg02\tabc\t0.02\t0.2\t0.5\t0.3\tchr1\t100\tIsland\n",
                    "probe.txt:3: Pvalue 'abc' is not a p-value");
    expect_rejected(header + "cg02\t-0.1\t0.02\t0.2\t0.5\t0.3\tchr1\t100\tIsland\n", "probe.txt:2: Pvalue '-0.1'");
    expect_rejected(header + "cg02\tnan\t0.02\t0.2\t0.5\t0.3\tchr1\t100\tIsland\n", "probe.txt:2: Pvalue 'nan'");
    expect_rejected(header + "cg02\t0.01\t0.02\t0.2\t0.5\t0.3\tchr1\t1e3\tIsland\n", "probe.txt:2: LOC '1e3'");
    expect_rejected(header + "cg02\t0.01\t0.02\t0.2\tx\t0.3\tchr1\t100\tIsland\n", "probe.txt:2: case 'x'");
    expect_rejected(header + "\n" + good_row + "cg02\t0.01\t0.02\t0.2\t0.5\tchr1\t100\tIsland\n",
                    "probe.txt:4: 8 tab-separated fields, expected 9 as in the header");
    expect_rejected("", "probe.txt: empty file, expected a header line");
    expect_rejected(header, "probe.txt: no probe rows after the header");
    expect_rejected(header + "cg02\t2\t2\t-\t-\t0.3\tchr1\t100\tIsland\n", "probe.txt: no tested probe");
    // A group named FDR is a group: the row below lacks its second group column.
    expect_rejected("ID\tPvalue\tFDR\tRange\tFDR\tCHR\tLOC\tANN\n" + good_row,
                    "probe.txt:2: 9 tab-separated fields, expected 8 as in the header");
}

TEST(report_cli, unreadable_inputs) {
    expect_rejected(gzip_text(header + good_row + good_row).substr(0, 30), "probe.txt: ");
    Temp_dir dir;
    Run_result r = run_report({"missing.txt"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cimbrel-report: missing.txt: cannot open the file for reading\n");
    write_text(dir.file("r1.txt"), "CHR\tSTART\tEND\tNAME\tPVALUE\tFDR\tANNOTATION\n");
    r = run_report({report_data("probe.txt"), "--r1", "r1.txt"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("r1.txt:1: no column 'PROBE' in the header"), std::string::npos) << r.err;
    write_text(dir.file("r2.txt"), read_text(report_data("r2.txt")) + "chr3\t10\tx\t\t0.5\t0.6\tcg1,\tIsland\n");
    r = run_report({report_data("probe.txt"), "--r2", "r2.txt"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("r2.txt:4: END 'x' is not a position"), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(dir.file("report.html")));
}

TEST(report_cli, header_only_region_table_is_valid) {
    Temp_dir dir;
    write_text(dir.file("r2.txt"), "CHR\tSTART\tEND\tNAME\tPVALUE\tFDR\tPROBE\tANNOTATION\r\n");
    const Run_result r = run_report({report_data("probe.txt"), "--r2", "r2.txt"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("r2_regions\t0\nr2_significant\t0\nr2_lambda\t-\n"), std::string::npos);
    EXPECT_NE(read_text(dir.file("report.html")).find("lists no tested region"), std::string::npos);
}

TEST(report_cli, bad_usage) {
    Temp_dir dir;
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no probe table given"},
        {{"a.txt", "b.txt"}, "one probe table expected, got 'a.txt' and 'b.txt'"},
        {{"a.txt", "--colour"}, "unknown option '--colour'"},
        {{"a.txt", "--fdr", "2"}, "--fdr '2': expected a number from 0 to 1"},
        {{"a.txt", "--fdr", "0.05x"}, "--fdr '0.05x': expected a number from 0 to 1"},
        {{"a.txt", "--top", "0"}, "--top '0': expected a whole number from 1 to 10000"},
        {{"a.txt", "--out"}, "option '--out' needs a value"},
        {{"a.txt", "--out="}, "--out: expected a file name, got an empty value"},
    };
    for (const auto& c : cases) {
        const Run_result r = run_report(c.first, dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "cimbrel-report: " + c.second + " (see cimbrel-report --help)\n");
    }
}

TEST(report_cli, failed_write_leaves_the_old_report) {
    Temp_dir dir;
    Run_result r = run_report({report_data("probe.txt"), "--out", "no/such/folder/report.html"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("cimbrel-report: no/such/folder/report.html: cannot write the report: ", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
    // A run that fails on its input leaves an earlier report as it was.
    write_text(dir.file("report.html"), "earlier report");
    write_text(dir.file("bad.txt"), header);
    r = run_report({"bad.txt"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_text(dir.file("report.html")), "earlier report");
    // And a successful one replaces it without leaving temporary files.
    r = run_report({report_data("probe.txt")}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(read_text(dir.file("report.html")), "earlier report");
    EXPECT_EQ(std::system(("test $(ls -A " + shell_quote(dir.path()) + " | wc -l) -eq 2").c_str()), 0)
        << "temporary files left in the output folder";
}

// An output that names an input, however spelled, is refused and the input
// kept; /dev/stdout is written through, in order with the summary.
TEST(report_cli, output_that_is_an_input_is_refused) {
    Temp_dir dir;
    const std::string table = read_text(report_data("probe.txt"));
    write_text(dir.file("probe.txt"), table);
    write_text(dir.file("r1.txt"), read_text(report_data("r1.txt")));
    ASSERT_EQ(symlink("probe.txt", dir.file("link.txt").c_str()), 0);
    const std::string spelled_apart = "../" + dir.path().substr(dir.path().rfind('/') + 1) + "/probe.txt";
    for (const std::string& out : {std::string("probe.txt"), spelled_apart, std::string("link.txt"), std::string("r1.txt")}) {
        const Run_result r = run_report({"probe.txt", "--r1", "r1.txt", "--out", out}, dir.path());
        EXPECT_EQ(r.status, 1) << out;
        EXPECT_NE(r.err.find(out + ": is the input "), std::string::npos) << r.err;
    }
    EXPECT_EQ(read_text(dir.file("probe.txt")), table);
    const Run_result r = run_report({"probe.txt", "--out", "/dev/stdout"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(r.out.find("</html>\nprobes\t10\n"), std::string::npos);
}
