// From a sample's two IDATs to beta values and detection p-values.
//
// Signals: Type I Red M = Red[B], U = Red[A]; Type I Grn M = Grn[B],
// U = Grn[A]; Type II M = Grn[A], U = Red[A]; beta = M / (M + U + 100).
//
// Background (noob): per channel a normal-exponential convolution, the
// background (normal, mu and s) estimated by Huber's M-estimate on the
// out-of-band intensities (green: both addresses of the Type I Red probes;
// red: both addresses of the Type I Grn probes), the signal mean alpha by
// the in-band intensities less mu (at least 10). Every intensity x of the
// channel becomes the posterior mean of its signal, m + s·φ(m/s)/Φ(m/s)
// with m = x − mu − s²/alpha, at least 1e-6, plus 15.
//
// Dye bias: every red intensity is scaled by G / R, the mean green
// intensity of the NORM_C and NORM_G controls over the mean red intensity
// of the NORM_A and NORM_T controls (after the background correction).
//
// Detection p-values, on the raw intensities: from the NEGATIVE controls
// (a normal background per channel, median and 1.4826 × MAD) or from the
// empirical distribution of the out-of-band intensities and the negative
// controls. A probe with fewer beads than the minimum at an address it
// uses (the smaller count of the two files) gets 1.
#ifndef CIMBREL_IMPORT_PREPROCESS_H
#define CIMBREL_IMPORT_PREPROCESS_H

#include <cstdint>
#include <string>
#include <vector>

#include "array_manifest.h"

struct Idat;

enum class Background { noob, none };
enum class Dye_bias { single, none };
enum class Detection { negative, oob };

struct Preprocess_options {
    Background background = Background::noob;
    Dye_bias dye_bias = Dye_bias::single;
    Detection detection = Detection::negative;
    uint32_t min_beads = 3;
};

// Where a probe's intensities stand in a sample's arrays (indexes into the
// IDATs' address list); a = absent when one of its addresses is not there.
constexpr uint32_t absent = UINT32_MAX;
struct Probe_slots {
    uint32_t a = absent;
    uint32_t b = absent;  // Type I only
    Probe_design design = Probe_design::type_ii;
    bool present() const { return a != absent; }
};

// The manifest laid onto one address list: probes in manifest order, and
// the control addresses found in it.
struct Array_layout {
    std::vector<uint32_t> addresses;  // the list it was made for
    std::vector<Probe_slots> probes;
    std::vector<uint32_t> negative, norm_green, norm_red;  // slots of NEGATIVE; NORM_C, NORM_G; NORM_A, NORM_T
    size_t absent_probes = 0;
};
Array_layout map_layout(const Array_manifest& manifest, const std::vector<uint32_t>& addresses);

// The Huber M-estimate of location (k = 1.5) with its fixed scale
// s = 1.4826 × MAD, started at the median. For s = 0 it is the median.
struct Location {
    double mu = 0.0;
    double s = 0.0;
};
Location huber(std::vector<double> values);
// Median (the mean of the two middle values of an even count); reorders values.
double median(std::vector<double>& values);

struct Noob_fit {
    double mu = 0.0, s = 0.0, alpha = 0.0;
};
// Fits the background from the out-of-band and the signal from the in-band
// intensities. False when the out-of-band values are empty or their MAD is 0.
bool fit_noob(std::vector<double> out_of_band, std::vector<double> in_band, Noob_fit& fit);
// The corrected intensity of x.
double noob_signal(double x, const Noob_fit& fit);
// Φ(−z), computed as a tail so that tiny values keep their digits.
double normal_upper_tail(double z);

// One sample's result: per probe of the layout (absent probes have no value).
struct Sample_values {
    std::vector<double> beta, detection;
    Noob_fit green, red;            // zero without background correction
    double dye_factor = 1.0;
    size_t failed = 0;              // present probes with detection p-value > 0.05
    size_t low_beads = 0;           // present probes below the bead minimum
    double median_log2_m = 0.0, median_log2_u = 0.0;  // raw, over the present probes (intensities below 1 as 1)
};

// Computes the sample's values. False, with what naming the channel, when
// a channel's out-of-band MAD is 0, a control set the options need is
// missing, or the normalisation controls of the red channel are all 0.
bool preprocess_sample(const Array_layout& layout, const Idat& green, const Idat& red,
                       const Preprocess_options& options, Sample_values& values, std::string& what);

#endif
