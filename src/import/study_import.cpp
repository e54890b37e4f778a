#include "study_import.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <unordered_set>

#include "gzip_output.h"
#include "line_reader.h"
#include "matrix.h"
#include "probe_list.h"
#include "sheet.h"
#include "staged_output.h"
#include "time_out.h"

namespace {

// Progress lines for matrices longer than this many probe rows.
constexpr size_t progress_step = 100000;

// Compression workers: the machines this runs on have two cores or more.
constexpr uint32_t compression_threads = 2;

// One imported sample: where its values stand and the block of text waiting to be written.
struct Sample_output {
    const Matrix_sample* column = nullptr;  // in the beta matrix
    size_t detection = 0;                   // field of its detection p-values in the detection source; 0: none
    std::string temporary;                  // its data file until the import is complete
    std::string text;                       // lines of the current block
};

// An open matrix: its line source and its reader.
struct Matrix_input {
    Line_reader lines;
    std::unique_ptr<Matrix_reader> reader;

    bool open(const std::string& path, Delimiter delimiter, const std::string& id_column, std::string& error) {
        if (!open_input(lines, path, error)) return false;
        reader.reset(new Matrix_reader(lines, path, delimiter));
        reader->set_id_column(id_column);
        return reader->read_header(error);
    }
};

// Everything the import reads, checked before anything is written.
struct Import_inputs {
    Design design;
    std::unordered_set<std::string> excluded;
    Matrix_input betas;
    Matrix_input detp;
    const Matrix_reader* detection_source = nullptr;  // betas (interleaved), detp, or none
};

// The detection matrix must list the beta matrix's samples in the same order.
bool same_samples(const Matrix_reader& betas, const Matrix_reader& detp, std::string& error) {
    if (detp.interleaved()) {
        error = detp.file() + ": holds Detection Pval columns itself; give them either in the beta matrix or with --detp";
        return false;
    }
    const auto &a = betas.samples(), &b = detp.samples();
    for (size_t i = 0; i < a.size() || i < b.size(); ++i) {
        if (i < a.size() && i < b.size() && a[i].name == b[i].name) continue;
        std::string theirs = i < b.size() ? "\"" + b[i].name + "\"" : "missing";
        std::string ours = i < a.size() ? "\"" + a[i].name + "\"" : "none";
        error = at_line(detp.file(), detp.line(), "sample " + std::to_string(i + 1) + " is " + theirs + ", but " +
                                                      betas.file() + " has " + ours + " there");
        return false;
    }
    return true;
}

bool read_inputs(const Matrix_import& job, Import_inputs& in, std::string& error) {
    Sheet sheet;
    if (!read_sheet_file(job.sheet, sheet, error) || !build_design(sheet, job.design, in.design, error)) return false;
    if (!job.exclude.empty() && !read_probe_list_file(job.exclude, in.excluded, error)) return false;
    if (!in.betas.open(job.betas, job.delimiter, job.id_column, error)) return false;
    if (in.betas.reader->interleaved()) in.detection_source = in.betas.reader.get();
    if (job.detp.empty()) return true;
    if (in.betas.reader->interleaved()) {
        error = job.betas + ": holds Detection Pval columns, so --detp " + job.detp + " cannot be used with it";
        return false;
    }
    if (!in.detp.open(job.detp, job.delimiter, job.id_column, error) || !same_samples(*in.betas.reader, *in.detp.reader, error))
        return false;
    in.detection_source = in.detp.reader.get();
    return true;
}

// Pairs each sheet sample with its matrix column (names compared with white
// space runs as "_", as they are written). Two columns whose names differ
// only there ("A B" and "A_B") match no sample: either could be meant.
// Matrix samples the sheet lacks are counted in a note.
bool match_samples(const Import_inputs& in, const std::string& sheet, std::vector<Sample_output>& outputs,
                   std::vector<std::string>& notes, std::string& error) {
    const Matrix_reader& betas = *in.betas.reader;
    std::map<std::string, std::vector<size_t>> by_name;
    for (size_t i = 0; i < betas.samples().size(); ++i)
        by_name[underscore_spaces(betas.samples()[i].name)].push_back(i);
    outputs.resize(in.design.samples.size());
    for (size_t s = 0; s < outputs.size(); ++s) {
        const Design_sample& sample = in.design.samples[s];
        auto found = by_name.find(sample.name);
        if (found == by_name.end()) {
            error = at_line(sheet, sample.line, "sample \"" + sample.sheet_name + "\" has no column in " + betas.file());
            return false;
        }
        const std::vector<size_t>& columns = found->second;
        if (columns.size() > 1) {
            error = at_line(sheet, sample.line, "sample \"" + sample.sheet_name + "\" matches the columns \"" +
                                                    betas.samples()[columns[0]].name + "\" and \"" +
                                                    betas.samples()[columns[1]].name + "\" of " + betas.file() +
                                                    " (white space is written as _)");
            return false;
        }
        outputs[s].column = &betas.samples()[columns[0]];
        if (in.detection_source == &betas) outputs[s].detection = outputs[s].column->detection;
        if (in.detection_source != nullptr && in.detection_source != &betas)
            outputs[s].detection = in.detection_source->samples()[columns[0]].beta;
    }
    size_t left_out = betas.samples().size() - outputs.size();
    if (left_out > 0)
        notes.push_back(std::to_string(left_out) + " of the " + plural(betas.samples().size(), "sample") + " of " +
                        betas.file() + (left_out == 1 ? " is" : " are") + " not in the sheet and left out");
    return true;
}

// Checks a cell of sample s (a beta when beta, else a detection p-value);
// the message names file, line and sample.
bool check_cell(const Matrix_reader& reader, size_t field, const Sample_output& out, bool beta, Cell& kind,
                std::string& error) {
    double value = 0.0;
    std::string_view cell = reader.field(field);
    kind = read_cell(cell, value);
    std::string problem;
    if (kind == Cell::bad)
        problem = "\"" + std::string(cell) + "\" is not a number";
    else if (kind == Cell::number && !(value >= 0.0 && value <= 1.0))
        problem = std::string(cell) + " is outside [0, 1]" + (beta ? " (betas are expected, not M-values)" : "");
    if (problem.empty()) return true;
    error = at_line(reader.file(), reader.line(), "sample \"" + out.column->name + "\": " +
                                                      (beta ? "beta value " : "detection p-value ") + problem);
    return false;
}

// The beta of a sample given by its signals, M / (M + U + 100) with 6
// significant digits, written into buffer; kind is missing when a signal is.
bool signal_beta(const Matrix_reader& reader, const Sample_output& out, Cell& kind, char (&buffer)[32],
                 std::string_view& text, std::string& error) {
    double signal[2] = {0.0, 0.0};
    const size_t fields[2] = {out.column->methylated, out.column->unmethylated};
    kind = Cell::number;
    for (int i = 0; i < 2; ++i) {
        std::string_view cell = reader.field(fields[i]);
        Cell got = read_cell(cell, signal[i]);
        if (got == Cell::missing) kind = Cell::missing;
        if (got == Cell::missing || (got == Cell::number && signal[i] >= 0.0)) continue;
        error = at_line(reader.file(), reader.line(), "sample \"" + out.column->name + "\": " +
                                                          (i == 0 ? "methylated" : "unmethylated") + " signal \"" +
                                                          std::string(cell) + "\" is not a number of 0 or more");
        return false;
    }
    if (kind == Cell::missing) return true;
    double beta = signal[0] / (signal[0] + signal[1] + 100.0);
    text = std::string_view(buffer, std::to_chars(buffer, buffer + 32, beta, std::chars_format::general, 6).ptr - buffer);
    return true;
}

// The current row's beta and detection p-value tokens of a sample (the
// beta of a signal matrix formatted into buffer, "0" without detection
// p-values); present is false when either is missing.
bool row_values(const Matrix_reader& betas, const Matrix_reader* detection, const Sample_output& out,
                char (&buffer)[32], std::string_view& beta_text, std::string_view& p_text, bool& present,
                std::string& error) {
    Cell beta = Cell::missing, p = Cell::number;
    if (out.column->beta == 0 ? !signal_beta(betas, out, beta, buffer, beta_text, error)
                              : !check_cell(betas, out.column->beta, out, true, beta, error))
        return false;
    if (out.column->beta != 0) beta_text = betas.field(out.column->beta);
    if (detection != nullptr && !check_cell(*detection, out.detection, out, false, p, error)) return false;
    p_text = detection != nullptr ? detection->field(out.detection) : "0";
    present = beta != Cell::missing && p != Cell::missing;
    return true;
}

void append_line(std::string& text, std::string_view id, std::string_view beta, std::string_view p) {
    text.append(id).push_back('\t');
    text.append(beta).push_back('\t');
    text.append(p).push_back('\n');
}

// Appends the current probe row, under the identifier id, to every
// sample's block; counts missing values.
bool append_row(const Matrix_reader& betas, const Matrix_reader* detection, std::string_view id,
                std::vector<Sample_output>& outputs, size_t& missing, size_t& bytes, std::string& error) {
    for (Sample_output& out : outputs) {
        char buffer[32];
        std::string_view beta_text, p_text;
        bool present = false;
        if (!row_values(betas, detection, out, buffer, beta_text, p_text, present, error)) return false;
        size_t before = out.text.size();
        if (present) append_line(out.text, id, beta_text, p_text);
        else append_line(out.text, id, "0.5", "1");
        missing += present ? 0 : 1;
        bytes += out.text.size() - before;
    }
    return true;
}

// Compresses every sample's block into one gzip member appended to its file.
bool write_block(std::vector<Sample_output>& outputs, std::string& error) {
    std::vector<std::string> errors(compression_threads);
    fan_out(compression_threads, [&](uint32_t t, uint32_t n) {
        Gzip_compressor compressor;
        std::string member;
        for (size_t s = t; s < outputs.size() && errors[t].empty(); s += n) {
            if (!compressor.compress(outputs[s].text, member))
                errors[t] = "gzip compression failed for " + outputs[s].temporary;
            else if (append_to_file(outputs[s].temporary, member, errors[t]))
                outputs[s].text.clear();
        }
    });
    for (const std::string& e : errors)
        if (!e.empty()) error = e;
    return error.empty();
}

// Moves the detection matrix to its next row, which must hold the same probe.
bool next_detection_row(const Matrix_reader& betas, Matrix_reader& detp, std::string& error) {
    int got = detp.next(error);
    if (got < 0) return false;
    if (got == 0) {
        error = detp.file() + ": ends before probe \"" + std::string(betas.id()) + "\" (line " +
                std::to_string(betas.line()) + " of " + betas.file() + ")";
        return false;
    }
    if (detp.id() == betas.id()) return true;
    error = at_line(detp.file(), detp.line(), "probe \"" + std::string(detp.id()) + "\", but line " +
                                                  std::to_string(betas.line()) + " of " + betas.file() + " holds \"" +
                                                  std::string(betas.id()) + "\"");
    return false;
}

// After the last beta row: the detection matrix must end too.
bool detection_ends(const Matrix_reader& betas, Matrix_reader& detp, std::string& error) {
    int got = detp.next(error);
    if (got == 1)
        error = at_line(detp.file(), detp.line(), "probe \"" + std::string(detp.id()) + "\" has no row in " +
                                                      betas.file() + ", which ends at line " +
                                                      std::to_string(betas.line()));
    return got == 0;
}

// Counts of the streaming pass.
struct Stream_counts {
    size_t rows = 0;      // written
    size_t excluded = 0;  // rows left out by the exclusion list
    size_t missing = 0;   // values written as excluded
};

bool stream_rows(const Matrix_import& job, Import_inputs& in, std::vector<Sample_output>& outputs,
                 Stream_counts& counts, std::string& error,
                 const std::function<void(const std::string&)>& progress) {
    Matrix_reader& betas = *in.betas.reader;
    Matrix_reader* detp = in.detp.reader.get();
    size_t block_rows = 0, bytes = 0, next_report = progress_step;
    int got = 0;
    while ((got = betas.next(error)) == 1) {
        if (detp != nullptr && !next_detection_row(betas, *detp, error)) return false;
        if (!in.excluded.empty() && in.excluded.count(std::string(betas.id())) > 0) {
            ++counts.excluded;
            continue;
        }
        if (!append_row(betas, in.detection_source, betas.id(), outputs, counts.missing, bytes, error)) return false;
        ++counts.rows;
        if (++block_rows < job.block_rows && bytes < job.block_bytes) continue;
        if (!write_block(outputs, error)) return false;
        block_rows = bytes = 0;
        if (counts.rows < next_report || !progress) continue;
        progress(std::to_string(counts.rows) + " probes written");
        next_report = counts.rows + progress_step;
    }
    if (got < 0 || (detp != nullptr && !detection_ends(betas, *detp, error))) return false;
    if (counts.rows == 0) {
        error = betas.file() + ": no probe row" + (counts.excluded > 0 ? " outside the exclusion list" : "");
        return false;
    }
    return block_rows == 0 || write_block(outputs, error);
}

// The rows written when replicates are merged: the output rows of the
// matrix's identifiers, and the output row of each matrix row (none: left out).
struct Replicate_plan {
    static constexpr uint32_t none = UINT32_MAX;
    Output_rows rows;
    std::vector<uint32_t> row_of;
    uint32_t members(uint32_t r) const { return rows.starts[r + 1] - rows.starts[r]; }
};

// Reads the identifier column of the beta matrix (a pass of its own, so a
// gzip matrix is simply read twice) and groups the replicates.
bool plan_replicates(const Matrix_import& job, const Import_inputs& in, Replicate_plan& plan, std::string& error) {
    struct stat status;
    if (stat(job.betas.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        error = job.betas + ": merging replicates reads the matrix twice, so it must be a file, not a pipe";
        return false;
    }
    Matrix_input first;
    if (!first.open(job.betas, job.delimiter, job.id_column, error)) return false;
    std::vector<std::string> ids;
    int got = 0;
    while ((got = first.reader->next(error)) == 1) ids.emplace_back(first.reader->id());
    if (got < 0) return false;
    plan.rows = plan_rows(ids, job.replicates, in.excluded);
    plan.row_of.assign(ids.size(), Replicate_plan::none);
    for (uint32_t r = 0; r < plan.rows.size(); ++r)
        for (uint32_t k = plan.rows.starts[r]; k < plan.rows.starts[r + 1]; ++k) plan.row_of[plan.rows.members[k]] = r;
    return true;
}

// One sample's values of the replicates of a row seen so far, in matrix order.
struct Held_sample {
    std::vector<double> beta, p;
    std::vector<uint8_t> present;
    std::vector<std::string> beta_text, p_text;
};

// An output row whose replicates are not all read yet, or which waits for
// an earlier one that is not complete.
struct Held_row {
    uint32_t row = 0;
    uint32_t seen = 0;
    std::vector<Held_sample> samples;
};

// Adds the current matrix row's values to a held row.
bool hold_values(const Matrix_reader& betas, const Matrix_reader* detection, const std::vector<Sample_output>& outputs,
                 Held_row& held, std::string& error) {
    held.samples.resize(outputs.size());
    for (size_t s = 0; s < outputs.size(); ++s) {
        char buffer[32];
        std::string_view beta_text, p_text;
        bool present = false;
        if (!row_values(betas, detection, outputs[s], buffer, beta_text, p_text, present, error)) return false;
        Held_sample& held_sample = held.samples[s];
        double beta = 0.0, p = 0.0;
        present = present && read_cell(beta_text, beta) == Cell::number && read_cell(p_text, p) == Cell::number;
        held_sample.beta.push_back(beta);
        held_sample.p.push_back(p);
        held_sample.present.push_back(present ? 1 : 0);
        held_sample.beta_text.emplace_back(beta_text);
        held_sample.p_text.emplace_back(p_text);
    }
    ++held.seen;
    return true;
}

// Appends a complete held row to every sample's block. A value taken from
// one replicate keeps its tokens as written; a mean of several is written
// with 6 significant digits, beside the detection p-value token it takes.
void append_held(Replicates mode, const Held_row& held, const std::string& id, std::vector<Sample_output>& outputs,
                 size_t& missing, size_t& bytes) {
    std::vector<uint32_t> members(held.seen);
    for (uint32_t k = 0; k < held.seen; ++k) members[k] = k;
    for (size_t s = 0; s < outputs.size(); ++s) {
        const Held_sample& v = held.samples[s];
        std::string& text = outputs[s].text;
        size_t before = text.size();
        double beta = 0.0, p = 1.0;
        bool averaged = mode == Replicates::mean && held.seen > 1;
        if (!merge_row(mode, members.data(), held.seen, v.beta.data(), v.p.data(), v.present.data(), beta, p)) {
            append_line(text, id, "0.5", "1");
            ++missing;
        } else {
            uint32_t k = 0;
            while (k + 1 < held.seen && !(v.present[k] && v.p[k] == p && (averaged || v.beta[k] == beta))) ++k;
            char buffer[32];
            std::string_view mean(buffer, std::to_chars(buffer, buffer + 32, beta, std::chars_format::general, 6).ptr - buffer);
            append_line(text, id, averaged ? mean : std::string_view(v.beta_text[k]), v.p_text[k]);
        }
        bytes += text.size() - before;
    }
}

std::string changed_while_read(const Matrix_reader& betas) {
    return at_line(betas.file(), betas.line(), "the matrix changed while it was read");
}

// The streaming pass when replicates are merged: a row is written once all
// its replicates are read, and rows after its first replicate wait for it,
// so memory is bounded by the distance between the replicates of a probe.
bool stream_merged_rows(const Matrix_import& job, Import_inputs& in, const Replicate_plan& plan,
                        std::vector<Sample_output>& outputs, Stream_counts& counts, std::string& error,
                        const std::function<void(const std::string&)>& progress) {
    Matrix_reader& betas = *in.betas.reader;
    Matrix_reader* detp = in.detp.reader.get();
    std::deque<Held_row> held;  // by row, ascending
    size_t block_rows = 0, bytes = 0, next_report = progress_step, index = 0;
    auto written = [&]() {
        ++counts.rows;
        if (++block_rows < job.block_rows && bytes < job.block_bytes) return true;
        if (!write_block(outputs, error)) return false;
        block_rows = bytes = 0;
        if (counts.rows >= next_report && progress) {
            progress(std::to_string(counts.rows) + " probes written");
            next_report = counts.rows + progress_step;
        }
        return true;
    };
    int got = 0;
    while ((got = betas.next(error)) == 1) {
        if (detp != nullptr && !next_detection_row(betas, *detp, error)) return false;
        if (index >= plan.row_of.size()) {
            error = changed_while_read(betas);
            return false;
        }
        uint32_t r = plan.row_of[index++];
        if (r == Replicate_plan::none) continue;
        if (replicate_base(betas.id()) != plan.rows.ids[r]) {
            error = changed_while_read(betas);
            return false;
        }
        if (held.empty() && plan.members(r) == 1) {
            if (!append_row(betas, in.detection_source, plan.rows.ids[r], outputs, counts.missing, bytes, error) ||
                !written())
                return false;
            continue;
        }
        auto at = std::lower_bound(held.begin(), held.end(), r, [](const Held_row& h, uint32_t row) { return h.row < row; });
        if (at == held.end() || at->row != r) at = held.insert(at, Held_row{r, 0, {}});
        if (!hold_values(betas, in.detection_source, outputs, *at, error)) return false;
        while (!held.empty() && held.front().seen == plan.members(held.front().row)) {
            append_held(job.replicates, held.front(), plan.rows.ids[held.front().row], outputs, counts.missing, bytes);
            held.pop_front();
            if (!written()) return false;
        }
    }
    if (got < 0 || (detp != nullptr && !detection_ends(betas, *detp, error))) return false;
    if (index != plan.row_of.size() || !held.empty()) {
        error = changed_while_read(betas);
        return false;
    }
    counts.excluded = plan.rows.excluded;
    if (counts.rows == 0) {
        error = betas.file() + ": no probe row" + (counts.excluded > 0 ? " outside the exclusion list" : "");
        return false;
    }
    return block_rows == 0 || write_block(outputs, error);
}

}  // namespace

std::string configuration_text(const Design& design, const std::vector<std::string>& files,
                               const std::string& value_title) {
    std::string text = "# file\tsample\t" + underscore_spaces(value_title);
    for (const std::string& name : design.covariable_names) text += "\t" + name;
    text += "\n";
    for (size_t s = 0; s < design.samples.size(); ++s) {
        const Design_sample& sample = design.samples[s];
        text += "../data/" + files[s] + "\t" + sample.name + "\t" + sample.value;
        for (const std::string& value : sample.covariables) text += "\t" + value;
        text += "\n";
    }
    return text;
}

namespace {

// With merged replicates one listed base identifier leaves out all its
// replicates, so the probes left out are not a count of listed names.
std::string count_note(const Stream_counts& counts, size_t listed, Replicates mode) {
    std::string note = plural(counts.excluded, "probe") + " of the exclusion list left out (" + std::to_string(listed) + " listed";
    if (mode == Replicates::keep) note += ", " + std::to_string(listed - counts.excluded) + " of them not in the matrix";
    return note + ")";
}

void add_notes(const Stream_counts& counts, const Import_inputs& in, const Matrix_import& job, Import_report& report) {
    if (!job.exclude.empty()) report.notes.push_back(count_note(counts, in.excluded.size(), job.replicates));
    if (counts.missing > 0)
        report.notes.push_back(plural(counts.missing, "value") + " missing (NA, NaN, empty) are written "
                               "as excluded (beta 0.5, detection p-value 1)");
    if (in.detection_source == nullptr)
        report.notes.push_back("no detection p-values (no Detection Pval columns, no --detp): every present beta "
                               "counts as detected");
}

}  // namespace

namespace {

// The streaming pass of the import's mode of replicates.
bool stream(const Matrix_import& job, Import_inputs& in, std::vector<Sample_output>& outputs, Stream_counts& counts,
            std::string& error, const std::function<void(const std::string&)>& progress) {
    if (job.replicates == Replicates::keep) return stream_rows(job, in, outputs, counts, error, progress);
    Replicate_plan plan;
    return plan_replicates(job, in, plan, error) && stream_merged_rows(job, in, plan, outputs, counts, error, progress);
}

// Stages the study's data files (names and temporary paths into names and
// outputs) and the folders they need; none may be one of the inputs.
bool stage_study(const Matrix_import& job, const Design& design, Staged_files& study,
                 std::vector<Sample_output>& outputs, std::vector<std::string>& names, std::string& error) {
    const std::string data_dir = job.out_dir + "/data";
    if (!study.make_folders(data_dir, error) || !study.make_folders(job.out_dir + "/etc", error) ||
        !study.make_folders(job.out_dir + "/run", error))
        return false;
    const std::vector<std::string> inputs = {job.betas, job.detp, job.sheet, job.exclude};
    std::set<std::string> taken;
    for (size_t s = 0; s < outputs.size(); ++s) {
        names.push_back(data_file_name(design.samples[s].name, taken));
        const std::string path = data_dir + "/" + names.back();
        if (!check_not_input(path, inputs, error) || !study.add(path, outputs[s].temporary, error)) return false;
    }
    return true;
}

// Writes the configuration into the staged set.
bool stage_configuration(const Matrix_import& job, const Import_inputs& in, const std::vector<std::string>& names,
                         Staged_files& study, std::string& error) {
    const std::string path = job.out_dir + "/etc/description.xls";
    const std::string& title = in.design.continuous ? job.design.continuous_column : job.design.group_column;
    std::string temporary;
    return check_not_input(path, {job.betas, job.detp, job.sheet, job.exclude}, error) &&
           study.add(path, temporary, error) &&
           append_to_file(temporary, configuration_text(in.design, names, title), error);
}

}  // namespace

bool import_matrix(const Matrix_import& job, Import_report& report, std::string& error,
                   const std::function<void(const std::string&)>& progress) {
    report = Import_report();
    Import_inputs in;
    std::vector<Sample_output> outputs;
    if (!read_inputs(job, in, error) || !match_samples(in, job.sheet, outputs, report.notes, error)) return false;
    Staged_files study;
    std::vector<std::string> names;
    Stream_counts counts;
    if (!stage_study(job, in.design, study, outputs, names, error) ||
        !stream(job, in, outputs, counts, error, progress) ||
        !stage_configuration(job, in, names, study, error) || !study.commit(error))
        return false;
    report.notes.insert(report.notes.begin(), in.design.notes.begin(), in.design.notes.end());
    report.notes.insert(report.notes.end(), in.betas.reader->notes().begin(), in.betas.reader->notes().end());
    add_notes(counts, in, job, report);
    report.probes = counts.rows;
    report.samples = outputs.size();
    report.covariables = in.design.covariable_names;
    report.continuous = in.design.continuous;
    return true;
}

std::string data_file_name(const std::string& sample, std::set<std::string>& taken) {
    std::string base;
    for (char c : sample) base += (isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' || c == '+') ? c : '_';
    if (base.empty() || base[0] == '.') base.insert(0, "_");
    std::string name = base;
    for (int n = 2; !taken.insert(lower_case(name)).second; ++n) name = base + "_" + std::to_string(n);
    return name + ".txt.gz";
}

std::string cimbrel_command(const std::string& out_dir, const Import_report& report) {
    std::string run = out_dir + "/run";
    bool plain = run.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._-+,:=") ==
                 std::string::npos;
    std::string quoted = run;
    if (!plain) {
        quoted = "'";
        for (char c : run) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        quoted += "'";
    }
    return "cd " + quoted + " && cimbrel --covariable " + std::to_string(report.covariables.size()) +
           (report.continuous ? " --continuous" : "");
}
