#include "read_file.h"

#include <sys/resource.h>

#include <cmath>
#include <cstring>

#include "line_reader.h"
#include "normalize.h"
#include "spill_file.h"
#include "time_out.h"

// What every data-reading worker shares: the files, the reference
// identifiers, and where the values go (the matrix in memory, or the spill
// file with one column buffer per worker), with each sample's quantiles when
// normalisation will want them.
struct Read_plan {
    const std::vector<std::string>* files = nullptr;
    const ID_index* probes = nullptr;
    uint32_t probe_num = 0;
    std::vector<char> snp;          // per row: a SNP probe excluded under --nosnp (empty: none)
    gsl_matrix* logit = nullptr;    // P x N in memory, or null
    Matrix_spill* spill = nullptr;  // out of core, or null
    gsl_matrix* quantiles = nullptr;  // 15 x N, or null when not wanted
};

namespace {

// Detection p-values above this mark a beta value as unreliable.
constexpr double detection_limit = 0.05;

// Comment lines ("#" first) and lines of white space only describe no sample.
bool is_sample_line(std::string_view line) {
    if (!line.empty() && line[0] == '#') return false;
    for (char c : line)
        if (!is_space(c)) return true;
    return false;
}

// A file that stopped short of its end: corrupt or truncated compressed data,
// or a read error.
bool read_whole(const Line_reader& reader, const std::string& file) {
    if (!reader.failed()) return true;
    message("Error: cannot read file %s: %s\n", file.c_str(), reader.error().c_str());
    return false;
}

int print_length(std::string_view text) {
    return text.size() > INT32_MAX ? INT32_MAX : static_cast<int>(text.size());
}

// The columns of one sample line of the configuration file.
struct Sample_line {
    std::string data_file;
    std::string sample;
    std::string group;        // "all" in continuous mode
    double continuous = 0.0;  // third column, continuous mode only
};

// Everything the configuration file says beyond the study description.
struct Sample_table {
    std::string reference_file;      // data file of the last sample line
    std::vector<double> continuous;  // one value per sample (continuous mode)
    std::vector<double> covariables; // N x K, row by row
    uint32_t sample_num = 0;
    bool sound = true;               // no malformed line, no repeated sample name
};

// Reads data file, sample name, the third column and K covariables. The
// covariables are appended only when the whole line is sound, so a wrong K
// (say 4294967295) fails on the first line before anything is sized by it.
bool parse_sample_line(std::string_view line, uint32_t covariable_num, bool continuous_on,
                       Sample_line& out, std::vector<double>& covariables) {
    Line_scanner scanner(line);
    std::string_view third;
    if (!scanner.word(out.data_file) || !scanner.word(out.sample) || !scanner.word(third))
        return false;
    if (continuous_on) {
        Line_scanner value(third);
        if (!value.number(out.continuous)) return false;
        out.group = "all";
    } else {
        out.group.assign(third);
    }
    size_t start = covariables.size();
    for (uint32_t j = 0; j < covariable_num; ++j) {
        double value = 0.0;
        if (!scanner.number(value)) {
            covariables.resize(start);
            return false;
        }
        covariables.push_back(value);
    }
    return true;
}

// Registers a sound sample line as sample number `column`. Groups are
// numbered by first appearance. False when the sample name repeats.
bool register_sample(const Sample_line& line, Data_description& study,
                     uint32_t& group_count, uint32_t column) {
    uint32_t number = 0;
    if (!study.group_index.find(line.group, number))
        study.group_index.add(line.group, group_count++);
    bool unique = study.sample_group.add(line.sample, line.group);
    study.sample_index.add(line.sample, column);
    return unique;
}

// First pass over the configuration file: samples, groups, the continuous
// value and covariables of every sample. Every line is checked before the
// caller decides to stop. False only when the file cannot be opened.
bool read_sample_lines(const std::string& configure_file, uint32_t covariable_num,
                       bool continuous_on, Data_description& study, Sample_table& table) {
    Line_reader reader;
    if (!reader.open(configure_file)) {
        message("Error: cannot open file %s.\n", configure_file.c_str());
        return false;
    }
    uint32_t group_count = 0;
    Sample_line columns;
    std::string_view line;
    while (reader.next(line)) {
        if (!is_sample_line(line)) continue;
        if (!parse_sample_line(line, covariable_num, continuous_on, columns, table.covariables)) {
            message("Error: wrong format when reading configuration file%s\nWrong sentence: %.*s\n",
                    configure_file.c_str(), print_length(line), line.data());
            table.sound = false;
        } else {
            if (!register_sample(columns, study, group_count, table.sample_num)) table.sound = false;
            table.continuous.push_back(columns.continuous);
            table.reference_file = columns.data_file;
        }
        ++table.sample_num;
    }
    return read_whole(reader, configure_file);
}

// Registers the first token of every line of the reference sample file as the
// probe of that row (a line without one registers nothing: its row has no
// identifier); probe_num counts every line.
bool register_probes(const std::string& reference_file, ID_index& probe_index, uint32_t& probe_num) {
    Line_reader reader;
    if (!reader.open(reference_file)) {
        message("Error: cannot open file %s\n", reference_file.c_str());
        return false;
    }
    uint64_t rows = 0;
    std::string_view line;
    probe_index.reserve(static_cast<size_t>(std::min<uint64_t>(reader.size_hint() / 20, uint64_t(1) << 26)));
    while (reader.next(line)) {
        Line_scanner scanner(line);
        std::string_view token;
        if (!scanner.word(token)) token = std::string_view();
        probe_index.add(token, static_cast<uint32_t>(rows));
        if (++rows > UINT32_MAX) {
            message("Error: reference sample file %s has more than %u lines\n", reference_file.c_str(), UINT32_MAX);
            return false;
        }
    }
    probe_num = static_cast<uint32_t>(rows);
    return read_whole(reader, reference_file);
}

// Copies the continuous values and covariables into their N x 1 and N x K
// matrices (null when not used).
void store_sample_values(const Sample_table& table, uint32_t covariable_num, bool continuous_on,
                         Data_matrix* matrix) {
    uint32_t samples = table.sample_num;
    matrix->continuous = nullptr;
    matrix->covariable = nullptr;
    if (continuous_on) {
        matrix->continuous = gsl_matrix_alloc(samples, 1);
        for (uint32_t c = 0; c < samples; ++c) gsl_matrix_set(matrix->continuous, c, 0, table.continuous[c]);
    }
    if (covariable_num > 0) {
        matrix->covariable = gsl_matrix_alloc(samples, covariable_num);
        for (uint32_t c = 0; c < samples; ++c)
            for (uint32_t j = 0; j < covariable_num; ++j)
                gsl_matrix_set(matrix->covariable, c, j,
                               table.covariables[static_cast<size_t>(c) * covariable_num + j]);
    }
}

// Data file names of the sample lines, in sample order.
bool collect_data_files(const std::string& configure_file, std::vector<std::string>& files) {
    Line_reader reader;
    if (!reader.open(configure_file)) return false;
    std::string_view line, name;
    while (reader.next(line)) {
        if (!is_sample_line(line)) continue;
        Line_scanner scanner(line);
        scanner.word(name);
        files.emplace_back(name);
    }
    return !reader.failed();
}

// Names every data file that cannot be opened; true when all can.
bool data_files_readable(const std::vector<std::string>& files) {
    bool readable = true;
    for (const std::string& file : files) {
        if (file_readable(file)) continue;
        message("Error: cannot open file %s\n", file.c_str());
        readable = false;
    }
    return readable;
}

// Files a worker reads side by side when the matrix is in memory: a group of
// up to four neighbouring columns, so the values of one row share a cache
// line instead of taking one line each. Eight would fill a line, but their
// usable values, kept for the quantiles, would then cost more memory than
// the probe annotation read beside them leaves room for. Bounded so that
// all workers together keep at most 256 files open (one each beyond 256
// workers).
size_t group_size(uint32_t workers) {
    size_t size = 256 / (workers == 0 ? 1 : workers);
    return size < 1 ? 1 : (size > 4 ? 4 : size);
}

// One data file being read into its column.
struct Sample_stream {
    size_t column = 0;
    const std::string* file = nullptr;
    Line_reader reader;
    double* target = nullptr;       // row 0 of the column
    size_t stride = 0;              // values from one row to the next
    uint32_t extremes = 0;          // betas of exactly 0 or 1
    std::vector<double> usable;     // usable values, for the quantiles
};

// Whether the n bytes at a and b are the same; inline, since identifiers are
// a dozen bytes and a library call per line costs more than the comparison.
inline bool same_bytes(const char* a, const char* b, size_t n) {
    for (; n >= 8; a += 8, b += 8, n -= 8) {
        uint64_t x, y;
        memcpy(&x, a, 8);
        memcpy(&y, b, 8);
        if (x != y) return false;
    }
    for (; n > 0; ++a, ++b, --n)
        if (*a != *b) return false;
    return true;
}

// The leading digits of the up to 8 bytes at text (fewer when end is
// nearer): their count, and their value in digits. Eight at once, as
// integer arithmetic on one 64-bit word, when the line has 8 bytes left.
inline uint32_t leading_digits(const char* text, const char* end, uint64_t& digits) {
    if (end - text < 8) {
        uint32_t n = 0;
        digits = 0;
        for (; text + n < end && is_digit(text[n]); ++n) digits = digits * 10 + static_cast<uint64_t>(text[n] - '0');
        return n;
    }
    uint64_t word;
    memcpy(&word, text, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    // Byte by byte (lowest first): minus '0', a digit is 0 to 9; a byte
    // below '0' borrows and one above '9' passes 0x7f once 0x76 is added,
    // either way setting its high bit. Borrows and carries only move
    // towards later bytes, so every byte before the first non-digit is exact.
    const uint64_t value = word - 0x3030303030303030ull;
    const uint64_t high = (value | (value + 0x7676767676767676ull)) & 0x8080808080808080ull;
    const uint32_t n = high == 0 ? 8 : static_cast<uint32_t>(__builtin_ctzll(high)) / 8;
    if (n == 0) {
        digits = 0;
        return 0;
    }
    // The n digits as the last n of 8 behind leading zeros, combined in
    // pairs, fours and eights by multiplication.
    uint64_t v = value << (8 * (8 - n));
    v = (v * 10 + (v >> 8)) & 0x00ff00ff00ff00ffull;
    v = (v * 100 + (v >> 16)) & 0x0000ffff0000ffffull;
    digits = (v * 10000 + (v >> 32)) & 0xffffffffull;
    return n;
}

// A beta in the form array software writes: "0" or "1", then optionally a
// point and at most 8 decimals, with white space after it. Its mantissa is
// below 2^53 and the power of ten exact, so one correctly rounded division
// gives the value short_decimal (and stream extraction) gives; text moves
// past it. False for any other form, left to short_decimal.
inline bool short_beta(const char*& text, const char* end, double& beta) {
    static constexpr double powers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
    static constexpr uint64_t scale[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
    const char* p = text;
    if (end - p < 2 || (*p != '0' && *p != '1')) return false;
    const uint64_t whole = static_cast<uint64_t>(*p - '0');
    ++p;
    uint64_t fraction = 0;
    uint32_t decimals = 0;
    if (*p == '.') {
        ++p;
        decimals = leading_digits(p, end, fraction);
        p += decimals;
    }
    if (p == end || !is_space(*p)) return false;  // a ninth decimal, an exponent, or no separator
    beta = static_cast<double>(whole * scale[decimals] + fraction) / powers[decimals];
    text = p;
    return true;
}

// The fields of a plain data line read in one pass: the reference row's
// identifier, then a beta and a detection p-value in short forms (see
// short_beta and short_decimal), the form of nearly every line. A
// detection p-value whose form already shows it below 0.01 (see
// below_hundredth) is not converted: it is only compared with the
// detection limit, and 0 compares the same. False for any other line
// (another identifier among them), which the scanner reads, with the same
// values.
inline bool plain_data_line(std::string_view line, std::string_view reference_id, double& beta, double& detection) {
    const char* p = line.data();
    const char* const end = p + line.size();
    while (p < end && is_space(*p)) ++p;
    const size_t length = reference_id.size();
    if (length == 0 || static_cast<size_t>(end - p) <= length || !same_bytes(p, reference_id.data(), length) ||
        !is_space(p[length]))
        return false;
    p += length;
    while (p < end && is_space(*p)) ++p;
    if (!short_beta(p, end, beta) &&
        (p == end || !(is_digit(*p) || *p == '.') || !short_decimal(p, end, false, beta, p)))
        return false;
    while (p < end && is_space(*p)) ++p;
    if (below_hundredth(p, end)) {
        detection = 0.0;
        return true;
    }
    return p < end && (is_digit(*p) || *p == '.') && short_decimal(p, end, false, detection, p);
}

// One data line into its value: the logit, or NaN for an excluded value. A
// line without three readable columns or with a beta outside [0, 1] is
// excluded with its messages; a beta of exactly 0 or 1 (infinite logit) is
// excluded and counted. False when the line names a probe other than the
// reference row's.
bool read_data_line(std::string_view line, std::string_view reference_id, const std::string& file,
                    uint32_t row, double& value, uint32_t& extremes) {
    double beta = 0.0, detection = 0.0;
    bool parsed = plain_data_line(line, reference_id, beta, detection);
    if (!parsed) {
        // Any other form, or another identifier: the stream rules read it.
        Line_scanner scanner(line);
        std::string_view id;
        const bool has_id = scanner.word(id);
        parsed = has_id && scanner.number(beta) && scanner.number(detection);
        if (has_id && id != reference_id) {
            message("Error: line %u of data file %s holds probe \"%.*s\", but the reference sample "
                    "file holds \"%.*s\" there\n",
                    row + 1, file.c_str(), print_length(id), id.data(), print_length(reference_id),
                    reference_id.data());
            return false;
        }
    }
    value = excluded_value;
    if (!parsed) {
        message("Error: wrong format when reading data file\nError sentence: %.*s\n"
                "Error: wrong beta value encountered when reading data\nWrong sentence: %.*s\n",
                print_length(line), line.data(), print_length(line), line.data());
    } else if (detection > detection_limit) {
        return true;
    } else if (!(beta >= 0.0 && beta <= 1.0)) {
        message("Error: wrong beta value encountered when reading data\nWrong sentence: %.*s\n",
                print_length(line), line.data());
    } else if (beta == 0.0 || beta == 1.0) {
        ++extremes;
    } else {
        value = log(beta / (1.0 - beta));
    }
    return true;
}

bool open_stream(Sample_stream& stream, const Read_plan& plan, size_t column, double* column_buffer) {
    stream.column = column;
    stream.file = &(*plan.files)[column];
    if (!stream.reader.open(*stream.file)) {
        message("Error: cannot open file %s\n", stream.file->c_str());
        return false;
    }
    if (plan.logit != nullptr) {
        stream.target = plan.logit->data + column;
        stream.stride = plan.logit->tda;
    } else {
        stream.target = column_buffer;
        stream.stride = 1;
    }
    stream.extremes = 0;
    stream.usable.clear();
    if (plan.quantiles != nullptr) stream.usable.reserve(plan.probe_num);
    return true;
}

bool read_row(Sample_stream& stream, uint32_t row, std::string_view id, const Read_plan& plan) {
    std::string_view line;
    if (!stream.reader.next(line)) {
        if (!read_whole(stream.reader, *stream.file)) return false;
        message("Error: data file %s has %u lines, but the reference sample file has %u\n",
                stream.file->c_str(), row, plan.probe_num);
        return false;
    }
    double value = excluded_value;
    if (!read_data_line(line, id, *stream.file, row, value, stream.extremes)) return false;
    if (!plan.snp.empty() && plan.snp[row]) value = excluded_value;
    stream.target[static_cast<size_t>(row) * stream.stride] = value;
    if (plan.quantiles != nullptr && is_usable(value)) stream.usable.push_back(value);
    return true;
}

// After the last probe row: a longer file is misaligned; otherwise the
// summary of betas of 0 or 1, the sample's quantiles and, out of core, the
// column's place in the spill file.
bool finish_stream(Sample_stream& stream, const Read_plan& plan) {
    uint64_t lines = plan.probe_num;
    std::string_view line;
    while (stream.reader.next(line)) ++lines;
    if (!read_whole(stream.reader, *stream.file)) return false;
    if (lines != plan.probe_num) {
        message("Error: data file %s has %llu lines, but the reference sample file has %u\n",
                stream.file->c_str(), static_cast<unsigned long long>(lines), plan.probe_num);
        return false;
    }
    if (stream.extremes > 0)
        message("Warning: %u beta values of 0 or 1 excluded in data file %s\n", stream.extremes,
                stream.file->c_str());
    if (plan.quantiles != nullptr)
        sample_quantiles(stream.usable, plan.quantiles->data + stream.column, plan.quantiles->tda);
    std::string error;
    if (plan.spill != nullptr && !spill_write_column(*plan.spill, static_cast<uint32_t>(stream.column), stream.target, error)) {
        message("Error: %s\n", error.c_str());
        return false;
    }
    stream.reader.close();
    return true;
}

// Reads the data files of the given columns row by row, side by side. False,
// after a message, when a file cannot be opened or read, names another probe
// than the reference sample file on some line, or has another number of
// lines.
bool read_file_group(const Read_plan& plan, const std::vector<size_t>& columns,
                     std::vector<Sample_stream>& streams, double* column_buffer) {
    for (size_t j = 0; j < columns.size(); ++j)
        if (!open_stream(streams[j], plan, columns[j], column_buffer)) return false;
    // Each row of the matrix is a sample count of doubles past the one
    // before, too far for the processor to foresee, so the group's place a
    // few dozen rows ahead is fetched for writing while this row is parsed.
    constexpr uint32_t ahead = 32;
    for (uint32_t row = 0; row < plan.probe_num; ++row) {
        const std::string_view id = plan.probes->name(row);
        if (plan.logit != nullptr && row + ahead < plan.probe_num) {
            const double* first = streams[0].target + static_cast<size_t>(row + ahead) * streams[0].stride;
            __builtin_prefetch(first, 1);
            __builtin_prefetch(first + columns.size() - 1, 1);
        }
        for (size_t j = 0; j < columns.size(); ++j)
            if (!read_row(streams[j], row, id, plan)) return false;
    }
    for (size_t j = 0; j < columns.size(); ++j)
        if (!finish_stream(streams[j], plan)) return false;
    return true;
}

// Rows of SNP probes: identifiers that start with "rs".
std::vector<char> snp_rows(const ID_index& probes, uint32_t probe_num) {
    std::vector<char> snp(probe_num, 0);
    for (uint32_t r = 0; r < probe_num; ++r) {
        const std::string_view id = probes.name(r);
        snp[r] = id.size() >= 2 && id[0] == 'r' && id[1] == 's';
    }
    return snp;
}

// Memory the run needs beyond the beta matrix, per probe: the registry, the
// annotation, the results and fits, the ranking and the region lists.
constexpr uint64_t bytes_per_probe = 256;
// Per sample a worker reads side by side: its usable values and buffers.
uint64_t stream_bytes(uint32_t probe_num) { return 8ull * probe_num + (3u << 20); }

// Lets the workers keep as many data files open at once as the system's
// hard limit allows (up to 1,024 workers reading side by side), whatever the
// soft limit of the shell.
void raise_open_file_limit() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

// Chooses between the matrix in memory and the spill file: in memory when
// the whole run fits the budget; otherwise blocks of as many rows as the
// budget leaves room for, after the per-probe state and the readers, two
// blocks at a time (the analysis fits one while it loads the next).
// block_rows is 0 for the matrix in memory.
uint32_t spill_block_rows(uint32_t probe_num, uint32_t sample_num, uint32_t group_num, uint32_t workers,
                          uint64_t budget) {
    const uint64_t per_probe = static_cast<uint64_t>(probe_num) * (bytes_per_probe + 8ull * group_num);
    const uint64_t in_memory = 8ull * probe_num * sample_num + per_probe +
                               workers * group_size(workers) * stream_bytes(probe_num);
    if (in_memory <= budget) return 0;
    const uint64_t fixed = per_probe + workers * (stream_bytes(probe_num) + 8ull * probe_num);
    const uint64_t per_row = 2 * (8ull * sample_num + 16 * sizeof(double));
    const uint64_t rows = budget > fixed ? (budget - fixed) / per_row : 1;
    return static_cast<uint32_t>(std::max<uint64_t>(1, std::min<uint64_t>(rows, probe_num)));
}

}  // namespace

bool initialize_configure(const std::string& configure_file, Data_description& study,
                          Data_matrix* matrix, uint32_t& probe_num, uint32_t& sample_num,
                          uint32_t& covariable_num, const Parameter& options) {
    Sample_table table;
    if (!read_sample_lines(configure_file, covariable_num, options.continuous_on, study, table))
        return false;
    sample_num = table.sample_num;
    if (!table.sound) return false;
    if (sample_num == 0) {
        message("Error: configuration file %s has no sample line\n", configure_file.c_str());
        return false;
    }
    if (!register_probes(table.reference_file, study.probe_index, probe_num)) return false;
    if (probe_num == 0) {
        message("Error: reference sample file %s has no probe line\n", table.reference_file.c_str());
        return false;
    }
    store_sample_values(table, covariable_num, options.continuous_on, matrix);
    return true;
}

Data_matrix* read_data(const std::string& configure_file, Data_description& study,
                       uint32_t covariable_num, uint32_t thread_num, const Parameter& options) {
    progress("     Read data");
    uint64_t budget = 0;
    std::string error;
    if (!memory_budget(budget, error)) {
        message("Error: %s\n", error.c_str());
        return nullptr;
    }
    Data_matrix* matrix = new Data_matrix;
    uint32_t probe_num = 0, sample_num = 0;
    if (!initialize_configure(configure_file, study, matrix, probe_num, sample_num, covariable_num,
                              options) ||
        read_data_file(configure_file, matrix, probe_num, sample_num, thread_num, study, options,
                       budget) == nullptr) {
        data_matrix_free(matrix);
        return nullptr;
    }
    return matrix;
}

Data_matrix* read_data_file(const std::string& configure_file, Data_matrix* matrix, uint32_t& probe_num,
                            uint32_t& sample_num, uint32_t thread_num, const Data_description& study,
                            const Parameter& options, uint64_t memory_budget) {
    std::vector<std::string> files;
    if (!collect_data_files(configure_file, files)) {
        message("Error: cannot open file %s\n", configure_file.c_str());
        return nullptr;
    }
    if (probe_num == 0 || sample_num == 0 || files.size() != sample_num) {
        message("Error: configuration file %s lists %zu data files for %u samples of %u probes\n",
                configure_file.c_str(), files.size(), sample_num, probe_num);
        return nullptr;
    }
    if (!data_files_readable(files)) return nullptr;
    const uint32_t workers = thread_num == 0 ? 1 : thread_num;
    Read_plan plan;
    plan.files = &files;
    plan.probes = &study.probe_index;
    plan.probe_num = probe_num;
    if (options.nosnp) plan.snp = snp_rows(study.probe_index, probe_num);
    const uint32_t block_rows =
        spill_block_rows(probe_num, sample_num, study.group_index.size(), workers, memory_budget);
    if (block_rows == 0) {
        plan.logit = matrix->logit = gsl_matrix_alloc(probe_num, sample_num);
        advise_huge_pages(matrix->logit->data, matrix->logit->size1 * matrix->logit->tda * sizeof(double));
    } else {
        std::string error;
        plan.spill = matrix->spill = spill_create(probe_num, sample_num, block_rows, error);
        if (plan.spill == nullptr) {
            message("Error: %s\n", error.c_str());
            return nullptr;
        }
    }
    matrix->probe_num = probe_num;
    matrix->sample_num = sample_num;
    if (options.normalize_on) plan.quantiles = matrix->quantiles = gsl_matrix_alloc(quantile_level_num, sample_num);
    std::vector<char> ok(sample_num, 0);
    raise_open_file_limit();
    fan_out(workers, [&](uint32_t t, uint32_t n) { read_data_thread(&plan, t, n, &ok); });
    for (char read : ok) {
        if (!read) return nullptr;
    }
    return matrix;
}

bool read_data_thread(const Read_plan* plan, uint32_t t, uint32_t step, std::vector<char>* ok) {
    if (step == 0) return false;
    const size_t count = plan->files->size();
    const size_t group = plan->logit != nullptr ? group_size(step) : 1;
    std::vector<Sample_stream> streams(group);
    std::vector<double> column_buffer(plan->spill != nullptr ? plan->probe_num : 0);
    std::vector<size_t> columns;
    for (size_t first = t * group; first < count; first += step * group) {
        columns.clear();
        for (size_t c = first; c < count && c < first + group; ++c) columns.push_back(c);
        for (size_t column : columns) (*ok)[column] = 0;
        if (!read_file_group(*plan, columns, streams, column_buffer.data())) return false;
        for (size_t column : columns) (*ok)[column] = 1;
    }
    return true;
}
