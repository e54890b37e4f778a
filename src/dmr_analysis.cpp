#include "dmr_analysis.h"

#include <algorithm>

#include "time_out.h"

uint32_t probe_distance(const std::vector<Point>& points, uint32_t a, uint32_t b) {
    if (points[a].chr != points[b].chr) return linking_distance + 1;
    return points[b].loc - points[a].loc;
}

// One pass over the sorted probes: a region is a maximal run in which every
// probe lies at most linking_distance after its predecessor on the same
// chromosome; the scan resumes at the first probe that did not link.
void find_region(const std::vector<Point>& points, const std::vector<uint32_t>& records,
                 const std::vector<uint32_t>& rows, CGI_description& region_list) {
    const uint32_t count = static_cast<uint32_t>(std::min(records.size(), rows.size()));
    uint32_t i = 0;
    while (i + 1 < count) {
        const uint32_t first = i;
        for (uint32_t j = i + 1; j < count && probe_distance(points, records[i], records[j]) <= linking_distance; ++j) {
            i = j;
        }
        if (i > first) {
            const Point& last = points[records[i]];
            const uint32_t index = static_cast<uint32_t>(region_list.regions.size());
            region_list.regions.push_back(Bed{last.chr, points[records[first]].loc, uint64_t(last.loc) + 1, ""});
            for (uint32_t k = first; k <= i; ++k) region_list.region_probes.add(index, rows[k]);
        }
        ++i;
    }
}

bool dmr_analysis(const Data_description& study, Data_matrix* matrix, const Parameter& options,
                  const std::vector<Point>& points, const Probe_index_map& probe_index_map,
                  CGI_description& region_list, CGI_result& result, const Probe_result* probe_result,
                  Fit_path path, Region_test test) {
    progress("     Analyzing differentially methylated arbitrary region");
    std::vector<uint32_t> records, rows;
    for (const Study_point& probe : study_points(points, study, probe_index_map)) {
        records.push_back(probe.record);
        rows.push_back(probe.row);
    }
    find_region(points, records, rows, region_list);
    return test_regions(matrix, options.thread_num, study, result, region_list, probe_result, path, test,
                        "       Finding fdr in arbitrary region analysis");
}
