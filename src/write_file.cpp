// Result output. The probe writer lists the probes that pass both reporting
// thresholds with their group means and position, and draws the group means
// into one BedGraph track per group. The two region writers are one
// procedure: a table of the reported regions and, per group, a track of the
// probes of those regions sorted by chromosome and position.
#include "write_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "time_out.h"

namespace {

// Tolerance added to both reporting thresholds.
constexpr double threshold_margin = 1e-10;
// Output goes through a large buffer: at 850K probes small writes dominate.
constexpr size_t file_buffer_size = size_t(1) << 20;

// A file opened for writing (created or replaced) through a large buffer.
class Output_file {
public:
    explicit Output_file(std::string path) : path_(std::move(path)) {
        file_ = fopen(path_.c_str(), "w");
        if (file_ != nullptr) setvbuf(file_, nullptr, _IOFBF, file_buffer_size);
    }
    ~Output_file() { close(); }
    Output_file(const Output_file&) = delete;
    Output_file& operator=(const Output_file&) = delete;

    bool is_open() const { return file_ != nullptr; }
    FILE* get() const { return file_; }
    const std::string& path() const { return path_; }

    // Flushes and closes. False after a message when not everything reached
    // the file (a full disk, for example), so no lost data is reported as written.
    bool close() {
        if (file_ == nullptr) return true;
        bool ok = !ferror(file_);
        ok = (fclose(file_) == 0) && ok;
        file_ = nullptr;
        if (!ok) message("Error: cannot write file %s\n", path_.c_str());
        return ok;
    }

private:
    std::string path_;
    FILE* file_ = nullptr;
};

bool reported(double pvalue, double fdr, const Parameter& options) {
    return pvalue < options.pvalue_threshold + threshold_margin &&
           fdr < options.fdr_threshold + threshold_margin;
}

// BedGraph line of one probe: start = position, end = position + 1 (computed
// wide, so the last 32-bit position does not wrap to an end of 0).
void write_track_line(FILE* track, const std::string& chr, uint32_t loc, double value) {
    fprintf(track, "%s\t%u\t%llu\t%lf\n", chr.c_str(), loc,
            static_cast<unsigned long long>(loc) + 1ULL, value);
}

std::vector<std::string> group_names(const Data_description& study) {
    std::vector<std::string> names;
    for (uint32_t g = 0; g < study.group_index.size(); ++g) {
        names.push_back(study.group_index.get(g));
    }
    return names;
}

// Track file of a group. A "/" in a group name (labels such as HIV+/ART)
// would point into a folder, so it becomes "_" in the file name; the prefix
// keeps its folder part, and the tables keep the name as written.
std::string track_name(const std::string& prefix, std::string group) {
    std::replace(group.begin(), group.end(), '/', '_');
    return prefix + "_" + group + ".BedGraph";
}

// The annotation record of a probe, or null when it has none.
const Point* annotation_of(std::string_view id, const std::vector<Point>& points,
                           const Probe_index_map& probe_index_map) {
    uint32_t record = 0;
    if (id.empty() || !probe_index_map.find(id, record) || record >= points.size()) return nullptr;
    return &points[record];
}

int print_length(std::string_view text) {
    return text.size() > INT32_MAX ? INT32_MAX : static_cast<int>(text.size());
}

// group_mean(row, g), or NaN where the matrix has no such entry: neither
// writer draws a NaN ("-" in the probe table, no track line).
double group_mean(const Probe_result& result, uint32_t row, uint32_t g) {
    const gsl_matrix* means = result.group_mean;
    if (means == nullptr || row >= means->size1 || g >= means->size2) return std::nan("");
    return gsl_matrix_get(means, row, g);
}

bool close_all(std::vector<std::unique_ptr<Output_file>>& files) {
    bool ok = true;
    for (auto& file : files) ok = file->close() && ok;
    return ok;
}

// ---- probe table and tracks ----

void write_probe_header(FILE* table, const std::vector<std::string>& groups) {
    fputs("ID\tPvalue\tFDR\tRange\t", table);
    for (const std::string& group : groups) fprintf(table, "%s\t", group.c_str());
    fputs("CHR\tLOC\tANN\n", table);
}

// Opens every group track; one that cannot be opened is reported and left
// null, and the others are still written.
bool open_probe_tracks(const std::string& prefix, const std::vector<std::string>& groups,
                       std::vector<std::unique_ptr<Output_file>>& tracks) {
    bool ok = true;
    for (const std::string& group : groups) {
        auto track = std::make_unique<Output_file>(track_name(prefix, group));
        if (!track->is_open()) {
            message("Error: can not open file %s\n", track->path().c_str());
            ok = false;
        }
        tracks.push_back(std::move(track));
    }
    return ok;
}

// Number of probes every result member holds an entry for.
size_t probe_count(const Probe_result& result) {
    if (result.pvalue == nullptr || result.fdr == nullptr || result.range == nullptr) return 0;
    return std::min({result.pvalue->size, result.fdr->size, result.range->size});
}

void write_probe_row(FILE* table, const std::vector<std::unique_ptr<Output_file>>& tracks,
                     std::string_view id, uint32_t row, const Point& point,
                     const Probe_result& result) {
    fprintf(table, "%.*s\t%g\t%g\t%g\t", print_length(id), id.data(), gsl_vector_get(result.pvalue, row),
            gsl_vector_get(result.fdr, row), gsl_vector_get(result.range, row));
    for (uint32_t g = 0; g < tracks.size(); ++g) {
        const double mean = group_mean(result, row, g);
        if (!has_mean(mean)) {
            fputs("-\t", table);
            continue;
        }
        fprintf(table, "%g\t", mean);
        if (tracks[g]->is_open()) write_track_line(tracks[g]->get(), point.chr, point.loc, mean);
    }
    fprintf(table, "%s\t%u\t%s\n", point.chr.c_str(), point.loc, point.ann.c_str());
}

// ---- region tables and tracks ----

// What tells the predefined and the arbitrary region writer apart.
struct Region_output {
    const char* title;
    std::string table;
    std::string prefix;
};

// A probe of a reported region: its annotation record and matrix row.
// Collected in the order met (region order, then list order).
struct Track_probe {
    uint32_t point;
    uint32_t row;
};

// Opens every group track; stops at the first one that cannot be opened.
bool open_region_tracks(const std::string& prefix, const std::vector<std::string>& groups,
                        std::vector<std::unique_ptr<Output_file>>& tracks) {
    for (const std::string& group : groups) {
        auto track = std::make_unique<Output_file>(track_name(prefix, group));
        if (!track->is_open()) {
            message("Error: cannot open file %s\n", track->path().c_str());
            return false;
        }
        tracks.push_back(std::move(track));
    }
    return true;
}

// The probes of one region: matrix rows in position order.
struct Region_list {
    const uint32_t* rows;
    uint32_t count;
};

// PROBE: every identifier followed by a comma; ANNOTATION: the annotation of
// the probe at list position floor(n / 2), empty when it has none.
void write_region_row(FILE* table, const Bed& region, double pvalue, double fdr, Region_list probes,
                      const Data_description& study, const std::vector<Point>& points,
                      const Probe_index_map& probe_index_map) {
    fprintf(table, "%s\t%u\t%llu\t%s\t%g\t%g\t", region.chr.c_str(), region.start,
            static_cast<unsigned long long>(region.end), region.name.c_str(), pvalue, fdr);
    for (uint32_t k = 0; k < probes.count; ++k) {
        const std::string_view id = study.probe_index.name(probes.rows[k]);
        fprintf(table, "%.*s,", print_length(id), id.data());
    }
    const Point* middle =
        probes.count == 0
            ? nullptr
            : annotation_of(study.probe_index.name(probes.rows[probes.count / 2]), points, probe_index_map);
    fprintf(table, "\t%s\n", middle != nullptr ? middle->ann.c_str() : "");
}

// Adds the probes of one reported region to the track probes. A probe
// without an annotation is skipped: never another probe's value.
void collect_region_probes(Region_list probes, const Data_description& study,
                           const std::vector<Point>& points, const Probe_index_map& probe_index_map,
                           std::vector<Track_probe>& track_probes) {
    for (uint32_t k = 0; k < probes.count; ++k) {
        uint32_t record = 0;
        const std::string_view id = study.probe_index.name(probes.rows[k]);
        if (id.empty() || !probe_index_map.find(id, record) || record >= points.size()) continue;
        track_probes.push_back({record, probes.rows[k]});
    }
}

bool same_place(const Point& a, const Point& b) {
    return a.loc == b.loc && a.chr == b.chr;
}

// Of the probes at one position (first to last, in the order met), the first
// that has a group mean gives the line.
void write_track_position(FILE* track, const std::vector<Track_probe>& track_probes, size_t first,
                          size_t last, const std::vector<Point>& points,
                          const Probe_result& probe_result, uint32_t g) {
    for (size_t k = first; k < last; ++k) {
        const double mean = group_mean(probe_result, track_probes[k].row, g);
        if (!has_mean(mean)) continue;
        const Point& point = points[track_probes[k].point];
        write_track_line(track, point.chr, point.loc, mean);
        return;
    }
}

// Track lines sorted by chromosome text, then position, one per position.
// The stable sort keeps the order met among probes at one position.
void write_region_tracks(std::vector<Track_probe>& track_probes, const std::vector<Point>& points,
                         const Probe_result& probe_result,
                         const std::vector<std::unique_ptr<Output_file>>& tracks) {
    std::stable_sort(track_probes.begin(), track_probes.end(),
                     [&](const Track_probe& a, const Track_probe& b) {
                         const Point& x = points[a.point];
                         const Point& y = points[b.point];
                         const int order = x.chr.compare(y.chr);
                         return order < 0 || (order == 0 && x.loc < y.loc);
                     });
    for (size_t first = 0, last = 0; first < track_probes.size(); first = last) {
        const Point& place = points[track_probes[first].point];
        last = first + 1;
        while (last < track_probes.size() && same_place(place, points[track_probes[last].point])) {
            ++last;
        }
        for (uint32_t g = 0; g < tracks.size(); ++g) {
            write_track_position(tracks[g]->get(), track_probes, first, last, points, probe_result,
                                 g);
        }
    }
}

// Table rows of the reported regions, in region order; collects their probes.
void write_region_rows(FILE* table, const Parameter& options, const Data_description& study,
                       const std::vector<Point>& points, const Probe_index_map& probe_index_map,
                       const CGI_result& result, const CGI_description& region_list,
                       std::vector<Track_probe>& track_probes) {
    if (result.pvalue == nullptr || result.fdr == nullptr) return;  // no region
    const size_t count = std::min({region_list.regions.size(), result.pvalue->size, result.fdr->size});
    for (size_t i = 0; i < count; ++i) {
        const double p = gsl_vector_get(result.pvalue, i);
        const double q = gsl_vector_get(result.fdr, i);
        if (!reported(p, q, options)) continue;
        const uint32_t region = static_cast<uint32_t>(i);
        const Region_list probes{region_list.region_probes.begin(region), region_list.region_probes.count(region)};
        write_region_row(table, region_list.regions[i], p, q, probes, study, points, probe_index_map);
        collect_region_probes(probes, study, points, probe_index_map, track_probes);
    }
}

bool write_region_result(const Region_output& output, const Parameter& options,
                         const Data_description& study, const Probe_result& probe_result,
                         const std::vector<Point>& points,
                         const Probe_index_map& probe_index_map,
                         const CGI_result& result, const CGI_description& region_list) {
    progress(output.title);
    Output_file table(output.table);
    if (!table.is_open()) {
        message("Error: cannot open file %s\n", output.table.c_str());
        return false;
    }
    const std::vector<std::string> groups = group_names(study);
    std::vector<std::unique_ptr<Output_file>> tracks;
    if (!open_region_tracks(output.prefix, groups, tracks)) {
        close_all(tracks);
        table.close();
        return false;
    }
    fputs("CHR\tSTART\tEND\tNAME\tPVALUE\tFDR\tPROBE\tANNOTATION\n", table.get());
    std::vector<Track_probe> track_probes;
    write_region_rows(table.get(), options, study, points, probe_index_map, result, region_list,
                      track_probes);
    write_region_tracks(track_probes, points, probe_result, tracks);
    bool ok = table.close();
    return close_all(tracks) && ok;
}

}  // namespace

