// Study input: the configuration file (one line per sample) and the per-sample
// beta data files, read into the study description and the beta matrix.
// Every failure that would leave the matrix unfilled or misaligned stops the
// run: the reader prints its message and read_data returns null.
#ifndef CIMBREL_READ_FILE_H
#define CIMBREL_READ_FILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "basic_type.h"
#include "parameter.h"

// Reads the configuration file into study (samples, groups), registers
// the probes from the reference sample file (data file of the last sample
// line: the first token of its line r names row r; a line without one leaves
// its row without an identifier) and fills matrix->covariable and
// matrix->continuous. P, N are set; K is an input. False, after its
// messages, when the run must stop: a file cannot be opened or read, a
// sample line is malformed, a sample name repeats, no sample line, or P is 0.
bool initialize_configure(const std::string& configure_file, Data_description& study,
                          Data_matrix* matrix, uint32_t& probe_num, uint32_t& sample_num,
                          uint32_t& covariable_num, const Parameter& options);

// The study-input stage: prints its progress line, reads the configuration
// and every data file (thread_num workers), excluding the SNP probes under
// --nosnp. Returns the new matrix, or null when the run must stop
// (everything released). The values are kept in memory when the run fits
// the memory budget (memory_budget in spill_file.h), otherwise in a spill
// file; with normalisation on, each sample's quantiles are found as it is read.
Data_matrix* read_data(const std::string& configure_file, Data_description& study,
                       uint32_t covariable_num, uint32_t thread_num, const Parameter& options);

// Collects the data file names from the configuration file, places the
// values (in memory or spilled, by memory_budget bytes) and reads the files
// with thread_num workers. Returns matrix, or null when a file cannot be
// opened or read or a data file is misaligned with the reference (matrix
// stays the caller's, to be released with data_matrix_free).
Data_matrix* read_data_file(const std::string& configure_file, Data_matrix* matrix, uint32_t& probe_num,
                            uint32_t& sample_num, uint32_t thread_num, const Data_description& study,
                            const Parameter& options, uint64_t memory_budget);

// What the data-reading workers share (defined in read_file.cpp).
struct Read_plan;

// Worker t of step: reads the groups of data files t, t+step, … (groups of
// up to 4 neighbouring files read side by side when the matrix is in
// memory, single files when they go to the spill file). ok[i] is set to 1
// when file i was read whole and aligned, 0 otherwise; it writes no other
// entry.
bool read_data_thread(const Read_plan* plan, uint32_t t, uint32_t step, std::vector<char>* ok);

#endif
