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

// Reads the configuration file into description (samples, groups), registers
// the probes from the reference sample file (data file of the last sample
// line) and fills matrix->covariable and matrix->continuous. probe_ids gets
// the first token of every line of the reference file ("" for a line without
// one). P, N are set; K is an input. False, after its messages, when the run
// must stop: a file cannot be opened, a sample line is malformed, a sample
// name repeats, no sample line, or P is 0.
bool initialize_configure(const std::string& configure_file, Data_description& description,
                          Data_matrix* matrix, uint32_t& probe_num, uint32_t& sample_num,
                          uint32_t& covariable_num, const Parameter& options,
                          std::vector<std::string>& probe_ids);

// The study-input stage: prints its progress line, reads the configuration
// and every data file (thread_num workers), applies the SNP filter. Returns
// the new matrix, or null when the run must stop (everything released).
Data_matrix* read_data(const std::string& configure_file, Data_description& description,
                       uint32_t covariable_num, uint32_t thread_num, const Parameter& options);

// Allocates logit and valid (P x N), collects the data file names from the
// configuration file and reads them with thread_num workers. Returns matrix,
// or null when a file cannot be opened or a data file is misaligned with the
// reference (its matrices are then released).
Data_matrix* read_data_file(const std::string& configure_file, Data_matrix* matrix,
                            uint32_t& probe_num, uint32_t& sample_num, uint32_t thread_num,
                            const std::vector<std::string>& probe_ids);

// Worker t of step: reads data files t, t+step, … into their columns. ok[i]
// is set to 1 when file i was read whole and aligned, 0 otherwise; it writes
// no other entry.
bool read_data_thread(const std::vector<std::string>* files, Data_matrix* matrix, uint32_t t,
                      uint32_t step, const std::vector<std::string>* probe_ids,
                      std::vector<char>* ok);

#endif
