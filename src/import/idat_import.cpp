#include "idat_import.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_set>

#include "gzip_output.h"
#include "idat.h"
#include "idat_files.h"
#include "line_reader.h"
#include "manifest.h"
#include "probe_list.h"
#include "staged_output.h"
#include "time_out.h"

namespace {

// Text of a data file compressed as one gzip member once it reaches this size.
constexpr size_t member_bytes = size_t(4) << 20;
// Seconds between progress lines.
constexpr auto progress_interval = std::chrono::seconds(5);

// A layout and which of its probes are present, shared by the samples of one array type.
struct Shared_layout {
    Array_layout layout;
    std::vector<uint8_t> present;
};

// One sample's outcome, filled by the worker that processed it.
struct Sample_outcome {
    std::string qc;     // its qc.tsv line
    std::string error;
    size_t absent = 0;  // probes written as missing
    size_t failed = 0, present = 0;
};

// What the workers share: read-only inputs, the layout cache, progress.
struct Run {
    Run(const Idat_import& job, const Design& design, const Array_manifest& manifest, const Output_rows& rows,
        const std::vector<Idat_pair>& pairs, const std::vector<std::string>& temporaries,
        const std::function<void(const std::string&)>& progress)
        : job(job), design(design), manifest(manifest), rows(rows), pairs(pairs), temporaries(temporaries),
          outcomes(pairs.size()), progress(progress) {}

    const Idat_import& job;
    const Design& design;
    const Array_manifest& manifest;
    const Output_rows& rows;
    const std::vector<Idat_pair>& pairs;
    const std::vector<std::string>& temporaries;
    std::vector<Sample_outcome> outcomes;
    std::atomic<bool> stop{false};
    std::mutex mutex;  // guards the fields below
    std::shared_ptr<const Shared_layout> layout;
    size_t done = 0;
    std::chrono::steady_clock::time_point last_report = std::chrono::steady_clock::now();
    const std::function<void(const std::string&)>& progress;
};

std::shared_ptr<const Shared_layout> layout_for(Run& run, const std::vector<uint32_t>& addresses) {
    {
        std::lock_guard<std::mutex> lock(run.mutex);
        if (run.layout && run.layout->layout.addresses == addresses) return run.layout;
    }
    auto made = std::make_shared<Shared_layout>();
    made->layout = map_layout(run.manifest, addresses);
    for (const Probe_slots& slots : made->layout.probes) made->present.push_back(slots.present());
    std::lock_guard<std::mutex> lock(run.mutex);
    run.layout = made;
    return made;
}

void append_number(std::string& text, double value) {
    char buffer[32];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6).ptr;
    text.append(buffer, end);
}

// The fields of a qc.tsv line after the counts.
std::string qc_fits(const Sample_values& values, const Preprocess_options& options) {
    std::string text;
    for (double v : {values.median_log2_m, values.median_log2_u}) {
        text += '\t';
        append_number(text, v);
    }
    for (const Noob_fit* fit : {&values.green, &values.red})
        for (double v : {fit->mu, fit->s, fit->alpha}) {
            text += '\t';
            if (options.background == Background::noob) append_number(text, v);
        }
    text += '\t';
    append_number(text, values.dye_factor);
    return text;
}

// Writes the sample's data lines, a gzip member every few megabytes.
bool write_data(const Run& run, const Shared_layout& shared, const Sample_values& values, const std::string& path,
                std::string& error) {
    Gzip_compressor compressor;
    std::string text, member;
    const Output_rows& rows = run.rows;
    for (size_t r = 0; r < rows.size(); ++r) {
        double beta = 0.0, p = 1.0;
        text += rows.ids[r];
        if (merge_row(run.job.replicates, &rows.members[rows.starts[r]], rows.starts[r + 1] - rows.starts[r],
                      values.beta.data(), values.detection.data(), shared.present.data(), beta, p)) {
            text += '\t';
            append_number(text, beta);
            text += '\t';
            append_number(text, p);
            text += '\n';
        } else {
            text += "\t0.5\t1\n";
        }
        if (text.size() < member_bytes && r + 1 < rows.size()) continue;
        if (!compressor.compress(text, member)) {
            error = "gzip compression failed for " + path;
            return false;
        }
        if (!append_to_file(path, member, error)) return false;
        text.clear();
    }
    return true;
}

