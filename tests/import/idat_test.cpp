// IDAT reading and the IDAT import: the real scanner pair, malformed files,
// and a synthetic array (Type I Red and Grn, Type II, controls, a probe off
// the array, low bead counts, gzip and GEO-prefixed files) whose study is
// checked against a direct computation of the background, dye-bias and
// detection formulas.
#include "idat.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "idat_files.h"
#include "idat_import.h"
#include "idat_writer.h"
#include "line_reader.h"
#include "preprocess.h"
#include "test_util.h"

namespace {

bool parse(const std::string& bytes, Idat& idat, std::string& error) {
    return parse_idat(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), "x.idat", idat, error);
}

Idat_content small_content() {
    Idat_content c;
    c.addresses = {10, 20, 30};
    c.means = {100, 200, 300};
    c.beads = {5, 6, 7};
    return c;
}

TEST(idat_reader, real_scanner_pair) {
    const std::string folder = std::string(CIMBREL_TEST_DATA) + "/idat/5318317007_A_";
    Idat green, red;
    std::string error;
    ASSERT_TRUE(read_idat(folder + "Grn.idat", green, error)) << error;
    ASSERT_TRUE(read_idat(folder + "Red.idat", red, error)) << error;
    EXPECT_EQ(green.addresses.size(), 55300u);
    EXPECT_EQ(green.means.size(), 55300u);
    EXPECT_EQ(green.barcode, "5318317007");
    EXPECT_EQ(green.chip_type, "BeadChip 12x1");
    EXPECT_TRUE(check_idat_pair(green, "g", red, "r", error)) << error;
    EXPECT_NE(green.means, red.means);
}

