// Arbitrary regions: maximal runs of study probes on one chromosome in which
// each probe lies at most 100 positions after its predecessor, tested like
// predefined regions.
#ifndef CIMBREL_DMR_ANALYSIS_H
#define CIMBREL_DMR_ANALYSIS_H

#include <cstdint>
#include <string>
#include <vector>

#include "ancova.h"
#include "basic_type.h"
#include "bed_file.h"
#include "cgi_analysis.h"
#include "parameter.h"
#include "probe_analysis.h"

constexpr uint32_t linking_distance = 100;

// loc(b) - loc(a) on one chromosome; linking_distance + 1 across chromosomes.
uint32_t probe_distance(const std::vector<Point>& points, uint32_t a, uint32_t b);

// Appends the runs of the probes records[0], records[1], … (indices into
// points, in annotation order) as regions [first loc, last loc + 1) with
// empty names; a region lists rows[k] for each of its probes records[k].
void find_region(const std::vector<Point>& points, const std::vector<uint32_t>& records,
                 const std::vector<uint32_t>& rows, CGI_description& region_list);

// The stage: progress lines; the regions are formed from the annotation
// records that the probe index map gives for the study's probes (one each),
// then tested with options.thread_num workers. False as test_regions.
bool dmr_analysis(const Data_description& study, Data_matrix* matrix, const Parameter& options,
                  const std::vector<Point>& points, const Probe_index_map& probe_index_map,
                  CGI_description& region_list, CGI_result& result,
                  const Probe_result* probe_result = nullptr, Fit_path path = Fit_path::fast,
                  Region_test test = Region_test::mean);

#endif
