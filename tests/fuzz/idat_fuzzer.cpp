// Fuzzes the IDAT reader (parse_idat) and the preprocessing of what it
// reads. The first input byte chooses the background, dye-bias and
// detection options; the rest is the file. Promises: a file read has as
// many intensities and bead counts as addresses; a refusal names the file;
// laid onto a small manifest (both channels read from the file), every
// beta and detection p-value is a number in [0, 1], or the sample is
// refused with a reason.
#include <cmath>
#include <string>

#include "array_manifest.h"
#include "fuzz_util.h"
#include "idat.h"
#include "preprocess.h"

namespace {

const std::string file_name = "sample_Grn.idat";

// Addresses 1-5 hold a Type I Red, a Type I Grn and a Type II probe, 6-11 the controls.
Array_manifest small_manifest() {
    Array_manifest manifest;
    manifest.probes = {{"cg1", 1, 2, Probe_design::type_i_red},
                       {"cg2", 3, 4, Probe_design::type_i_green},
                       {"cg3", 5, 0, Probe_design::type_ii},
                       {"cg4", 5, 99, Probe_design::type_i_red}};
    const char* types[] = {"NEGATIVE", "NEGATIVE", "NORM_A", "NORM_T", "NORM_C", "NORM_G"};
    for (uint32_t c = 0; c < 6; ++c) manifest.controls.push_back({6 + c, types[c], "", ""});
    return manifest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return -1;
    Idat idat;
    std::string error;
    if (!parse_idat(data + 1, size - 1, file_name, idat, error)) {
        FUZZ_CHECK(error.rfind(file_name + ": ", 0) == 0, "refusal that does not name the file");
        return 0;
    }
    FUZZ_CHECK(!idat.addresses.empty() && idat.means.size() == idat.addresses.size() &&
                   idat.beads.size() == idat.addresses.size(),
               "arrays of another length than the address count");
    static const Array_manifest manifest = small_manifest();
    Preprocess_options options;
    options.background = data[0] & 1 ? Background::none : Background::noob;
    options.dye_bias = data[0] & 2 ? Dye_bias::none : Dye_bias::single;
    options.detection = data[0] & 4 ? Detection::oob : Detection::negative;
    options.min_beads = data[0] >> 3;
    Array_layout layout = map_layout(manifest, idat.addresses);
    Sample_values values;
    std::string what;
    if (!preprocess_sample(layout, idat, idat, options, values, what)) {
        FUZZ_CHECK(!what.empty(), "refusal without a reason");
        return 0;
    }
    for (size_t i = 0; i < layout.probes.size(); ++i) {
        if (!layout.probes[i].present()) continue;
        FUZZ_CHECK(values.beta[i] >= 0.0 && values.beta[i] <= 1.0, "beta outside [0, 1] or not a number");
        FUZZ_CHECK(values.detection[i] >= 0.0 && values.detection[i] <= 1.0, "detection p-value outside [0, 1]");
    }
    FUZZ_CHECK(std::isfinite(values.dye_factor), "dye-bias factor not finite");
    return 0;
}
