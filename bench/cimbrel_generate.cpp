// cimbrel_generate: writes a synthetic methylation-array study for benchmarks
// and examples. The layout imitates a 450K/EPIC study: probes sit in CpG-island
// clusters (5-20 probes, 20-80 bp apart) or alone in the open sea, betas are
// bimodal with beta-distributed noise, about 1% of detections fail, a few
// rs-prefixed SNP probes show genotype clusters, and some probes and whole
// clusters differ between the groups (or follow the continuous variable) by a
// shift on the logit scale. Covariables (age, sex, then principal-component
// like scores) have mild effects, and every sample carries a small technical
// distortion that quantile normalisation is meant to remove.
//
// Output folder:
//   etc/description.xls        configuration (paths relative to run/)
//   data/samples/<sample>.txt  probe id, beta, detection p, one probe per line
//                              (number forms chosen by --style, line ends by --crlf)
//   data/probe.ann             probe id, chromosome, position, annotation
//   data/cpgIslandExt.txt      chromosome, start, end (half-open), island name
//   data/differential.txt      the probes given a true effect, with its size
//   run/                       empty: run cimbrel from here
//
// Every random number comes from std::mt19937_64 streams derived from the
// seed (one for the layout, one per sample), through the samplers below rather
// than the standard library's distributions, whose output differs between
// library versions: a seed gives the same study with any thread count.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include <isa-l/igzip_lib.h>

namespace {

// How the numbers of a data file are written. plain: every beta and detection
// p-value with --digits decimals, most detected p-values as 0. mixed: what
// data files of different origins hold side by side: betas with 4 to 8
// decimals, detection p-values as plain decimals, as 0, and in exponent form
// with e or E and 2- or 3-digit exponents. vendor: the way the array
// vendor's software writes them: betas with six decimals, the p-values of
// detected probes in exponent form (1.49560e-11, 3.678E-38), those of failed
// probes as plain decimals.
enum class Style : uint8_t { plain, mixed, vendor };

struct Options {
    uint32_t probes = 3000;
    uint32_t samples = 12;
    uint32_t groups = 2;
    uint32_t covariables = 1;
    bool continuous = false;
    uint64_t seed = 1;
    std::string out = "study";
    uint32_t threads = 2;
    uint32_t digits = 6;  // decimals of betas and detection p-values (plain style)
    bool gzip = false;    // data files gzip-compressed (<sample>.txt.gz)
    Style style = Style::plain;
    bool crlf = false;    // data lines end in CR LF, as files written on Windows do
    std::string ids;      // identifiers to give some probes (first field of each line after a header)
};

enum class Kind : uint8_t { island, open_sea, snp };

struct Probe {
    std::string id;
    uint32_t chr = 0;         // index into chromosome_table
    uint32_t pos = 0;
    Kind kind = Kind::open_sea;
    double mean_logit = 0.0;  // methylation level before any effect
    double concentration = 50.0;  // beta-distribution precision of the noise
    double effect = 0.0;      // logit shift per group step or per unit of the continuous value
    double failure_rate = 0.005;
    double allele_freq = 0.5;  // SNP probes only
};

struct Island {
    uint32_t chr, start, end;  // half-open
};

struct Sample {
    std::string name;
    uint32_t group = 0;
    double value = 0.0;             // continuous variable
    std::vector<double> covariate;  // as written to the configuration
    double offset = 0.0, scale = 1.0;  // technical distortion on the logit scale
};

struct Study {
    std::vector<Probe> probes;      // identifier order, like an array manifest and the data files
    std::vector<Island> islands;    // genome order
    std::vector<double> slopes;     // probes x covariables, logit per covariable unit
    std::vector<Sample> samples;
};

struct Chromosome {
    const char* name;
    uint32_t length;
};

// hg19 lengths, rounded.
const Chromosome chromosome_table[] = {
    {"chr1", 249250621}, {"chr2", 243199373}, {"chr3", 198022430}, {"chr4", 191154276},
    {"chr5", 180915260}, {"chr6", 171115067}, {"chr7", 159138663}, {"chr8", 146364022},
    {"chr9", 141213431}, {"chr10", 135534747}, {"chr11", 135006516}, {"chr12", 133851895},
    {"chr13", 115169878}, {"chr14", 107349540}, {"chr15", 102531392}, {"chr16", 90354753},
    {"chr17", 81195210}, {"chr18", 78077248}, {"chr19", 59128983}, {"chr20", 63025520},
    {"chr21", 48129895}, {"chr22", 51304566}, {"chrX", 155270560}, {"chrY", 59373566},
};
constexpr uint32_t chromosome_count = sizeof(chromosome_table) / sizeof(chromosome_table[0]);

// Layout constants. A feature is a cluster or a single open-sea probe (rarely
// a close pair); features lie at least min_gap apart, so only the probes of
// one feature are within 100 bp of each other, and an island never reaches
// into a neighbouring feature (its margins are at most island_margin).
constexpr double cluster_share = 0.0433;  // features that are clusters: about 35% of probes
constexpr double pair_share = 0.05;       // open-sea features that are two close probes
constexpr double empty_island_share = 0.006;  // gaps that hold an island without probes
constexpr double open_sea_island_share = 0.045;  // single probes and pairs inside a small island
constexpr uint32_t min_gap = 700;
constexpr uint32_t island_margin = 300;
constexpr double mean_probes_per_feature = 1.546;

// ---- random numbers -------------------------------------------------------

using Rng = std::mt19937_64;

double uniform(Rng& rng) { return static_cast<double>(rng() >> 11) * 0x1.0p-53; }

double uniform(Rng& rng, double low, double high) { return low + (high - low) * uniform(rng); }

uint32_t uniform_int(Rng& rng, uint32_t low, uint32_t high) {  // inclusive
    return low + static_cast<uint32_t>(uniform(rng) * (high - low + 1.0));
}

double normal(Rng& rng) {
    double u = 1.0 - uniform(rng);  // (0, 1]
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * M_PI * uniform(rng));
}

