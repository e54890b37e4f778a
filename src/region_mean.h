// The region mean test. Each probe's usable values are centred on that
// probe's mean over its usable samples; each sample's value is the mean of
// its centred values over the region's probes (a sample without any usable
// value in the region has none); that one vector is tested with the probe
// stage's F test. Probes of a region share each sample's level, so it is the
// sample, not the probe-sample value, that is the unit of replication; and
// centring keeps a sample's value free of which probes it happens to miss.
//
// Every path adds a region's probes in ascending matrix row order, so a
// study gives the same bits whether its values are in memory or spilled.
#ifndef CIMBREL_REGION_MEAN_H
#define CIMBREL_REGION_MEAN_H

#include <cstdint>
#include <vector>

#include <gsl/gsl_vector.h>

#include "ancova.h"
#include "basic_type.h"
#include "bed_file.h"
#include "sample_design.h"

// The running sums of one region: per sample the sum and the count of its
// centred values, and whether every value so far was a number.
struct Region_sums {
    double* sum;
    uint32_t* count;
    bool* finite;
};

// Adds one probe's centred values (values: one per sample column, NaN = not usable).
void add_centred_probe(const double* values, const Sample_layout& layout, Region_sums sums);

// The sample values of a region from its sums into values (NaN where a
// sample has no value); false when a value was not a number, which leaves
// the region untested.
bool region_sample_values(const Sample_layout& layout, Region_sums sums, double* values);

// The dense reference: the region's values gathered probe by probe, centred,
// averaged per sample and tested with dense designs. rows: the region's
// matrix rows; the matrix must be in memory.
double mean_region_pvalue_reference(const Data_matrix& matrix, const Sample_layout& layout,
                                    const std::vector<uint32_t>& rows);

// Fills pvalue[i] for every region i of region_list with two probes or more
// (the others keep their entry), with thread_num workers: the fast path, in
// memory or from the spill file, or the dense reference (in memory only).
// False, after a message, when the spill file cannot be read.
bool mean_region_pvalues(const Data_matrix& matrix, uint32_t thread_num, const Data_description& study,
                         const CGI_description& region_list, Fit_path path, gsl_vector* pvalue);

#endif
