#include "dmr_analysis.h"

#include <algorithm>

#include "time_out.h"

namespace {

// The annotation records of the study's probes, one per probe: the record
// that the probe index map points to, so duplicate annotation lines and
// annotated probes outside the study take no part in region formation.
// Both maps are ordered by identifier, so one merge pass pairs them; the
// result keeps annotation order (chromosome, then position).
std::vector<Point> study_points(const std::vector<Point>& points, const Data_description& study,
                                const std::map<std::string, uint32_t>& probe_index_map) {
    const auto& registered = study.probe_index.id_to_index;
    std::vector<uint32_t> rows;
    auto s = registered.begin();
    auto a = probe_index_map.begin();
    while (s != registered.end() && a != probe_index_map.end()) {
        int order = s->first.compare(a->first);
        if (order < 0) {
            ++s;
        } else if (order > 0) {
            ++a;
        } else {
            if (a->second < points.size()) rows.push_back(a->second);
            ++s;
            ++a;
        }
    }
    std::sort(rows.begin(), rows.end());
    std::vector<Point> probes;
    probes.reserve(rows.size());
    for (uint32_t row : rows) probes.push_back(points[row]);
    return probes;
}

}  // namespace

uint32_t probe_distance(const std::vector<Point>& points, uint32_t a, uint32_t b) {
    if (points[a].chr != points[b].chr) return linking_distance + 1;
    return points[b].loc - points[a].loc;
}

// One pass over the sorted points: a region is a maximal run in which every
// probe lies at most linking_distance after its predecessor on the same
// chromosome; the scan resumes at the first probe that did not link.
void find_region(const std::vector<Point>& points, CGI_description& description) {
    const uint32_t count = static_cast<uint32_t>(points.size());
    uint32_t i = 0;
    while (i + 1 < count) {
        std::vector<std::string> ids;
        uint32_t start = points[i].loc;
        for (uint32_t j = i + 1; j < count && probe_distance(points, i, j) <= linking_distance; ++j) {
            ids.push_back(points[i].id);
            i = j;
        }
        if (!ids.empty()) {
            ids.push_back(points[i].id);
            description.regions.push_back(Bed{points[i].chr, start, points[i].loc + 1, ""});
            uint32_t index = static_cast<uint32_t>(description.regions.size() - 1);
            description.region_probes.emplace(index, std::move(ids));
        }
        ++i;
    }
}

void dmr_analysis(const Data_description& study, Data_matrix* matrix, const Parameter& options,
                  const std::vector<Point>& points,
                  const std::map<std::string, uint32_t>& probe_index_map,
                  CGI_description& description, CGI_result& result,
                  const Probe_result* probe_result, Fit_path path) {
    progress("     Analyzing differentially methylated arbitrary region");
    find_region(study_points(points, study, probe_index_map), description);
    test_regions(matrix, options.thread_num, study, result, description, probe_result, path,
                 "       Finding fdr in arbitrary region analysis");
}