// Marsaglia and Tsang's method; shapes below 1 are boosted by one and scaled back.
double gamma(Rng& rng, double shape) {
    if (shape < 1.0) return gamma(rng, shape + 1.0) * std::pow(1.0 - uniform(rng), 1.0 / shape);
    double d = shape - 1.0 / 3.0, c = 1.0 / std::sqrt(9.0 * d);
    for (;;) {
        double x = normal(rng), v = 1.0 + c * x;
        if (v <= 0.0) continue;
        v = v * v * v;
        double u = 1.0 - uniform(rng);
        if (std::log(u) < 0.5 * x * x + d - d * v + d * std::log(v)) return d * v;
    }
}

double beta_draw(Rng& rng, double a, double b) {
    double x = gamma(rng, a), y = gamma(rng, b);
    return x / (x + y);
}

double logit(double beta) { return std::log(beta / (1.0 - beta)); }
double inverse_logit(double m) { return 1.0 / (1.0 + std::exp(-m)); }

// An independent stream per sample, so samples can be written in any order.
Rng sample_rng(uint64_t seed, uint32_t sample) {
    std::seed_seq sequence{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32), sample, 0x5eedu};
    return Rng(sequence);
}

// ---- probe layout ---------------------------------------------------------

uint32_t chromosomes_used(uint32_t probes) {
    return std::min(chromosome_count, std::max(1u, probes / 400));
}

// Probes per chromosome, in proportion to its length.
std::vector<uint32_t> probe_quota(uint32_t probes) {
    uint32_t used = chromosomes_used(probes);
    double total = 0.0;
    for (uint32_t c = 0; c < used; ++c) total += chromosome_table[c].length;
    std::vector<uint32_t> quota(used);
    uint32_t given = 0;
    for (uint32_t c = 0; c + 1 < used; ++c) {
        quota[c] = static_cast<uint32_t>(probes * (chromosome_table[c].length / total));
        given += quota[c];
    }
    quota[used - 1] = probes - given;
    return quota;
}

double level_logit(Rng& rng, Kind kind) {
    double r = uniform(rng);
    double low = kind == Kind::island ? 0.80 : 0.15, high = kind == Kind::island ? 0.15 : 0.70;
    if (r < low) return logit(uniform(rng, 0.03, 0.15));
    if (r < low + high) return logit(uniform(rng, 0.72, 0.93));
    return logit(uniform(rng, 0.30, 0.70));
}

void add_probe(Study& study, Rng& rng, uint32_t chr, uint32_t pos, Kind kind) {
    Probe probe;
    probe.chr = chr;
    probe.pos = pos;
    probe.kind = kind;
    probe.mean_logit = level_logit(rng, kind);
    probe.concentration = uniform(rng, 40.0, 120.0);
    probe.failure_rate = uniform(rng) < 0.02 ? 0.25 : 0.005;
    study.probes.push_back(probe);
}