bool process_sample(Run& run, size_t s, std::string& error) {
    const Idat_pair& pair = run.pairs[s];
    Idat green, red;
    if (!read_idat(pair.green, green, error) || !read_idat(pair.red, red, error) ||
        !check_idat_pair(green, pair.green, red, pair.red, error))
        return false;
    std::shared_ptr<const Shared_layout> shared = layout_for(run, green.addresses);
    const Array_layout& layout = shared->layout;
    const std::string& name = run.design.samples[s].sheet_name;
    if (layout.absent_probes == layout.probes.size()) {
        error = "sample \"" + name + "\": none of the " + plural(layout.probes.size(), "probe") + " of " +
                run.job.manifest + " has its addresses in " + pair.green + " (a manifest of another array?)";
        return false;
    }
    Sample_values values;
    std::string what;
    if (!preprocess_sample(layout, green, red, run.job.preprocess, values, what)) {
        error = "sample \"" + name + "\" (" + pair.green + ", " + pair.red + "): " + what;
        return false;
    }
    std::string chip_type = underscore_spaces(green.chip_type);
    green = red = Idat();  // the IDATs are not needed while the data file is written
    if (!write_data(run, *shared, values, run.temporaries[s], error)) return false;
    Sample_outcome& outcome = run.outcomes[s];
    outcome.absent = layout.absent_probes;
    outcome.present = layout.probes.size() - layout.absent_probes;
    outcome.failed = values.failed;
    outcome.qc = underscore_spaces(name) + "\t" + pair.green + "\t" + pair.red + "\t" + chip_type +
                 "\t" + std::to_string(run.rows.size()) + "\t" + std::to_string(values.failed) + "\t" +
                 std::to_string(values.low_beads) + qc_fits(values, run.job.preprocess) + "\n";
    return true;
}

void report_progress(Run& run) {
    std::lock_guard<std::mutex> lock(run.mutex);
    ++run.done;
    auto now = std::chrono::steady_clock::now();
    if (!run.progress || now - run.last_report < progress_interval) return;
    run.last_report = now;
    run.progress(std::to_string(run.done) + " of " + plural(run.pairs.size(), "sample") + " done");
}

void process_samples(Run& run, uint32_t threads) {
    fan_out(threads, [&run](uint32_t t, uint32_t n) {
        for (size_t s = t; s < run.pairs.size() && !run.stop; s += n) {
            if (!process_sample(run, s, run.outcomes[s].error)) run.stop = true;
            else report_progress(run);
        }
    });
}

// The annotation file from the manifest, under the identifiers the data files use.
bool write_annotation(const Idat_import& job, const std::string& temporary, Manifest_counts& counts,
                      std::string& error) {
    Line_reader reader;
    if (!open_input(reader, job.manifest, error)) return false;
    std::string text = "# id\tchr\tposition\tannotation\n";
    std::unordered_set<std::string> written;
    bool ok = true;
    auto write = [&](const Annotation_record& record) {
        std::string_view id = record.id;
        if (job.replicates != Replicates::keep) {
            id = replicate_base(id);
            if (!written.emplace(id).second) return;
        }
        text.append(id).append("\t").append(record.chr).append("\t").append(std::to_string(record.position));
        text.append("\t").append(record.annotation).append("\n");
        if (text.size() < member_bytes || !ok) return;
        ok = append_to_file(temporary, text, error);
        text.clear();
    };
    return read_manifest(reader, job.manifest, {}, write, counts, error) && ok &&
           append_to_file(temporary, text, error);
}

// Adds path to the study and writes text to it.
bool stage_text(const std::string& path, const std::string& text, const std::vector<std::string>& inputs,
                Staged_files& study, std::string& error) {
    std::string temporary;
    return check_not_input(path, inputs, error) && study.add(path, temporary, error) &&
           append_to_file(temporary, text, error);
}

const char* const qc_header =
    "sample\tgrn_idat\tred_idat\tchip_type\tprobes\tfailed\tlow_beads\tmedian_log2_m\tmedian_log2_u\t"
    "grn_mu\tgrn_s\tgrn_alpha\tred_mu\tred_s\tred_alpha\tdye_factor\n";

void add_notes(const Run& run, const Idat_import& job, size_t listed, Import_report& report) {
    const std::vector<Sample_outcome>& outcomes = run.outcomes;
    size_t absent = 0, poor = 0;
    std::string poor_names;
    for (size_t s = 0; s < outcomes.size(); ++s) {
        absent = std::max(absent, outcomes[s].absent);
        if (outcomes[s].failed * 10 <= outcomes[s].present) continue;
        if (poor++ < 5) poor_names += (poor_names.empty() ? "" : ", ") + run.design.samples[s].name;
    }
    if (absent > 0)
        report.notes.push_back(plural(absent, "probe") + " of the manifest have an address that is not on the IDATs: "
                               "written as missing (beta 0.5, detection p-value 1)");
    if (poor > 0)
        report.notes.push_back(plural(poor, "sample") + " with more than 10 % failed probes (detection p-value > "
                               "0.05): " + poor_names + (poor > 5 ? ", ..." : "") + "; see etc/qc.tsv");
    if (!job.exclude.empty())
        report.notes.push_back(plural(run.rows.excluded, "probe") + " of the exclusion list left out (" +
                               std::to_string(listed) + " listed)");
}