bool write_probe_result(const Data_description& study, const Probe_result& result,
                        const std::vector<Point>& points,
                        const Probe_index_map& probe_index_map,
                        const Parameter& options) {
    progress("     Write probe analysis result");
    Output_file table(options.probe_out_file);
    if (!table.is_open()) {
        message("Error: cannot open file %s\n", options.probe_out_file.c_str());
        return false;
    }
    const std::vector<std::string> groups = group_names(study);
    write_probe_header(table.get(), groups);
    std::vector<std::unique_ptr<Output_file>> tracks;
    bool ok = open_probe_tracks(options.probe_prefix, groups, tracks);
    const size_t count = probe_count(result);
    // Rows in probe order: the registry's index order is the matrix row order.
    const uint32_t rows = static_cast<uint32_t>(std::min<size_t>(count, study.probe_index.index_end()));
    for (uint32_t row = 0; row < rows; ++row) {
        const std::string_view id = study.probe_index.name(row);
        if (id.empty()) continue;
        // Thresholds first: the annotation look-up is the costly test.
        if (!reported(gsl_vector_get(result.pvalue, row), gsl_vector_get(result.fdr, row),
                      options)) {
            continue;
        }
        if (options.nosnp && !id.empty() && id[0] == 'r') continue;
        const Point* point = annotation_of(id, points, probe_index_map);
        if (point == nullptr) continue;
        write_probe_row(table.get(), tracks, id, row, *point, result);
    }
    ok = table.close() && ok;
    return close_all(tracks) && ok;
}

bool write_cgi_result(const Parameter& options, const Data_description& study,
                      const Probe_result& probe_result, const std::vector<Point>& points,
                      const Probe_index_map& probe_index_map,
                      const CGI_result& result, const CGI_description& region_list) {
    const Region_output output{"     Writing predefined region result", options.r1_out_file,
                               options.r1_prefix};
    return write_region_result(output, options, study, probe_result, points, probe_index_map,
                               result, region_list);
}

bool write_dmr_result(const Parameter& options, const Data_description& study,
                      const Probe_result& probe_result, const std::vector<Point>& points,
                      const Probe_index_map& probe_index_map,
                      const CGI_result& result, const CGI_description& region_list) {
    const Region_output output{"     Writing arbitrary region result", options.r2_out_file,
                               options.r2_prefix};
    return write_region_result(output, options, study, probe_result, points, probe_index_map,
                               result, region_list);
}