// One cluster of count probes starting at pos, with its island; returns the
// position of its last probe.
uint32_t lay_cluster(Study& study, Rng& rng, uint32_t chr, uint32_t pos, uint32_t count) {
    uint32_t first = pos;
    for (uint32_t k = 0; k < count; ++k) {
        if (k > 0) pos += uniform_int(rng, 20, 80);
        add_probe(study, rng, chr, pos, Kind::island);
    }
    study.islands.push_back({chr, first - uniform_int(rng, 0, island_margin),
                             pos + 1 + uniform_int(rng, 0, island_margin)});
    return pos;
}

// Lays out one chromosome: features separated by gaps of min_gap plus an
// exponential part whose mean spreads the remaining features over the rest of
// the chromosome, so that the probes end near its real length.
void lay_chromosome(Study& study, Rng& rng, uint32_t chr, uint32_t quota) {
    double end = chromosome_table[chr].length * 0.99;
    uint32_t pos = 10000 + uniform_int(rng, 0, 10000);
    while (quota > 0) {
        double mean_gap = std::max(0.0, (end - pos) * mean_probes_per_feature / quota - min_gap);
        uint32_t count = 1;
        if (quota >= 5 && uniform(rng) < cluster_share) count = std::min(quota, uniform_int(rng, 5, 20));
        if (count > 1) {
            pos = lay_cluster(study, rng, chr, pos, count);
        } else {
            const uint32_t first = pos;
            add_probe(study, rng, chr, pos, Kind::open_sea);
            if (quota >= 2 && uniform(rng) < pair_share) {
                pos += uniform_int(rng, 20, 100);
                add_probe(study, rng, chr, pos, Kind::open_sea);
                count = 2;
            }
            // Many real islands hold only one or two array probes.
            if (uniform(rng) < open_sea_island_share)
                study.islands.push_back({chr, first - uniform_int(rng, 0, island_margin),
                                         pos + 1 + uniform_int(rng, 0, island_margin)});
        }
        quota -= count;
        uint32_t gap = min_gap + static_cast<uint32_t>(-mean_gap * std::log(1.0 - uniform(rng)));
        if (gap >= 3000 && uniform(rng) < empty_island_share) {
            uint32_t length = uniform_int(rng, 300, 1500), start = pos + gap / 2 - length / 2;
            study.islands.push_back({chr, start, start + length});
        }
        pos += gap;
    }
}

// Turns a few open-sea probes into SNP probes measuring a genotype: about 65
// on a full array, at least 3 from 300 probes on, none in smaller studies.
void mark_snp_probes(Study& study, Rng& rng) {
    uint32_t count = static_cast<uint32_t>(study.probes.size());
    uint32_t wanted = std::min(std::max(3u, count / 13000), count / 100);
    for (uint32_t made = 0, tries = 0; made < wanted && tries < 100 * wanted; ++tries) {
        Probe& probe = study.probes[uniform_int(rng, 0, static_cast<uint32_t>(study.probes.size() - 1))];
        if (probe.kind != Kind::open_sea) continue;
        probe.kind = Kind::snp;
        probe.allele_freq = uniform(rng, 0.2, 0.8);
        ++made;
    }
}

// Unique random identifiers: cg and eight digits, or rs and a number.
void name_probes(Study& study, Rng& rng) {
    std::unordered_set<uint64_t> taken;
    taken.reserve(2 * study.probes.size());
    char id[32];
    for (Probe& probe : study.probes) {
        uint64_t number;
        do number = rng() % 100000000;
        while (!taken.insert(number).second);
        if (probe.kind == Kind::snp)
            snprintf(id, sizeof(id), "rs%llu", static_cast<unsigned long long>(1000000 + number));
        else
            snprintf(id, sizeof(id), "cg%08llu", static_cast<unsigned long long>(number));
        probe.id = id;
    }
}

// The identifiers of a table with a header line (a cell reference, say):
// the first field of every other line, quotes removed.
std::vector<std::string> read_ids(const std::string& path) {
    std::vector<std::string> ids;
    FILE* in = fopen(path.c_str(), "r");
    if (in == nullptr) return ids;
    char line[65536];
    for (bool header = true; fgets(line, sizeof line, in) != nullptr; header = false) {
        if (header) continue;
        std::string id(line, strcspn(line, " \t,\r\n"));
        id.erase(std::remove(id.begin(), id.end(), '"'), id.end());
        if (!id.empty()) ids.push_back(id);
    }
    fclose(in);
    return ids;
}

