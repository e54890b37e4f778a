// Region tests: every region with at least two probes is tested as one linear
// model in which each probe has its own block of columns (intercept or group
// levels, covariable slopes), then the region p-values get an FDR.
// 2.0 in pvalue or fdr means the region was not tested.
#ifndef CIMBREL_CGI_ANALYSIS_H
#define CIMBREL_CGI_ANALYSIS_H

#include <cstdint>

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

// Allocates the result (entries 2.0) for the regions of description, runs the
// workers and the FDR step. With Fit_path::fast the region sums of squares
// come from probe_result.fit; with Fit_path::reference each region is fitted
// densely with ancova. Prints no progress line of its own; fdr_title, when
// given, is printed with progress() after the workers join, before the FDR step.
void test_regions(Data_matrix* matrix, uint32_t thread_num, const Data_description& study,
                  CGI_result& result, const CGI_description& description,
                  const Probe_result* probe_result, Fit_path path,
                  const char* fdr_title = nullptr);

// Predefined-region stage: progress lines, then test_regions.
void cgi_analysis(Data_matrix* matrix, uint32_t thread_num, const Data_description& study,
                  CGI_result& result, const CGI_description& description,
                  const Probe_result* probe_result = nullptr, Fit_path path = Fit_path::fast);

// Reference worker: regions t, t+step, … fitted with ancova on dense
// block designs. Writes only those regions' pvalue entries.
void cgi_analysis_thread(Data_matrix* matrix, uint32_t t, uint32_t step,
                         const Data_description* study, const CGI_description* description,
                         CGI_result* result);

// Fast worker: the same p-values from the probes' own fits.
void cgi_analysis_fast_thread(Data_matrix* matrix, uint32_t t, uint32_t step,
                              const Data_description* study, const CGI_description* description,
                              const Probe_result* probe_result, CGI_result* result);

// FDR over the regions whose p-value is below 1.000001; others keep 2.0.
void fdr_range_cgi(CGI_result& result);

#endif
