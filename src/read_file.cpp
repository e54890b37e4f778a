#include "read_file.h"

#include <cmath>

#include "line_reader.h"
#include "time_out.h"

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
bool register_sample(const Sample_line& line, Data_description& description,
                     uint32_t& group_count, uint32_t column) {
    uint32_t number = 0;
    if (!description.group_index.find(line.group, number))
        description.group_index.add(line.group, group_count++);
    bool unique = description.sample_group.add(line.sample, line.group);
    description.sample_index.add(line.sample, column);
    return unique;
}

// First pass over the configuration file: samples, groups, the continuous
// value and covariables of every sample. Every line is checked before the
// caller decides to stop. False only when the file cannot be opened.
bool read_sample_lines(const std::string& configure_file, uint32_t covariable_num,
                       bool continuous_on, Data_description& description, Sample_table& table) {
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
            if (!register_sample(columns, description, group_count, table.sample_num)) table.sound = false;
            table.continuous.push_back(columns.continuous);
            table.reference_file = columns.data_file;
        }
        ++table.sample_num;
    }
    return read_whole(reader, configure_file);
}

// Registers the first token of every line of the reference sample file as the
// probe of that row; probe_ids keeps them by row ("" for a line without one).
bool register_probes(const std::string& reference_file, ID_index& probe_index,
                     std::vector<std::string>& probe_ids) {
    Line_reader reader;
    if (!reader.open(reference_file)) {
        message("Error: cannot open file %s\n", reference_file.c_str());
        return false;
    }
    probe_ids.clear();
    std::string_view line;
    while (reader.next(line)) {
        Line_scanner scanner(line);
        std::string_view token;
        std::string id;
        if (scanner.word(token)) id.assign(token);
        probe_index.add(id, static_cast<uint32_t>(probe_ids.size()));
        probe_ids.push_back(std::move(id));
    }
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

void release_matrices(Data_matrix* matrix) {
    if (matrix->logit != nullptr) gsl_matrix_free(matrix->logit);
    if (matrix->valid != nullptr) gsl_matrix_char_free(matrix->valid);
    if (matrix->covariable != nullptr) gsl_matrix_free(matrix->covariable);
    if (matrix->continuous != nullptr) gsl_matrix_free(matrix->continuous);
    *matrix = Data_matrix();
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

// Files a worker reads side by side: the values of one row then land in
// neighbouring columns, a few cache lines instead of one line per value.
// Bounded so that all workers together keep at most 256 files open (one
// each beyond 256 workers).
size_t group_size(uint32_t workers) {
    size_t size = 256 / (workers == 0 ? 1 : workers);
    return size < 1 ? 1 : (size > 8 ? 8 : size);
}

// One data file being read into its column of logit and valid.
struct Sample_stream {
    const std::string* file = nullptr;
    Line_reader reader;
    double* logit = nullptr;  // top of the column
    char* valid = nullptr;
    size_t logit_stride = 0;
    size_t valid_stride = 0;
    uint32_t extremes = 0;    // betas of exactly 0 or 1
};

// One data line into its cell. A line without three readable columns or with
// a beta outside [0, 1] is excluded with its messages; a beta of exactly 0 or
// 1 (infinite logit) is excluded and counted. Excluded cells hold 0.0 so no
// infinity or NaN reaches the analysis. False when the line names a probe
// other than the reference row's.
bool read_data_line(std::string_view line, const std::string& reference_id, const std::string& file,
                    uint32_t row, double& logit, char& valid, uint32_t& extremes) {
    Line_scanner scanner(line);
    std::string_view id;
    double beta = 0.0, detection = 0.0;
    bool has_id = scanner.word(id);
    if (has_id && id != reference_id) {
        message("Error: line %u of data file %s holds probe \"%.*s\", but the reference sample "
                "file holds \"%s\" there\n",
                row + 1, file.c_str(), print_length(id), id.data(), reference_id.c_str());
        return false;
    }
    logit = 0.0;
    valid = -1;
    if (!has_id || !scanner.number(beta) || !scanner.number(detection)) {
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
        logit = log(beta / (1.0 - beta));
        valid = 1;
    }
    return true;
}

bool open_stream(Sample_stream& stream, const std::vector<std::string>& files, size_t column,
                 Data_matrix* matrix) {
    stream.file = &files[column];
    if (!stream.reader.open(*stream.file)) {
        message("Error: cannot open file %s\n", stream.file->c_str());
        return false;
    }
    stream.logit = matrix->logit->data + column;
    stream.valid = matrix->valid->data + column;
    stream.logit_stride = matrix->logit->tda;
    stream.valid_stride = matrix->valid->tda;
    return true;
}

bool read_row(Sample_stream& stream, size_t row, const std::vector<std::string>& probe_ids) {
    std::string_view line;
    if (!stream.reader.next(line)) {
        if (!read_whole(stream.reader, *stream.file)) return false;
        message("Error: data file %s has %zu lines, but the reference sample file has %zu\n",
                stream.file->c_str(), row, probe_ids.size());
        return false;
    }
    return read_data_line(line, probe_ids[row], *stream.file, static_cast<uint32_t>(row),
                          stream.logit[row * stream.logit_stride], stream.valid[row * stream.valid_stride],
                          stream.extremes);
}

// After the last probe row: a longer file is misaligned; otherwise the
// summary of betas of 0 or 1.
bool finish_stream(Sample_stream& stream, size_t probes) {
    size_t lines = probes;
    std::string_view line;
    while (stream.reader.next(line)) ++lines;
    if (!read_whole(stream.reader, *stream.file)) return false;
    if (lines != probes) {
        message("Error: data file %s has %zu lines, but the reference sample file has %zu\n",
                stream.file->c_str(), lines, probes);
        return false;
    }
    if (stream.extremes > 0)
        message("Warning: %u beta values of 0 or 1 excluded in data file %s\n", stream.extremes,
                stream.file->c_str());
    return true;
}

// Reads the data files of the given columns row by row, side by side. False,
// after a message, when a file cannot be opened, names another probe than
// the reference sample file on some line, or has another number of lines.
bool read_file_group(const std::vector<std::string>& files, const std::vector<size_t>& columns,
                     Data_matrix* matrix, const std::vector<std::string>& probe_ids) {
    std::vector<Sample_stream> streams(columns.size());
    for (size_t j = 0; j < columns.size(); ++j)
        if (!open_stream(streams[j], files, columns[j], matrix)) return false;
    for (size_t row = 0; row < probe_ids.size(); ++row)
        for (Sample_stream& stream : streams)
            if (!read_row(stream, row, probe_ids)) return false;
    for (Sample_stream& stream : streams)
        if (!finish_stream(stream, probe_ids.size())) return false;
    return true;
}

// Probes whose identifier starts with "rs" are SNP probes: excluded in every sample.
void filter_snp_probes(Data_matrix* matrix, const std::vector<std::string>& probe_ids) {
    for (size_t r = 0; r < probe_ids.size(); ++r) {
        const std::string& id = probe_ids[r];
        if (id.size() < 2 || id[0] != 'r' || id[1] != 's') continue;
        gsl_vector_char_view row = gsl_matrix_char_row(matrix->valid, r);
        gsl_vector_char_set_all(&row.vector, -1);
    }
}

}  // namespace

bool initialize_configure(const std::string& configure_file, Data_description& description,
                          Data_matrix* matrix, uint32_t& probe_num, uint32_t& sample_num,
                          uint32_t& covariable_num, const Parameter& options,
                          std::vector<std::string>& probe_ids) {
    Sample_table table;
    if (!read_sample_lines(configure_file, covariable_num, options.continuous_on, description, table))
        return false;
    sample_num = table.sample_num;
    if (!table.sound) return false;
    if (sample_num == 0) {
        message("Error: configuration file %s has no sample line\n", configure_file.c_str());
        return false;
    }
    if (!register_probes(table.reference_file, description.probe_index, probe_ids)) return false;
    probe_num = static_cast<uint32_t>(probe_ids.size());
    if (probe_num == 0) {
        message("Error: reference sample file %s has no probe line\n", table.reference_file.c_str());
        return false;
    }
    store_sample_values(table, covariable_num, options.continuous_on, matrix);
    return true;
}

Data_matrix* read_data(const std::string& configure_file, Data_description& description,
                       uint32_t covariable_num, uint32_t thread_num, const Parameter& options) {
    progress("     Read data");
    Data_matrix* matrix = new Data_matrix;
    uint32_t probe_num = 0, sample_num = 0;
    std::vector<std::string> probe_ids;
    if (!initialize_configure(configure_file, description, matrix, probe_num, sample_num,
                              covariable_num, options, probe_ids) ||
        read_data_file(configure_file, matrix, probe_num, sample_num, thread_num, probe_ids) == nullptr) {
        data_matrix_free(matrix);
        return nullptr;
    }
    if (options.nosnp) filter_snp_probes(matrix, probe_ids);
    return matrix;
}

Data_matrix* read_data_file(const std::string& configure_file, Data_matrix* matrix,
                            uint32_t& probe_num, uint32_t& sample_num, uint32_t thread_num,
                            const std::vector<std::string>& probe_ids) {
    std::vector<std::string> files;
    if (!collect_data_files(configure_file, files)) {
        message("Error: cannot open file %s\n", configure_file.c_str());
        release_matrices(matrix);
        return nullptr;
    }
    if (probe_num == 0 || sample_num == 0 || probe_ids.size() != probe_num || files.size() != sample_num) {
        message("Error: configuration file %s lists %zu data files for %u samples of %u probes\n",
                configure_file.c_str(), files.size(), sample_num, probe_num);
        release_matrices(matrix);
        return nullptr;
    }
    if (!data_files_readable(files)) {
        release_matrices(matrix);
        return nullptr;
    }
    matrix->logit = gsl_matrix_alloc(probe_num, sample_num);
    matrix->valid = gsl_matrix_char_alloc(probe_num, sample_num);
    std::vector<char> ok(sample_num, 0);
    fan_out(thread_num == 0 ? 1 : thread_num, [&](uint32_t t, uint32_t n) {
        read_data_thread(&files, matrix, t, n, &probe_ids, &ok);
    });
    for (char read : ok) {
        if (read) continue;
        release_matrices(matrix);
        return nullptr;
    }
    return matrix;
}

bool read_data_thread(const std::vector<std::string>* files, Data_matrix* matrix, uint32_t t,
                      uint32_t step, const std::vector<std::string>* probe_ids,
                      std::vector<char>* ok) {
    if (step == 0) return false;
    for (size_t i = t; i < files->size(); i += step) (*ok)[i] = 0;
    const size_t group = group_size(step);
    std::vector<size_t> columns;
    for (size_t i = t; i < files->size(); i += step) {
        columns.push_back(i);
        if (columns.size() < group && i + step < files->size()) continue;
        if (!read_file_group(*files, columns, matrix, *probe_ids)) return false;
        for (size_t column : columns) (*ok)[column] = 1;
        columns.clear();
    }
    return true;
}