// Gives the listed identifiers to non-SNP probes spread over the study
// (an identifier some probe already has is skipped).
void adopt_ids(Study& study, const std::vector<std::string>& ids) {
    std::unordered_set<std::string> taken;
    for (const Probe& probe : study.probes) taken.insert(probe.id);
    const size_t step = std::max<size_t>(1, study.probes.size() / (ids.size() + 1));
    size_t at = 0;
    for (const std::string& id : ids) {
        while (at < study.probes.size() && study.probes[at].kind == Kind::snp) ++at;
        if (at >= study.probes.size()) return;
        if (!taken.insert(id).second) continue;
        study.probes[at].id = id;
        at += step;
    }
}

// True effects: 10% of clusters as a whole, 2% of single open-sea probes.
void assign_effects(Study& study, Rng& rng) {
    size_t i = 0;
    while (i < study.probes.size()) {
        size_t end = i + 1;
        if (study.probes[i].kind == Kind::island) {
            while (end < study.probes.size() && study.probes[end].kind == Kind::island &&
                   study.probes[end].chr == study.probes[i].chr &&
                   study.probes[end].pos - study.probes[end - 1].pos <= 80)
                ++end;
        }
        bool cluster = study.probes[i].kind == Kind::island;
        if (study.probes[i].kind != Kind::snp && uniform(rng) < (cluster ? 0.10 : 0.02)) {
            double size = uniform(rng, 1.5, 3.0) * (uniform(rng) < 0.5 ? -1.0 : 1.0);
            for (size_t k = i; k < end; ++k) study.probes[k].effect = size * uniform(rng, 0.7, 1.0);
        }
        i = end;
    }
}

// Mild covariable effects: age per year, sex, then unit-variance scores.
void assign_slopes(Study& study, Rng& rng, uint32_t covariables) {
    study.slopes.assign(study.probes.size() * covariables, 0.0);
    const double spread[] = {0.004, 0.1, 0.05};
    for (size_t i = 0; i < study.probes.size(); ++i)
        for (uint32_t j = 0; j < covariables; ++j)
            study.slopes[i * covariables + j] = spread[std::min(j, 2u)] * normal(rng);
}

// ---- samples --------------------------------------------------------------

std::string group_name(uint32_t group, uint32_t groups) {
    if (groups == 2) return group == 0 ? "control" : "case";
    return "group" + std::to_string(group + 1);
}

std::string covariable_name(uint32_t j) {
    if (j == 0) return "age";
    if (j == 1) return "sex";
    return "pc" + std::to_string(j - 1);
}

void make_samples(Study& study, Rng& rng, const Options& options) {
    size_t width = std::max<size_t>(2, std::to_string(options.samples).size());
    for (uint32_t s = 0; s < options.samples; ++s) {
        Sample sample;
        std::string number = std::to_string(s + 1);
        sample.name = "S" + std::string(width - number.size(), '0') + number;
        sample.group = static_cast<uint32_t>(uint64_t(s) * options.groups / options.samples);
        sample.value = std::round(normal(rng) * 1000.0) / 1000.0;
        for (uint32_t j = 0; j < options.covariables; ++j) {
            double v = j == 0 ? uniform_int(rng, 20, 80) : j == 1 ? uniform_int(rng, 0, 1) : normal(rng);
            sample.covariate.push_back(std::round(v * 1000.0) / 1000.0);
        }
        sample.offset = 0.08 * normal(rng);
        sample.scale = uniform(rng, 0.95, 1.05);
        study.samples.push_back(sample);
    }
}

// ---- writing --------------------------------------------------------------

