// Fuzzes the data file reader: the input is the data file of the first
// sample of a fixed two-sample study whose reference sample file (the last
// one) holds six probes, and the study-input stage (read_data) reads both.
// Inputs of odd length are read with the values spilled to a file.
// Promises: a returned matrix is 6 x 2 and keeps those of study_check.h;
// the reference column holds exactly the reference values; the fuzzed file
// then has six lines, each starting with the reference identifier of its
// row (checked on plain input); a refusal is explained by a message.
#include <unistd.h>

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_util.h"
#include "line_reader.h"
#include "read_file.h"
#include "study_check.h"
#include "time_out.h"

namespace {

struct Reference_line {
    const char* id;
    double beta;  // 0: excluded
};

// Usable, failed detection, SNP, usable, beta 1 (excluded), usable.
const Reference_line reference[] = {
    {"cg00000029", 0.25}, {"cg00000108", 0.0}, {"rs10000001", 0.9},
    {"ch.1.1", 0.5},      {"cg00000165", 0.0}, {"cg00000236", 0.75},
};
const char* const reference_text =
    "cg00000029 0.25 0.01\ncg00000108 0.6 0.2\nrs10000001 0.9 0\n"
    "ch.1.1\t0.5\t0.05\ncg00000165 1 0.0\ncg00000236 0.75 1e-5\n";
constexpr uint32_t reference_rows = 6;

std::string configure_file;
size_t progress_bytes = 0;

void make_study() {
    write_scratch("ref.txt", reference_text);
    configure_file = write_scratch("configure.txt", "fuzz.txt S1 case\nref.txt S2 control\n");
    if (chdir(scratch_dir().c_str()) != 0) abort();
    restart_output();
    progress("     Read data");
    progress_bytes = printed_bytes();
}

void check_reference_column(const std::vector<double>& values) {
    for (uint32_t row = 0; row < reference_rows; ++row) {
        const double logit = values[row * 2 + 1], beta = reference[row].beta;
        FUZZ_CHECK(is_usable(logit) == (beta > 0.0), "reference value usable flag changed");
        if (beta > 0.0) FUZZ_CHECK(logit == std::log(beta / (1.0 - beta)), "reference value changed");
    }
}

// Plain input of an aligned file: six lines, each led by its row's identifier.
void check_alignment(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        end = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end);
    }
    FUZZ_CHECK(lines.size() == reference_rows, "file of another length accepted");
    for (uint32_t row = 0; row < reference_rows; ++row) {
        std::string_view line = lines[row];
        size_t first = 0;
        while (first < line.size() && is_space(line[first])) ++first;
        size_t last = first;
        while (last < line.size() && !is_space(line[last])) ++last;
        std::string_view id = line.substr(first, last - first);
        FUZZ_CHECK(id.empty() || id == reference[row].id, "line of another probe accepted");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    make_study();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    write_scratch("fuzz.txt", data, size);
    spill_values(size % 2 == 1);
    Parameter options;
    Data_description study;
    restart_output();
    Data_matrix* matrix = read_data(configure_file, study, 0, 1, options);
    if (matrix == nullptr) {
        FUZZ_CHECK(printed_bytes() > progress_bytes, "data file refused without a message");
        return 0;
    }
    check_reference_column(check_study_matrix(*matrix, study, options, reference_rows, 2));
    if (size < 2 || data[0] != 0x1f || data[1] != 0x8b)
        check_alignment(std::string_view(reinterpret_cast<const char*>(data), size));
    data_matrix_free(matrix);
    return 0;
}
