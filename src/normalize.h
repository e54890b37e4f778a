// Quantile normalisation of the samples on the logit scale: every sample is
// summarised by 15 quantiles (levels 0.01, 0.08, …, 0.99) of its usable
// values, the quantiles are averaged into a reference, and each usable value
// is mapped piecewise linearly from its sample's quantiles onto the
// reference. Values outside a sample's [q0.01, q0.99] and excluded values are
// left unchanged. The logit matrix is rewritten in place.
#ifndef CIMBREL_NORMALIZE_H
#define CIMBREL_NORMALIZE_H

#include <cstdint>
#include <vector>

#include <gsl/gsl_matrix.h>
#include <gsl/gsl_vector.h>

#include "basic_type.h"

// The stage: progress lines, quantiles (thread_num workers; taken from
// matrix->quantiles when the reader found them), reference, mapping
// (thread_num workers). A sample without any usable value is left unchanged,
// takes no part in the reference and draws a warning naming it (names come
// from the study's sample registry). When the values are spilled
// (matrix->logit null) the reference is stored in matrix->reference and the
// mapping is left to normalize_block as the blocks are loaded. Always true.
bool normalize(Data_matrix* matrix, uint32_t thread_num,
               const Data_description* study = nullptr);

// Quantile levels 0.01, 0.08, …, 0.99.
constexpr size_t quantile_level_num = 15;

// Maps every column of block (a block of rows of the beta matrix, all
// samples) from its sample's quantiles (15 x N) onto reference, with
// thread_num workers: the same mapping normalize applies in memory.
void normalize_block(gsl_matrix* block, const gsl_matrix* quantiles, const gsl_vector* reference,
                     uint32_t thread_num);

// The 15 quantiles of one sample's usable values, written to out[k *
// out_stride]; NaN for a sample without values. values is reordered.
void sample_quantiles(std::vector<double>& values, double* out, size_t out_stride);

// Worker t of step: fills column c of quantiles (15 x N) for c = t, t+step, …
// A column without usable values is set to NaN (marks "no quantiles").
bool find_quantile_thread(Data_matrix* matrix, uint32_t t, uint32_t step,
                          const gsl_vector* levels, gsl_matrix* quantiles);

// reference[k] = mean of row k of quantiles over the columns that have
// quantiles (not NaN). False after a message when the sizes disagree.
bool average_quantile(const gsl_matrix* quantiles, gsl_vector* reference);

// Worker t of step: maps columns c = t, t+step, … with normalize_function.
bool normalize_function_thread(Data_matrix* matrix, uint32_t t, uint32_t step,
                               const gsl_vector* levels, const gsl_vector* reference,
                               const gsl_matrix* quantiles);

// Maps the usable values of column c from own quantiles q onto reference.
bool normalize_function(Data_matrix* matrix, uint32_t c, const gsl_vector* levels,
                        const gsl_vector* reference, const gsl_vector* q);

#endif