// Appends units / scale, a value in [0, 1] with scale = 10^digits, as a
// decimal with exactly digits decimals.
void append_fixed(std::string& text, uint64_t units, uint32_t digits, uint64_t scale) {
    char buffer[24];
    buffer[0] = units >= scale ? '1' : '0';
    buffer[1] = '.';
    uint64_t fraction = units >= scale ? 0 : units;
    for (uint32_t d = digits; d > 0; --d) {
        buffer[1 + d] = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    text.append(buffer, digits + 2);
}

// Methylation mean of one probe in one sample, on the logit scale.
double sample_mean(const Study& study, const Options& options, size_t i, const Sample& sample, Rng& rng) {
    const Probe& probe = study.probes[i];
    double m = probe.mean_logit;
    if (probe.kind == Kind::snp) {
        uint32_t alleles = (uniform(rng) < probe.allele_freq) + (uniform(rng) < probe.allele_freq);
        m = logit(alleles == 0 ? 0.08 : alleles == 1 ? 0.5 : 0.92);
    }
    double step = options.continuous ? sample.value
                                     : options.groups > 1 ? double(sample.group) / (options.groups - 1) : 0.0;
    m += probe.effect * step;
    for (uint32_t j = 0; j < options.covariables; ++j) {
        double centred = sample.covariate[j] - (j == 0 ? 50.0 : j == 1 ? 0.5 : 0.0);
        m += study.slopes[i * options.covariables + j] * centred;
    }
    return sample.offset + sample.scale * m;
}

// Appends value (in (0, 1)) in exponent form with the given decimals in the
// mantissa and mark (e or E), the exponent with at least exponent_digits
// digits (2 as C writes it, 3 as some Windows tools do).
void append_exponent(std::string& text, double value, int decimals, char mark, int exponent_digits) {
    char buffer[40];
    int length = snprintf(buffer, sizeof(buffer), "%.*e", decimals, value);
    char* e = strchr(buffer, 'e');
    if (e == nullptr || length <= 0) return;
    *e = mark;
    const int exponent = atoi(e + 1);
    snprintf(e + 1, sizeof(buffer) - static_cast<size_t>(e + 1 - buffer), "%c%0*d", exponent < 0 ? '-' : '+',
             exponent_digits, std::abs(exponent));
    text += buffer;
}

// The detection p-value of a detected probe, which array software reports
// anywhere from just under 0.05 to far below 1e-100: mostly tiny.
double detected_p(Rng& rng) {
    const double u = uniform(rng);
    if (u < 0.15) return 0.05 * uniform(rng) * uniform(rng);     // weak signal: 1e-2 .. 5e-2 and below
    if (u < 0.97) return std::pow(10.0, -uniform(rng, 3.0, 45.0));
    return std::pow(10.0, -uniform(rng, 100.0, 300.0));          // 3-digit exponents
}

// The detection p-value in the form the style gives it.
void append_detection(std::string& text, const Options& options, bool failed, double p, uint64_t p_units,
                      uint64_t scale, Rng& rng) {
    if (options.style == Style::plain) {
        if (!failed && uniform(rng) < 0.7)
            text += '0';  // a detection far above background, as array software reports it
        else
            append_fixed(text, std::min(p_units, scale), options.digits, scale);
        return;
    }
    if (options.style == Style::vendor) {
        if (failed) append_fixed(text, std::min(p_units, scale), 6, scale);
        else if (uniform(rng) < 0.8) append_exponent(text, p, 5, 'e', 2);
        else append_exponent(text, p, 3, 'E', 2);
        return;
    }
    const double u = uniform(rng);
    if (!failed && u < 0.2) text += '0';
    else if (failed || u < 0.45) append_fixed(text, std::min(p_units, scale), options.digits, scale);
    else append_exponent(text, p, static_cast<int>(uniform_int(rng, 2, 8)), u < 0.8 ? 'e' : 'E',
                         u < 0.95 ? 2 : 3);
}

// Decimals of one beta value: the style's, or 4 to 8 when mixed.
uint32_t beta_digits(const Options& options, Rng& rng) {
    if (options.style == Style::vendor) return 6;
    if (options.style == Style::mixed) return uniform_int(rng, 4, 8);
    return options.digits;
}

// One data line: id, beta, detection p. A failed detection gets a p-value
// strictly above 0.05 after rounding and a beta of no particular level.
void append_line(std::string& text, const Study& study, const Options& options, size_t i,
                 const Sample& sample, Rng& rng) {
    const Probe& probe = study.probes[i];
    const uint32_t digits = beta_digits(options, rng);
    uint64_t scale = 1;
    for (uint32_t d = 0; d < digits; ++d) scale *= 10;
    bool failed = uniform(rng) < probe.failure_rate;
    double mean = inverse_logit(sample_mean(study, options, i, sample, rng));
    double beta = failed ? beta_draw(rng, 2.0, 2.0)
                         : beta_draw(rng, mean * probe.concentration, (1.0 - mean) * probe.concentration);
    beta = std::min(0.999, std::max(0.001, beta));
    double p_draw = uniform(rng);
    uint64_t p_units = failed ? scale / 20 + 1 + static_cast<uint64_t>(p_draw * (scale - scale / 20))
                              : static_cast<uint64_t>(p_draw * p_draw * 0.05 * scale);
    text += probe.id;
    text += '\t';
    // Never exactly 0 or 1, whose logit is infinite.
    uint64_t beta_units = std::min(scale - 1, std::max<uint64_t>(1, std::llround(beta * scale)));
    append_fixed(text, beta_units, digits, scale);
    text += '\t';
    const double p = options.style == Style::plain || failed ? 0.0 : detected_p(rng);
    append_detection(text, options, failed, p, p_units, scale, rng);
    if (options.crlf) text += '\r';
    text += '\n';
}

// text as one gzip member (ISA-L, fastest level): studies too large for the
// disk as plain text still fit compressed.
std::string gzip_member(const std::string& text) {
    isal_zstream stream;
    isal_deflate_stateless_init(&stream);
    std::vector<uint8_t> level(ISAL_DEF_LVL1_DEFAULT);
    std::string out(text.size() + text.size() / 8 + 4096, '\0');
    stream.level = 1;
    stream.level_buf = level.data();
    stream.level_buf_size = static_cast<uint32_t>(level.size());
    stream.gzip_flag = IGZIP_GZIP;
    stream.end_of_stream = 1;
    stream.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uint32_t>(text.size());
    stream.next_out = reinterpret_cast<uint8_t*>(&out[0]);
    stream.avail_out = static_cast<uint32_t>(out.size());
    if (isal_deflate_stateless(&stream) != COMP_OK) return std::string();
    out.resize(stream.total_out);
    return out;
}

bool write_file(const std::string& path, const std::string& text) {
    FILE* file = fopen(path.c_str(), "w");
    if (file == nullptr) {
        fprintf(stderr, "cimbrel_generate: cannot create %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = (fclose(file) == 0) && ok;
    if (!ok) fprintf(stderr, "cimbrel_generate: cannot write %s\n", path.c_str());
    return ok;
}

std::string sample_file(const Options& options, const Sample& sample) {
    return sample.name + (options.gzip ? ".txt.gz" : ".txt");
}

std::string sample_path(const Options& options, const Sample& sample) {
    return options.out + "/data/samples/" + sample_file(options, sample);
}

// Worker t of n writes the samples t, t+n, t+2n, ...
void write_samples_thread(const Study& study, const Options& options, uint32_t t, uint32_t n,
                          std::atomic<bool>& ok) {
    std::string text;
    text.reserve(study.probes.size() * (16 + 2 * (std::max(options.digits, 8u) + 8)));
    for (uint32_t s = t; s < study.samples.size(); s += n) {
        Rng rng = sample_rng(options.seed, s);
        text.clear();
        for (size_t i = 0; i < study.probes.size(); ++i)
            append_line(text, study, options, i, study.samples[s], rng);
        if (!write_file(sample_path(options, study.samples[s]), options.gzip ? gzip_member(text) : text)) ok = false;
    }
}

bool write_samples(const Study& study, const Options& options) {
    std::atomic<bool> ok{true};
    std::vector<std::thread> workers;
    for (uint32_t t = 0; t < options.threads; ++t)
        workers.emplace_back(write_samples_thread, std::cref(study), std::cref(options), t, options.threads,
                             std::ref(ok));
    for (std::thread& worker : workers) worker.join();
    return ok;
}

bool write_configuration(const Study& study, const Options& options) {
    std::string text = options.continuous ? "# data_file\tsample\tvalue" : "# data_file\tsample\tgroup";
    for (uint32_t j = 0; j < options.covariables; ++j) text += "\t" + covariable_name(j);
    text += "\n";
    char number[32];
    for (const Sample& sample : study.samples) {
        text += "../data/samples/" + sample_file(options, sample) + "\t" + sample.name + "\t";
        if (options.continuous) {
            snprintf(number, sizeof(number), "%g", sample.value);
            text += number;
        } else {
            text += group_name(sample.group, options.groups);
        }
        for (double v : sample.covariate) {
            snprintf(number, sizeof(number), "\t%g", v);
            text += number;
        }
        text += "\n";
    }
    return write_file(options.out + "/etc/description.xls", text);
}

bool write_annotation(const Study& study, const Options& options) {
    std::string text = "# id\tchr\tposition\tannotation\n";
    const char* kind_name[] = {"Island", "OpenSea", "SNP"};
    for (const Probe& probe : study.probes) {
        text += probe.id + "\t" + chromosome_table[probe.chr].name + "\t" + std::to_string(probe.pos) + "\t" +
                kind_name[static_cast<int>(probe.kind)] + "\n";
    }
    return write_file(options.out + "/data/probe.ann", text);
}

bool write_islands(const Study& study, const Options& options) {
    std::vector<Island> islands = study.islands;
    std::sort(islands.begin(), islands.end(), [](const Island& a, const Island& b) {
        return a.chr != b.chr ? a.chr < b.chr : a.start < b.start;
    });
    std::string text = "# chrom\tstart\tend\tname\n";
    for (size_t k = 0; k < islands.size(); ++k) {
        text += std::string(chromosome_table[islands[k].chr].name) + "\t" + std::to_string(islands[k].start) +
                "\t" + std::to_string(islands[k].end) + "\tCGI_" + std::to_string(k + 1) + "\n";
    }
    return write_file(options.out + "/data/cpgIslandExt.txt", text);
}

bool write_truth(const Study& study, const Options& options) {
    std::string text = "# id\tchr\tposition\tlogit_shift\n";
    char number[32];
    for (const Probe& probe : study.probes) {
        if (probe.effect == 0.0) continue;
        snprintf(number, sizeof(number), "%.3f", probe.effect);
        text += probe.id + "\t" + chromosome_table[probe.chr].name + "\t" + std::to_string(probe.pos) + "\t" +
                number + "\n";
    }
    return write_file(options.out + "/data/differential.txt", text);
}

// ---- command line ---------------------------------------------------------

void usage() {
    puts("Usage: cimbrel_generate [options]\n"
         "Writes a synthetic methylation study into a folder laid out for cimbrel.\n"
         "\n"
         "--out DIR           output folder (default study); run cimbrel from DIR/run\n"
         "--probes N          probes, at most 5000000 (default 3000; 450K: 485577, EPIC: 865918)\n"
         "--samples N         samples (default 12)\n"
         "--groups N          sample groups, in consecutive blocks (default 2: control, case)\n"
         "--continuous        give every sample a continuous value instead of a group\n"
         "--gzip              write the data files gzip-compressed (<sample>.txt.gz)\n"
         "--covariables N     covariables: age, sex, then scores pc1, pc2, ... (default 1)\n"
         "--seed N            random seed (default 1); the same seed gives the same study\n"
         "--threads N         samples written in parallel (default 2); output does not depend on it\n"
         "--ids FILE          give some probes the identifiers listed in FILE (first field of\n"
         "                    each line after a header, as in a cell reference)\n"
         "--digits N          decimals of betas and detection p-values, 2 to 9 (default 6; plain style)\n"
         "--style S           number forms of the data files: plain (default; --digits decimals),\n"
         "                    mixed (betas with 4-8 decimals, detection p-values as decimals and\n"
         "                    in exponent form, e or E, 2- or 3-digit exponents) or vendor (the\n"
         "                    array software's: 6-decimal betas, detected p-values like 1.49560e-11)\n"
         "--crlf              end the data lines in CR LF\n"
         "--help              print this text\n"
         "\n"
         "Probes lie on chr1, chr2, ... (one chromosome per 400 probes, at most 24).\n"
         "Run cimbrel with --covariable N (and --continuous) to match.");
}

bool read_count(const char* text, uint64_t low, uint64_t high, uint64_t& out) {
    char* end = nullptr;
    errno = 0;
    unsigned long long value = strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-') return false;
    if (value < low || value > high) return false;
    out = value;
    return true;
}

// Stores a value option; false when the word is unknown or the value refused.
bool set_option(Options& options, const std::string& word, const char* value) {
    struct Count {
        const char* word;
        uint64_t low, high;
        uint32_t* field;
    };
    const Count counts[] = {
        {"--probes", 1, 5000000, &options.probes},   {"--samples", 1, 100000, &options.samples},
        {"--groups", 1, 1000, &options.groups},        {"--covariables", 0, 100, &options.covariables},
        {"--threads", 1, 256, &options.threads},       {"--digits", 2, 9, &options.digits},
    };
    uint64_t number = 0;
    if (word == "--out") {
        options.out = value;
        return *value != '\0';
    }
    if (word == "--ids") {
        options.ids = value;
        return !read_ids(value).empty();
    }
    if (word == "--seed") return read_count(value, 0, UINT64_MAX, options.seed);
    if (word == "--style") {
        const std::string style = value;
        options.style = style == "mixed" ? Style::mixed : style == "vendor" ? Style::vendor : Style::plain;
        return style == "plain" || style == "mixed" || style == "vendor";
    }
    for (const Count& count : counts) {
        if (word != count.word) continue;
        if (!read_count(value, count.low, count.high, number)) return false;
        *count.field = static_cast<uint32_t>(number);
        return true;
    }
    return false;
}

// Returns false (after a message) for a command line that cannot be used.
bool parse_options(int argc, char** argv, Options& options, bool& help) {
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            help = true;
            return true;
        }
        if (word == "--continuous") {
            options.continuous = true;
        } else if (word == "--gzip") {
            options.gzip = true;
        } else if (word == "--crlf") {
            options.crlf = true;
        } else if (i + 1 >= argc || !set_option(options, word, argv[i + 1])) {
            fprintf(stderr, "cimbrel_generate: unknown option, or missing or bad value: %s%s%s\n",
                    word.c_str(), i + 1 < argc ? " " : "", i + 1 < argc ? argv[i + 1] : "");
            return false;
        } else {
            ++i;
        }
    }
    if (!options.continuous && options.groups > options.samples) {
        fprintf(stderr, "cimbrel_generate: more groups than samples\n");
        return false;
    }
    return true;
}

bool make_dir(const std::string& path) {
    for (size_t cut = path.find('/', 1);; cut = path.find('/', cut + 1)) {
        std::string part = path.substr(0, cut);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            fprintf(stderr, "cimbrel_generate: cannot create folder %s: %s\n", part.c_str(), strerror(errno));
            return false;
        }
        if (cut == std::string::npos) return true;
    }
}

