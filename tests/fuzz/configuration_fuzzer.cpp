// Fuzzes the configuration file reader through the whole study-input stage
// (read_data). The first input byte chooses the options (bit 0
// --continuous, bit 1 --nosnp, bits 2-3 the covariable count, bit 4 values
// spilled to a file rather than kept in memory, bit 5 --normalize-off),
// the rest is the configuration file. Its data file names resolve in a private folder
// holding a few small data files: a.txt and b.txt (aligned, one SNP probe),
// c.txt (another probe on line 2), d.gz (a.txt compressed), e.txt (one line
// short). Inputs naming paths with "/" are skipped, so that a run never
// reads outside that folder (the configuration may name itself, though).
// Promises: a returned matrix keeps those of study_check.h, every sample
// has a registered group ("all" in continuous mode), N matches the sample
// registry; a refusal is explained by a message.
#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_util.h"
#include "read_file.h"
#include "study_check.h"
#include "time_out.h"

namespace {

const char* const aligned_a = "cg00000029 0.43 0.01\nrs10000001 0.91 0.0\ncg00000108 0.5 0.2\n";
const char* const aligned_b = "cg00000029\t0.1\t0.0\r\nrs10000001\t1\t0\r\ncg00000108\t0.77\t0.01\r\n";
const char* const misaligned = "cg00000029 0.43 0.01\ncg99999999 0.2 0.01\ncg00000108 0.5 0.2\n";
const char* const short_file = "cg00000029 0.43 0.01\nrs10000001 0.91 0.0\n";

// Bytes printed by the stage when it reads nothing: its progress line.
size_t progress_bytes = 0;

void make_study_folder() {
    write_scratch("a.txt", aligned_a);
    write_scratch("b.txt", aligned_b);
    write_scratch("c.txt", misaligned);
    write_scratch("d.gz", gzip_text(aligned_a));
    write_scratch("e.txt", short_file);
    if (chdir(scratch_dir().c_str()) != 0) abort();
    restart_output();
    progress("     Read data");
    progress_bytes = printed_bytes();
}

Parameter options_of(uint8_t choice) {
    Parameter options;
    options.continuous_on = (choice & 1) != 0;
    options.nosnp = (choice & 2) != 0;
    options.covariable_num = (choice >> 2) & 3;
    options.normalize_on = (choice & 32) == 0;
    return options;
}

void check_samples(const Data_description& study, const Parameter& options, uint32_t samples) {
    FUZZ_CHECK(study.sample_index.size() == samples, "sample count differs from the matrix");
    FUZZ_CHECK(study.sample_group.sample_to_group.size() == samples, "sample without a group");
    for (const auto& [sample, group] : study.sample_group.sample_to_group) {
        uint32_t number = 0;
        FUZZ_CHECK(study.group_index.find(group, number), "group not registered");
        FUZZ_CHECK(number < study.group_index.size(), "group number beyond the group count");
        if (options.continuous_on) FUZZ_CHECK(group == "all", "continuous sample outside group all");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    make_study_folder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || memchr(data, '/', size) != nullptr) return -1;
    const std::string configure = write_scratch("configure.txt", data + 1, size - 1);
    const Parameter options = options_of(data[0]);
    spill_values((data[0] & 16) != 0);
    Data_description study;
    restart_output();
    Data_matrix* matrix = read_data(configure, study, options.covariable_num, 1, options);
    if (matrix == nullptr) {
        FUZZ_CHECK(printed_bytes() > progress_bytes, "study refused without a message");
        return 0;
    }
    FUZZ_CHECK(probe_count(*matrix) > 0, "study without probes");
    check_samples(study, options, sample_count(*matrix));
    check_study_matrix(*matrix, study, options, probe_count(*matrix), sample_count(*matrix));
    data_matrix_free(matrix);
    return 0;
}
