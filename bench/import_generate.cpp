// import_generate: writes the inputs of cimbrel-import benchmarks, shaped like
// an EPIC study.
//   import_generate idat DIR SAMPLES [PROBES]
//     DIR/manifest.csv (PROBES probes, 15 % Type I split between the colours,
//     with NEGATIVE and NORM controls), DIR/sheet.csv (Sentrix columns) and
//     gzipped IDAT pairs named as GEO serves them,
//     DIR/idat/GSM<n>_<ID>_<Position>_{Grn,Red}.idat.gz, with about
//     1,050,000 addresses each (the array carries addresses the manifest
//     does not list).
//   import_generate matrix DIR SAMPLES [PROBES]
//     DIR/betas.txt.gz (tab separated, a Detection Pval column after each
//     sample, as GEO's processed matrices) and DIR/sheet.csv.
//   import_generate vendor DIR SAMPLES [PROBES]
//     the same study in the column order of the vendor software's export:
//     TargetID, then per sample S.AVG_Beta, S.Intensity, S.Avg_NBEADS,
//     S.BEAD_STDERR, S.Signal_A, S.Signal_B and S.Detection Pval (betas
//     with six decimals, detection p-values like 1.49560E-11), then the
//     annotation columns the software appends.
// Every random number comes from a std::mt19937_64 seeded by the sample.
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gzip_output.h"
#include "idat_writer.h"

