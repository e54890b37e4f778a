// Region tests: every region with at least two probes is tested, then the
// region p-values get an FDR. 2.0 in pvalue or fdr means the region was not
// tested. Two tests are offered: the mean test (the default, region_mean.h)
// tests the per-sample means of the region's centred probe values with the
// probe F test; the pooled model fits all probe-sample values of a region in
// one linear model in which each probe has its own block of columns
// (intercept or group levels, covariable slopes). The pooled model treats
// those values as independent, but the probes of a region share each
// sample's level, so its p-values are too small when nothing differs; it is
// kept for reproducing earlier analyses.
#ifndef CIMBREL_CGI_ANALYSIS_H
#define CIMBREL_CGI_ANALYSIS_H

#include <cstdint>
#include <string>

#include <gsl/gsl_vector.h>

#include "ancova.h"
#include "basic_type.h"
#include "bed_file.h"
#include "probe_analysis.h"

// Owned by main, one per region kind. Vectors are allocated by the stage
// driver, one entry per region; they stay null when there is no region.
struct CGI_result {
    gsl_vector* pvalue = nullptr;
    gsl_vector* fdr = nullptr;
};

void cgi_result_free(CGI_result& result);

enum class Region_test { mean, pooled };

// The region test chosen with CIMBREL_REGION_TEST: "mean" (also when unset
// or empty) or "pooled". False, with the reason in error, for anything else.
bool region_test_choice(Region_test& test, std::string& error);

// Allocates the result (entries 2.0) for the regions of region_list, runs the
// workers and the FDR step. Pooled model: with Fit_path::fast the region sums
// of squares come from probe_result.fit; with Fit_path::reference each region
// is fitted densely with ancova. Mean test: see mean_region_pvalues. Prints
// no progress line of its own; fdr_title, when given, is printed with
// progress() after the workers join, before the FDR step. False, after a
// message and with every region untested, when the spill file cannot be read.
bool test_regions(Data_matrix* matrix, uint32_t thread_num, const Data_description& study,
                  CGI_result& result, const CGI_description& region_list,
                  const Probe_result* probe_result, Fit_path path, Region_test test = Region_test::mean,
                  const char* fdr_title = nullptr);

// Predefined-region stage: progress lines, then test_regions.
bool cgi_analysis(Data_matrix* matrix, uint32_t thread_num, const Data_description& study,
                  CGI_result& result, const CGI_description& region_list,
                  const Probe_result* probe_result = nullptr, Fit_path path = Fit_path::fast,
                  Region_test test = Region_test::mean);

// Pooled model, reference worker: regions t, t+step, … fitted with ancova on dense
// block designs. Writes only those regions' pvalue entries.
void cgi_analysis_thread(Data_matrix* matrix, uint32_t t, uint32_t step,
                         const Data_description* study, const CGI_description* region_list,
                         CGI_result* result);

// Pooled model, fast worker: the same p-values from the probes' own fits.
void cgi_analysis_fast_thread(Data_matrix* matrix, uint32_t t, uint32_t step,
                              const Data_description* study, const CGI_description* region_list,
                              const Probe_result* probe_result, CGI_result* result);

// FDR over the regions whose p-value is below 1.000001; others keep 2.0.
void fdr_range_cgi(CGI_result& result);

#endif