TEST(idat_reader, refuses_malformed_files) {
    const std::string good = idat_bytes(small_content());
    Idat idat;
    std::string error;
    ASSERT_TRUE(parse(good, idat, error)) << error;
    EXPECT_EQ(idat.addresses, (std::vector<uint32_t>{10, 20, 30}));
    EXPECT_EQ(idat.chip_type, "BeadChip 8x5");
    auto with = [&](size_t at, uint64_t value, int bytes) {
        std::string out = good;
        for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<char>(value >> (8 * i) & 0xff);
        return out;
    };
    const size_t count_at = 16 + 10 * 7;  // the first field follows the table of 7 entries
    struct Case {
        std::string bytes, message;
    } cases[] = {
        {good.substr(0, 12), "truncated IDAT"},
        {good.substr(0, good.size() - 4), "chip type"},
        {good.substr(0, 100), "beyond the end of the file"},
        {with(0, 'X', 1), "not an IDAT file"},
        {with(4, 1, 8), "version 1, the encrypted format of expression arrays"},
        {with(4, 2, 8), "IDAT version 2"},
        {with(16 + 10 * 3 + 2, good.size() + 1, 8), "starts at byte"},
        {with(12, 1000, 4), "reaches beyond the end"},
        {with(count_at, 4, 4), "field 102 (addresses) needs 16 bytes"},
        {with(count_at, 0xffffffff, 4), "address count 4294967295 does not fit"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(parse(c.bytes, idat, error)) << c.message;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(error.rfind("x.idat: ", 0), 0u) << error;
    }
    Idat other;
    Idat_content moved = small_content();
    moved.addresses[1] = 21;
    ASSERT_TRUE(parse(idat_bytes(moved), other, error));
    ASSERT_TRUE(parse(good, idat, error));
    EXPECT_FALSE(check_idat_pair(idat, "a_Grn.idat", other, "a_Red.idat", error));
    EXPECT_EQ(error, "a_Grn.idat and a_Red.idat do not form a pair: address 2 is 20 in one and 21 in the other");
}

TEST(preprocess, degenerate_values_stay_finite) {
    // A constant in-band channel: the estimate is the median, with no endless iteration.
    Location flat = huber({500, 500, 500, 500, 900});
    EXPECT_EQ(flat.mu, 500);
    EXPECT_EQ(flat.s, 0);
    Noob_fit fit;
    EXPECT_FALSE(fit_noob({400, 400, 400, 410}, {900, 1000}, fit));  // out-of-band MAD 0
    ASSERT_TRUE(fit_noob({380, 400, 420, 440}, {400, 400, 400}, fit));  // signal below the background
    EXPECT_EQ(fit.alpha, 10);
    // Far below the background the posterior mean is a small positive signal, not 0/0.
    for (double x : {0.0, 65535.0}) {
        double corrected = noob_signal(x, fit);
        EXPECT_TRUE(std::isfinite(corrected) && corrected >= 15.0) << x;
    }
    // The two ways of taking log Φ meet at z = −30.
    Noob_fit edge{30, 1, 1e12};
    EXPECT_NEAR(noob_signal(1e-9, edge), noob_signal(-1e-9, edge), 1e-9);
    EXPECT_GT(noob_signal(1e-9, edge), 15.03);
    EXPECT_GT(normal_upper_tail(30), 1e-198);
    EXPECT_LT(normal_upper_tail(30), 1e-196);
}

TEST(idat_files, sheet_rows_name_their_pairs) {
    Temp_dir dir;
    ASSERT_EQ(system(("mkdir -p " + dir.file("a/b") + " " + dir.file("c")).c_str()), 0);
    for (const char* name : {"a/b/GSM1_101_R01C01_Grn.idat.gz", "a/b/GSM1_101_R01C01_Red.idat.gz", "c/101_R02C01_Grn.idat",
                             "c/101_R02C01_Red.idat", "a/101_R02C01_Red.idat", "c/x_Grn.idat.gz", "c/x_Red.idat"})
        write_text(dir.file(name), "");
    auto find = [&](const std::string& sheet_text, std::vector<Idat_pair>& pairs, std::string& error) {
        write_text(dir.file("sheet.csv"), sheet_text);
        Sheet sheet;
        Design design;
        return read_sheet_file(dir.file("sheet.csv"), sheet, error) && build_design(sheet, Design_options(), design, error) &&
               find_idat_pairs(sheet, design.samples, "", pairs, error);
    };
    std::vector<Idat_pair> pairs;
    std::string error;
    ASSERT_TRUE(find("Sample_Name,Sample_Group,Sentrix_ID,Sentrix_Position,Basename\nS1,a,101,R01C01,\nS2,a,9,9,c/x\n",
                     pairs, error) == false);
    EXPECT_NE(error.find("sample \"S1\": no IDAT file"), std::string::npos) << error;  // Basename wins
    ASSERT_TRUE(find("Sample_Name,Sample_Group,Sentrix_ID,Sentrix_Position\nS1,a,101,R01C01\n", pairs, error)) << error;
    EXPECT_EQ(pairs[0].red, dir.path() + "/a/b/GSM1_101_R01C01_Red.idat.gz");
    EXPECT_FALSE(find("Sample_Name,Sample_Group,Sentrix_ID,Sentrix_Position\nS1,a,101,R01C01\nS2,b,101,R02C01\n", pairs, error));
    EXPECT_NE(error.find(":3: sample \"S2\": two IDAT files match"), std::string::npos) << error;
    EXPECT_FALSE(find("Sample_Name,Sample_Group\nS1,a\n", pairs, error));
    EXPECT_NE(error.find("neither a Basename column nor Sentrix_ID"), std::string::npos) << error;
}

// --- A synthetic array and the formulas computed directly ---

struct Probe {
    std::string id;
    char design;  // 'R', 'G' (Type I) or '2'
    uint32_t a, b;
};

double ref_median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::pair<double, double> ref_huber(const std::vector<double>& y) {
    double mu = ref_median(y);
    std::vector<double> dev;
    for (double v : y) dev.push_back(std::fabs(v - mu));
    double s = 1.4826 * ref_median(dev);
    for (;;) {
        double sum = 0;
        for (double v : y) sum += std::min(std::max(v, mu - 1.5 * s), mu + 1.5 * s);
        double mu1 = sum / y.size();
        if (std::fabs(mu - mu1) < 1e-6 * s) return {mu, s};
        mu = mu1;
    }
}

double phi(double z) { return std::exp(-z * z / 2) / std::sqrt(2 * M_PI); }
double Phi(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }

struct Synthetic_array {
    std::vector<Probe> probes;
    std::map<std::string, std::vector<uint32_t>> controls;  // type -> addresses
    std::vector<uint32_t> addresses;

    explicit Synthetic_array(std::mt19937& random) {
        uint32_t next = 1000;
        for (int i = 0; i < 600; ++i) {
            char design = i % 3 == 0 ? 'R' : i % 3 == 1 ? 'G' : '2';
            Probe p{"cg" + std::to_string(10000 + i), design, next, design == '2' ? 0 : next + 1};
            next += 2 + random() % 5;
            probes.push_back(p);
        }
        for (const char* type : {"NEGATIVE", "NORM_A", "NORM_T", "NORM_C", "NORM_G", "STAINING"})
            for (int i = 0; i < (type[0] == 'N' && type[1] == 'E' ? 40 : 6); ++i) controls[type].push_back(next++);
        for (const Probe& p : probes) {
            addresses.push_back(p.a);
            if (p.design != '2') addresses.push_back(p.b);
        }
        for (const auto& [type, list] : controls) addresses.insert(addresses.end(), list.begin(), list.end());
        probes.push_back({"cg_off_array", 'R', 999999, 1000000});
    }

    std::string manifest() const {
        std::string text = "Illumina, Inc.,,\n[Heading],,\nDescriptor File Name,Synthetic.bpm\n[Assay],,\n"
                           "IlmnID,Name,AddressA_ID,AddressB_ID,Infinium_Design_Type,Color_Channel,CHR,MAPINFO,"
                           "Relation_to_UCSC_CpG_Island\n";
        for (size_t i = 0; i < probes.size(); ++i) {
            const Probe& p = probes[i];
            text += p.id + "," + p.id + "," + std::to_string(p.a) + "," + (p.design == '2' ? "" : std::to_string(p.b)) +
                    "," + (p.design == '2' ? "II," : p.design == 'R' ? "I,Red" : "I,Grn") + ",1," +
                    std::to_string(1000 + i) + ",Island\n";
        }
        text += text.substr(text.find("\ncg") + 1, text.find('\n', text.find("\ncg") + 1) - text.find("\ncg"));  // a repeated row
        text += "[Controls],,,\n";
        for (const auto& [type, list] : controls)
            for (uint32_t a : list) text += std::to_string(a) + "," + type + ",Red," + type + " " + std::to_string(a) + "\n";
        return text;
    }
};

// One sample's intensities by address in both channels, and its bead counts.
struct Synthetic_sample {
    std::map<uint32_t, double> green, red;
    std::map<uint32_t, uint8_t> beads;

    Synthetic_sample(const Synthetic_array& array, std::mt19937& random, double red_gain) {
        std::normal_distribution<double> background(400, 60);
        std::exponential_distribution<double> exponential(1.0 / 3000);
        auto level = [&](double x) { return std::min(65535.0, std::max(0.0, std::round(x))); };
        for (uint32_t a : array.addresses) {
            green[a] = level(background(random));
            red[a] = level(background(random) * red_gain);
            beads[a] = static_cast<uint8_t>(random() % 40 == 0 ? 2 : 5 + random() % 20);
        }
        for (const Probe& p : array.probes) {
            double scale = p.a % 4 == 0 ? 0.03 : 1.0;  // a quarter of the probes barely above background
            auto signal = [&](std::mt19937& r) { return scale * exponential(r); };
            if (p.design == '2') {
                green[p.a] = level(green[p.a] + signal(random));
                red[p.a] = level(red[p.a] + signal(random) * red_gain);
            } else {
                auto& channel = p.design == 'R' ? red : green;
                double gain = p.design == 'R' ? red_gain : 1.0;
                channel[p.a] = level(channel[p.a] + signal(random) * gain);
                channel[p.b] = level(channel[p.b] + signal(random) * gain);
            }
        }
        for (const char* type : {"NORM_C", "NORM_G"})
            for (uint32_t a : array.controls.at(type)) green[a] = level(green[a] + 8000);
        for (const char* type : {"NORM_A", "NORM_T"})
            for (uint32_t a : array.controls.at(type)) red[a] = level(red[a] + 8000 * red_gain);
    }

    std::string file(const Synthetic_array& array, bool is_green) const {
        Idat_content c;
        for (uint32_t a : array.addresses) {
            c.addresses.push_back(a);
            c.means.push_back(static_cast<uint16_t>((is_green ? green : red).at(a)));
            c.beads.push_back(beads.at(a));
        }
        return idat_bytes(c);
    }

    // Beta and detection p-value of each probe by the formulas, noob and negative controls or out-of-band.
    std::vector<std::pair<double, double>> expected(const Synthetic_array& array, bool oob_detection) const {
        std::vector<double> g_oob, r_oob, g_in, r_in;
        for (const Probe& p : array.probes) {
            if (!green.count(p.a)) continue;
            if (p.design == 'R') g_oob.insert(g_oob.end(), {green.at(p.a), green.at(p.b)}), r_in.insert(r_in.end(), {red.at(p.a), red.at(p.b)});
            if (p.design == 'G') r_oob.insert(r_oob.end(), {red.at(p.a), red.at(p.b)}), g_in.insert(g_in.end(), {green.at(p.a), green.at(p.b)});
            if (p.design == '2') g_in.push_back(green.at(p.a)), r_in.push_back(red.at(p.a));
        }
        auto noob = [](const std::vector<double>& oob, const std::vector<double>& in) {
            auto [mu, s] = ref_huber(oob);
            double alpha = std::max(ref_huber(in).first - mu, 10.0);
            return [=](double x) {
                double m = x - mu - s * s / alpha;
                return std::max(m + s * phi(m / s) / Phi(m / s), 1e-6) + 15;
            };
        };
        auto g_fix = noob(g_oob, g_in), r_fix = noob(r_oob, r_in);
        auto mean_of = [&](std::initializer_list<const char*> types, const std::map<uint32_t, double>& channel,
                           const std::function<double(double)>& fix) {
            double sum = 0;
            int n = 0;
            for (const char* type : types)
                for (uint32_t a : array.controls.at(type)) sum += fix(channel.at(a)), ++n;
            return sum / n;
        };
        double factor = mean_of({"NORM_C", "NORM_G"}, green, g_fix) / mean_of({"NORM_A", "NORM_T"}, red, r_fix);
        std::vector<double> neg_g, neg_r;
        for (uint32_t a : array.controls.at("NEGATIVE")) neg_g.push_back(green.at(a)), neg_r.push_back(red.at(a));
        auto spread = [](const std::vector<double>& v) {
            double mu = ref_median(v);
            std::vector<double> dev;
            for (double x : v) dev.push_back(std::fabs(x - mu));
            return std::make_pair(mu, 1.4826 * ref_median(dev));
        };
        auto [mu_g, sd_g] = spread(neg_g);
        auto [mu_r, sd_r] = spread(neg_r);
        std::vector<double> bg_g = g_oob, bg_r = r_oob;
        bg_g.insert(bg_g.end(), neg_g.begin(), neg_g.end());
        bg_r.insert(bg_r.end(), neg_r.begin(), neg_r.end());
        auto F = [](const std::vector<double>& bg, double x) {
            return double(std::count_if(bg.begin(), bg.end(), [&](double v) { return v <= x; })) / bg.size();
        };
        std::vector<std::pair<double, double>> out;
        for (const Probe& p : array.probes) {
            if (!green.count(p.a)) {
                out.emplace_back(0.5, 1.0);
                continue;
            }
            double M, U, m, u, pv;
            if (p.design == '2') {
                m = green.at(p.a), u = red.at(p.a), M = g_fix(m), U = r_fix(u) * factor;
                pv = oob_detection ? 1 - std::max(F(bg_g, m), F(bg_r, u)) : Phi(-(m + u - (mu_r + mu_g)) / (sd_r + sd_g));
            } else if (p.design == 'R') {
                m = red.at(p.b), u = red.at(p.a), M = r_fix(m) * factor, U = r_fix(u) * factor;
                pv = oob_detection ? 1 - F(bg_r, std::max(m, u)) : Phi(-(m + u - 2 * mu_r) / (2 * sd_r));
            } else {
                m = green.at(p.b), u = green.at(p.a), M = g_fix(m), U = g_fix(u);
                pv = oob_detection ? 1 - F(bg_g, std::max(m, u)) : Phi(-(m + u - 2 * mu_g) / (2 * sd_g));
            }
            uint8_t fewest = std::min(beads.at(p.a), p.design == '2' ? beads.at(p.a) : beads.at(p.b));
            out.emplace_back(M / (M + U + 100), fewest < 3 ? 1.0 : pv);
        }
        return out;
    }
};

std::vector<std::string> lines_of(const std::string& path) {
    Line_reader reader;
    std::vector<std::string> lines;
    std::string_view line;
    if (!reader.open(path)) return lines;
    while (reader.next(line)) lines.emplace_back(line.substr(0, line.size() - 1));
    return lines;
}

void expect_close(double got, double want, const std::string& where) {
    EXPECT_LE(std::fabs(got - want), 1e-5 * std::fabs(want) + 1e-300) << where << ": " << got << " vs " << want;
}

TEST(idat_import, synthetic_study_follows_the_formulas) {
    std::mt19937 random(test_seed());
    Synthetic_array array(random);
    Temp_dir dir;
    write_text(dir.file("manifest.csv"), array.manifest());
    std::string mac_manifest = array.manifest();  // the same manifest with CR-only line ends
    std::replace(mac_manifest.begin(), mac_manifest.end(), '\n', '\r');
    write_text(dir.file("manifest_cr.csv"), mac_manifest);
    write_text(dir.file("sheet.csv"), "[Header]\nInvestigator Name,x\n[Data]\n"
                                      "Sample_Name,Sample_Group,Sentrix_ID,Sentrix_Position\n"
                                      "S1,a,200000000001,R01C01\nS2,b,200000000001,R02C01\n");
    std::vector<Synthetic_sample> samples{{array, random, 1.0}, {array, random, 1.7}};
    write_text(dir.file("200000000001_R01C01_Grn.idat"), samples[0].file(array, true));
    write_text(dir.file("200000000001_R01C01_Red.idat"), samples[0].file(array, false));
    ASSERT_EQ(system(("mkdir -p " + dir.file("raw/GSE1")).c_str()), 0);
    write_text(dir.file("raw/GSE1/GSM0000002_200000000001_R02C01_Grn.idat.gz"), gzip_text(samples[1].file(array, true)));
    write_text(dir.file("raw/GSE1/GSM0000002_200000000001_R02C01_Red.idat.gz"), gzip_text(samples[1].file(array, false), 999));
    for (bool oob : {false, true}) {
        Idat_import job;
        job.sheet = dir.file("sheet.csv");
        job.manifest = dir.file(oob ? "manifest_cr.csv" : "manifest.csv");
        job.out_dir = dir.file(oob ? "oob" : "negative");
        job.preprocess.detection = oob ? Detection::oob : Detection::negative;
        job.threads = 2;
        Import_report report;
        std::string error;
        ASSERT_TRUE(import_idat(job, report, error)) << error;
        EXPECT_EQ(report.probes, array.probes.size());
        for (size_t s = 0; s < 2; ++s) {
            std::vector<std::string> lines = lines_of(job.out_dir + "/data/S" + std::to_string(s + 1) + ".txt.gz");
            auto want = samples[s].expected(array, oob);
            ASSERT_EQ(lines.size(), want.size());
            for (size_t i = 0; i < lines.size(); ++i) {
                std::istringstream fields(lines[i]);
                std::string id;
                double beta = 0, p = 0;
                fields >> id >> beta >> p;
                ASSERT_EQ(id, array.probes[i].id);
                expect_close(beta, want[i].first, lines[i]);
                expect_close(p, want[i].second, lines[i]);
            }
        }
        std::vector<std::string> qc = lines_of(job.out_dir + "/etc/qc.tsv");
        ASSERT_EQ(qc.size(), 3u);
        EXPECT_EQ(std::count(qc[2].begin(), qc[2].end(), '\t'), 15);
        EXPECT_NE(qc[2].find("/raw/GSE1/GSM0000002_200000000001_R02C01_Red.idat.gz\tBeadChip_8x5\t601\t"),
                  std::string::npos) << qc[2];
        EXPECT_EQ(read_text(job.out_dir + "/etc/description.xls"),
                  "# file\tsample\tSample_Group\n../data/S1.txt.gz\tS1\ta\n../data/S2.txt.gz\tS2\tb\n");
        EXPECT_EQ(lines_of(job.out_dir + "/data/probe.ann").size(), array.probes.size() + 1);
    }
}

}  // namespace