// Puts the probes (and their covariable slopes) in identifier order, the
// order of the data files; walking them in that order keeps writing sequential.
void sort_by_identifier(Study& study, uint32_t covariables) {
    std::vector<uint32_t> order(study.probes.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](uint32_t a, uint32_t b) { return study.probes[a].id < study.probes[b].id; });
    std::vector<Probe> probes;
    std::vector<double> slopes;
    probes.reserve(order.size());
    slopes.reserve(study.slopes.size());
    for (uint32_t i : order) {
        probes.push_back(std::move(study.probes[i]));
        slopes.insert(slopes.end(), study.slopes.begin() + size_t(i) * covariables,
                      study.slopes.begin() + size_t(i + 1) * covariables);
    }
    study.probes = std::move(probes);
    study.slopes = std::move(slopes);
}

Study build_study(const Options& options) {
    Study study;
    Rng rng(options.seed);
    std::vector<uint32_t> quota = probe_quota(options.probes);
    for (uint32_t c = 0; c < quota.size(); ++c) lay_chromosome(study, rng, c, quota[c]);
    mark_snp_probes(study, rng);
    name_probes(study, rng);
    if (!options.ids.empty()) adopt_ids(study, read_ids(options.ids));
    assign_effects(study, rng);
    assign_slopes(study, rng, options.covariables);
    make_samples(study, rng, options);
    sort_by_identifier(study, options.covariables);
    return study;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    if (!parse_options(argc, argv, options, help)) {
        fprintf(stderr, "cimbrel_generate --help lists the options\n");
        return 2;
    }
    if (help) {
        usage();
        return 0;
    }
    auto begin = std::chrono::steady_clock::now();
    Study study = build_study(options);
    bool ok = make_dir(options.out + "/etc") && make_dir(options.out + "/data/samples") &&
              make_dir(options.out + "/run");
    ok = ok && write_configuration(study, options) && write_annotation(study, options) &&
         write_islands(study, options) && write_truth(study, options) && write_samples(study, options);
    if (!ok) return 1;
    size_t differential = std::count_if(study.probes.begin(), study.probes.end(),
                                        [](const Probe& p) { return p.effect != 0.0; });
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    printf("%zu probes on %u chromosomes, %zu islands, %zu differential probes, %zu samples: %s (%.1f s)\n",
           study.probes.size(), chromosomes_used(options.probes), study.islands.size(), differential,
           study.samples.size(), options.out.c_str(), seconds);
    return 0;
}