// The first error in sample order.
bool samples_ok(const Run& run, std::string& error) {
    for (const Sample_outcome& outcome : run.outcomes)
        if (!outcome.error.empty()) {
            error = outcome.error;
            return false;
        }
    return true;
}

}  // namespace

bool import_idat(const Idat_import& job, Import_report& report, std::string& error,
                 const std::function<void(const std::string&)>& progress) {
    report = Import_report();
    Sheet sheet;
    Design design;
    std::vector<Idat_pair> pairs;
    std::unordered_set<std::string> excluded;
    Array_manifest manifest;
    if (!read_sheet_file(job.sheet, sheet, error) || !build_design(sheet, job.design, design, error) ||
        !find_idat_pairs(sheet, design.samples, job.idat_dir, pairs, error) ||
        (!job.exclude.empty() && !read_probe_list_file(job.exclude, excluded, error)) ||
        !read_array_manifest_file(job.manifest, manifest, error))
        return false;
    // A manifest row repeating an identifier is left out (the annotation
    // reading refuses a repeat that differs), so each probe has one line.
    std::unordered_set<std::string> seen;
    size_t repeated = manifest.probes.size();
    manifest.probes.erase(std::remove_if(manifest.probes.begin(), manifest.probes.end(),
                                         [&](const Array_probe& probe) { return !seen.insert(probe.id).second; }),
                          manifest.probes.end());
    repeated -= manifest.probes.size();
    seen.clear();
    std::vector<std::string> ids;
    for (const Array_probe& probe : manifest.probes) ids.push_back(probe.id);
    Output_rows rows = plan_rows(ids, job.replicates, excluded);
    ids = std::vector<std::string>();
    if (rows.size() == 0) {
        error = job.manifest + ": no probe outside the exclusion list";
        return false;
    }
    const std::string data_dir = job.out_dir + "/data", etc_dir = job.out_dir + "/etc";
    const std::vector<std::string> inputs = {job.sheet, job.manifest, job.exclude};
    Staged_files study;
    if (!study.make_folders(data_dir, error) || !study.make_folders(etc_dir, error) ||
        !study.make_folders(job.out_dir + "/run", error))
        return false;
    std::vector<std::string> names, temporaries(pairs.size());
    std::set<std::string> taken;
    for (size_t s = 0; s < pairs.size(); ++s) {
        names.push_back(data_file_name(design.samples[s].name, taken));
        const std::string path = data_dir + "/" + names.back();
        if (!check_not_input(path, inputs, error) || !study.add(path, temporaries[s], error)) return false;
    }
    Run run(job, design, manifest, rows, pairs, temporaries, progress);
    process_samples(run, std::max<uint32_t>(1, std::min<uint32_t>(job.threads, uint32_t(pairs.size()))));
    Manifest_counts counts;
    std::string annotation, qc = qc_header;
    for (const Sample_outcome& outcome : run.outcomes) qc += outcome.qc;
    const std::string& title = design.continuous ? job.design.continuous_column : job.design.group_column;
    if (!samples_ok(run, error) || !check_not_input(data_dir + "/probe.ann", inputs, error) ||
        !study.add(data_dir + "/probe.ann", annotation, error) || !write_annotation(job, annotation, counts, error) ||
        !stage_text(etc_dir + "/qc.tsv", qc, inputs, study, error) ||
        !stage_text(etc_dir + "/description.xls", configuration_text(design, names, title), inputs, study, error) ||
        !study.commit(error))
        return false;
    report.notes = design.notes;
    if (repeated > 0) report.notes.push_back(plural(repeated, "manifest row") + " repeating an earlier IlmnID left out");
    add_notes(run, job, excluded.size(), report);
    if (counts.without_position > 0)
        report.notes.push_back(plural(counts.without_position, "probe") + " without chromosome or position left out "
                               "of data/probe.ann");
    report.probes = rows.size();
    report.samples = pairs.size();
    report.covariables = design.covariable_names;
    report.continuous = design.continuous;
    return true;
}
