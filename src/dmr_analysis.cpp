#include "dmr_analysis.h"

#include <algorithm>

#include "time_out.h"

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
            description.regions.push_back(Bed{points[i].chr, start, uint64_t(points[i].loc) + 1, ""});
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
