// Out-of-core storage of the beta matrix. When the P x N logit values would
// not fit the memory budget, the reader writes each sample's column, as it is
// read, into a spill file laid out by blocks of rows: block b holds rows
// [b R, b R + rows_b) of every column, column after column. The analysis then
// loads one block at a time as a row-major rows_b x N matrix. The file lives in
// $TMPDIR (the current folder when TMPDIR is not set) and is unlinked as soon
// as it is created, so it never outlives the run. Values are stored as they
// are in memory (NaN = excluded).
#ifndef CIMBREL_SPILL_FILE_H
#define CIMBREL_SPILL_FILE_H

#include <cstdint>
#include <string>
#include <vector>

#include <gsl/gsl_matrix.h>

struct Matrix_spill {
    int fd = -1;
    uint32_t probe_num = 0;
    uint32_t sample_num = 0;
    uint32_t block_rows = 0;  // R: rows of every block but possibly the last
};

// The memory budget in bytes: CIMBREL_MEMORY (a whole number of bytes with an
// optional K, M, G or T suffix, powers of 1024), or half of the memory the
// system reports available. False, with the reason in error, when
// CIMBREL_MEMORY is set but malformed.
bool memory_budget(uint64_t& bytes, std::string& error);

// Reads "512M"-style sizes; false for anything else (also 0 and overflow).
bool parse_memory_size(const std::string& text, uint64_t& bytes);

// Creates the spill file for probe_num x sample_num values in blocks of
// block_rows rows. Null, with the reason in error, when it cannot be created.
Matrix_spill* spill_create(uint32_t probe_num, uint32_t sample_num, uint32_t block_rows,
                           std::string& error);
void spill_free(Matrix_spill* spill);

uint32_t spill_block_count(const Matrix_spill& spill);
// First row and row count of block b.
uint32_t spill_block_first(const Matrix_spill& spill, uint32_t b);
uint32_t spill_block_size(const Matrix_spill& spill, uint32_t b);

// Writes column c (probe_num values, one per row) into every block. False,
// with the reason in error, on a write failure (a full disk, for example).
bool spill_write_column(const Matrix_spill& spill, uint32_t c, const double* column, std::string& error);

// Loads block b into block, a matrix of spill_block_size rows and sample_num
// columns, from row-major column segments; scratch is reused between calls.
// False, with the reason in error, on a read failure.
bool spill_read_block(const Matrix_spill& spill, uint32_t b, gsl_matrix* block,
                      std::vector<double>& scratch, std::string& error);

// Writes block, a matrix of spill_block_size rows and sample_num columns, back
// over block b, in the layout spill_read_block reads; scratch is reused
// between calls. False, with the reason in error, on a write failure.
bool spill_write_block(const Matrix_spill& spill, uint32_t b, const gsl_matrix* block,
                       std::vector<double>& scratch, std::string& error);

// Loads rows [offset, offset + rows->size1) of block b into rows (sample_num
// columns), one read per column; for a part of a block, such as the rows a
// later stage loads at once. False, with the reason in error, on a read failure.
bool spill_read_rows(const Matrix_spill& spill, uint32_t b, uint32_t offset, gsl_matrix* rows,
                     std::vector<double>& scratch, std::string& error);

#endif