namespace {

constexpr uint32_t extra_addresses = 42000;
const char* const control_types[] = {"NEGATIVE", "NORM_A", "NORM_T", "NORM_C", "NORM_G"};

struct Layout {
    std::vector<uint32_t> a, b;  // b == 0: Type II
    std::vector<char> colour;    // 'R', 'G' or '2'
    std::vector<uint32_t> controls;
    std::vector<uint32_t> addresses;
};

Layout make_layout(uint32_t probes) {
    Layout layout;
    std::mt19937_64 random(1);
    uint32_t next = 10000000;
    for (uint32_t i = 0; i < probes; ++i) {
        uint64_t draw = random() % 100;
        char colour = draw < 8 ? 'R' : draw < 15 ? 'G' : '2';
        layout.colour.push_back(colour);
        layout.a.push_back(next++);
        layout.b.push_back(colour == '2' ? 0 : next++);
    }
    for (int c = 0; c < 5 * 100; ++c) layout.controls.push_back(next++);
    for (uint32_t i = 10000000; i < next + extra_addresses; ++i) layout.addresses.push_back(i);
    return layout;
}

// Appends data to the file at path, creating it when missing (the
// importer's append_to_file never creates a file, on purpose).
bool write_file(const std::string& path, const std::string& data) {
    FILE* file = fopen(path.c_str(), "ab");
    const bool written = file != nullptr && fwrite(data.data(), 1, data.size(), file) == data.size();
    if ((file != nullptr && fclose(file) != 0) || !written) {
        fprintf(stderr, "import_generate: cannot write %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    return true;
}

bool write_manifest(const std::string& dir, const Layout& layout) {
    std::string text = "Illumina, Inc.,,,\n[Heading],,,\nDescriptor File Name,Synthetic_EPIC.bpm,,\n[Assay],,,\n"
                       "IlmnID,Name,AddressA_ID,AddressB_ID,Infinium_Design_Type,Color_Channel,CHR,MAPINFO,"
                       "Relation_to_UCSC_CpG_Island\n";
    char line[256];
    for (size_t i = 0; i < layout.a.size(); ++i) {
        const char* design = layout.colour[i] == '2' ? "II," : layout.colour[i] == 'R' ? "I,Red" : "I,Grn";
        std::string b = layout.b[i] == 0 ? "" : std::to_string(layout.b[i]);
        snprintf(line, sizeof line, "cg%08zu,cg%08zu,%u,%s,%s,%zu,%zu,%s\n", i, i, layout.a[i], b.c_str(), design,
                 1 + i % 22, 10000 + 150 * i, i % 3 == 0 ? "Island" : "");
        text += line;
    }
    text += "[Controls],,,\n";
    for (size_t c = 0; c < layout.controls.size(); ++c)
        text += std::to_string(layout.controls[c]) + "," + control_types[c % 5] + ",Red,control " +
                std::to_string(c) + "\n";
    return write_file(dir + "/manifest.csv", text);
}

// One sample's pair: background plus a methylation-dependent signal.
bool write_pair(const std::string& dir, const Layout& layout, int sample, Gzip_compressor& compressor) {
    std::mt19937_64 random(1000 + sample);
    std::normal_distribution<double> background(400, 60);
    std::uniform_real_distribution<double> unit(0, 1);
    const size_t n = layout.addresses.size();
    Idat_content green, red;
    for (Idat_content* c : {&green, &red}) {
        c->addresses = layout.addresses;
        c->means.resize(n);
        c->beads.resize(n);
        c->barcode = "2000000000" + std::to_string(10 + sample / 8);
    }
    auto level = [](double x) { return static_cast<uint16_t>(std::min(65535.0, std::max(0.0, x))); };
    for (size_t i = 0; i < n; ++i) {
        green.means[i] = level(background(random));
        red.means[i] = level(background(random));
        green.beads[i] = red.beads[i] = static_cast<uint8_t>(4 + random() % 16);
    }
    const uint32_t base = layout.addresses[0];
    for (size_t p = 0; p < layout.a.size(); ++p) {
        double beta = unit(random) < 0.5 ? 0.1 * unit(random) : 0.8 + 0.2 * unit(random), total = 2000 + 8000 * unit(random);
        size_t a = layout.a[p] - base, b = layout.b[p] - base;
        if (layout.colour[p] == '2') {
            green.means[a] = level(green.means[a] + beta * total);
            red.means[a] = level(red.means[a] + (1 - beta) * total);
        } else {
            Idat_content& c = layout.colour[p] == 'R' ? red : green;
            c.means[a] = level(c.means[a] + (1 - beta) * total);
            c.means[b] = level(c.means[b] + beta * total);
        }
    }
    for (size_t c = 0; c < layout.controls.size(); ++c) {
        size_t at = layout.controls[c] - base;
        if (c % 5 == 3 || c % 5 == 4) green.means[at] = level(green.means[at] + 6000);
        if (c % 5 == 1 || c % 5 == 2) red.means[at] = level(red.means[at] + 5000);
    }
    char name[128];
    std::string member;
    for (int colour = 0; colour < 2; ++colour) {
        snprintf(name, sizeof name, "/idat/GSM%07d_%s_R%02dC01_%s.idat.gz", 3000000 + sample,
                 green.barcode.c_str(), 1 + sample % 8, colour == 0 ? "Grn" : "Red");
        if (!compressor.compress(idat_bytes(colour == 0 ? green : red), member) || !write_file(dir + name, member))
            return false;
    }
    return true;
}

bool write_sheet(const std::string& dir, int samples, bool sentrix) {
    std::string text = sentrix ? "Sample_Name,Sample_Group,Sentrix_ID,Sentrix_Position\n" : "Sample_Name,Sample_Group\n";
    for (int s = 0; s < samples; ++s) {
        text += "S" + std::to_string(s + 1) + "," + (s % 2 == 0 ? "case" : "control");
        if (sentrix) text += ",2000000000" + std::to_string(10 + s / 8) + ",R" + (s % 8 < 9 ? "0" : "") +
                             std::to_string(1 + s % 8) + "C01";
        text += "\n";
    }
    return write_file(dir + "/sheet.csv", text);
}

bool write_matrix(const std::string& dir, int samples, uint32_t probes, bool vendor, Gzip_compressor& compressor) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    std::string text = vendor ? "TargetID" : "ID_REF", member;
    for (int s = 0; s < samples; ++s) {
        const std::string name = "S" + std::to_string(s + 1);
        if (vendor) {
            for (const char* suffix : {".AVG_Beta", ".Intensity", ".Avg_NBEADS", ".BEAD_STDERR", ".Signal_A",
                                       ".Signal_B", ".Detection Pval"})
                text += "\t" + name + suffix;
        } else {
            text += "\t" + name + "\tDetection Pval";
        }
    }
    text += vendor ? "\tSEARCH_KEY\tCHROMOSOME\tMAPINFO\n" : "\n";
    char cell[160];
    for (uint32_t p = 0; p < probes; ++p) {
        snprintf(cell, sizeof cell, "cg%08u", p);
        text += cell;
        for (int s = 0; s < samples; ++s) {
            const double beta = unit(random), detection = unit(random) < 0.99 ? 1e-8 * unit(random) : unit(random);
            if (vendor) {
                const double a = 500 + 9000 * unit(random), b = 500 + 9000 * unit(random);
                snprintf(cell, sizeof cell, "\t%.6f\t%.0f\t%d\t%.4f\t%.0f\t%.0f\t%.5E", beta, a + b,
                         8 + static_cast<int>(12 * unit(random)), 50 * unit(random), a, b, detection);
            } else {
                snprintf(cell, sizeof cell, "\t%.6g\t%.3g", beta, detection);
            }
            text += cell;
        }
        if (vendor) {
            snprintf(cell, sizeof cell, "\tcg%08u\t%u\t%u", p, 1 + p % 22, 10000 + 37 * p);
            text += cell;
        }
        text += "\n";
        if (text.size() < (size_t(16) << 20) && p + 1 < probes) continue;
        if (!compressor.compress(text, member) || !write_file(dir + "/betas.txt.gz", member)) return false;
        text.clear();
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || (std::string(argv[1]) != "idat" && std::string(argv[1]) != "matrix" &&
                     std::string(argv[1]) != "vendor")) {
        fprintf(stderr, "usage: import_generate idat|matrix|vendor DIR SAMPLES [PROBES]\n");
        return 1;
    }
    std::string kind = argv[1], dir = argv[2];
    int samples = atoi(argv[3]);
    uint32_t probes = argc > 4 ? static_cast<uint32_t>(atol(argv[4])) : 865918;
    Gzip_compressor compressor;
    if (system(("mkdir -p '" + dir + "/idat'").c_str()) != 0) return 1;
    if (!write_sheet(dir, samples, kind == "idat")) return 1;
    if (kind != "idat") return write_matrix(dir, samples, probes, kind == "vendor", compressor) ? 0 : 1;
    Layout layout = make_layout(probes);
    if (!write_manifest(dir, layout)) return 1;
    for (int s = 0; s < samples; ++s)
        if (!write_pair(dir, layout, s, compressor)) return 1;
    return 0;
}
