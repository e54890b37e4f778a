// Shared pieces of the libFuzzer targets: a private scratch folder made once
// per process (the readers take paths), a sink for the messages the readers
// print to standard output (kept out of the terminal, and readable so that a
// target can check that a refused input was explained), and the check that
// turns a broken reader promise into a crash libFuzzer records.
#ifndef CIMBREL_FUZZ_UTIL_H
#define CIMBREL_FUZZ_UTIL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The process's scratch folder (created on first use, removed at exit).
const std::string& scratch_dir();

// Writes size bytes at data to scratch_dir()/name and returns its path.
std::string write_scratch(const std::string& name, const uint8_t* data, size_t size);
std::string write_scratch(const std::string& name, std::string_view text);

// text compressed as one gzip member (zlib).
std::string gzip_text(std::string_view text);

// Standard output goes to a file of the scratch folder from the first call
// on. Each call empties it; printed_bytes() then counts the bytes written
// since.
void restart_output();
size_t printed_bytes();

// Makes the study reader keep the values in a spill file (a memory budget
// of one byte) or in memory (no budget set).
void spill_values(bool spill);

// A broken promise: names it on standard error and aborts, so that
// libFuzzer keeps the input that caused it.
#define FUZZ_CHECK(condition, what) \
    do { \
        if (!(condition)) fuzz_failure(__FILE__, __LINE__, #condition, what); \
    } while (0)
[[noreturn]] void fuzz_failure(const char* file, int line, const char* condition, const char* what);

#endif
