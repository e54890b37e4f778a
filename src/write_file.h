// Result output: the probe table and tracks, and the region tables and
// tracks. Tables are tab-separated with six significant digits; track lines
// are BedGraph "chr\tstart\tend\tvalue" with start = position, end = position
// + 1 and six decimals. Every writer returns false when a file cannot be
// opened for writing (the run then ends with exit status 1).
#ifndef CIMBREL_WRITE_FILE_H
#define CIMBREL_WRITE_FILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "basic_type.h"
#include "bed_file.h"
#include "cgi_analysis.h"
#include "parameter.h"
#include "probe_analysis.h"

// Probe table (probe_out_file) and one track per group (probe_prefix_<group>.BedGraph).
bool write_probe_result(const Data_description& study, const Probe_result& result,
                        const std::vector<Point>& points,
                        const Probe_index_map& probe_index_map,
                        const Parameter& options);

// Predefined-region table (r1_out_file) and tracks (r1_prefix_<group>.BedGraph).
bool write_cgi_result(const Parameter& options, const Data_description& study,
                      const Probe_result& probe_result, const std::vector<Point>& points,
                      const Probe_index_map& probe_index_map,
                      const CGI_result& result, const CGI_description& region_list);

// Arbitrary-region table (r2_out_file) and tracks (r2_prefix_<group>.BedGraph).
bool write_dmr_result(const Parameter& options, const Data_description& study,
                      const Probe_result& probe_result, const std::vector<Point>& points,
                      const Probe_index_map& probe_index_map,
                      const CGI_result& result, const CGI_description& region_list);

#endif
