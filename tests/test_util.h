// Helpers shared by the tests: temporary folders, whole-file reads and
// writes, running the built program, and capturing standard output of a
// function call.
#ifndef CIMBREL_TEST_UTIL_H
#define CIMBREL_TEST_UTIL_H

#include <functional>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed on destruction
// unless CIMBREL_KEEP_TMP is set in the environment.
class Temp_dir {
public:
    Temp_dir();
    ~Temp_dir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string read_text(const std::string& path);
void write_text(const std::string& path, const std::string& text);
bool file_exists(const std::string& path);

struct Run_result {
    int status = -1;     // exit status as a shell sees it (0-255)
    std::string out;     // standard output
    std::string err;     // standard error
};

// Runs the built cimbrel with args in folder dir.
Run_result run_cimbrel(const std::vector<std::string>& args, const std::string& dir = ".");
// Runs the program at path binary (a companion program) with args in folder dir.
Run_result run_program(const std::string& binary, const std::vector<std::string>& args,
                       const std::string& dir = ".");

// Replaces the "[...]" time stamp that opens progress lines with "[TIME]".
std::string mask_time_stamps(const std::string& text);

// Standard output written by body (flushes stdout and std::cout around it).
std::string capture_stdout(const std::function<void()>& body);

// text compressed as gzip: one member, or one member per member_size bytes
// (a multi-member file, as bgzip and concatenated .gz files are).
std::string gzip_text(const std::string& text, size_t member_size = 0);

// Seed of a randomised test: CIMBREL_TEST_SEED when set, otherwise a fresh
// one; printed so that a failing run can be repeated.
unsigned test_seed();

#endif
