#include "preprocess.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "idat.h"

namespace {

constexpr double mad_scale = 1.4826;
constexpr double huber_k = 1.5;
constexpr size_t intensity_levels = 65536;  // intensities are 16-bit

// Slot of each address in a list, by binary search over a sorted copy.
class Address_lookup {
public:
    explicit Address_lookup(const std::vector<uint32_t>& addresses) {
        sorted_.reserve(addresses.size());
        for (size_t i = 0; i < addresses.size(); ++i) sorted_.emplace_back(addresses[i], static_cast<uint32_t>(i));
        std::stable_sort(sorted_.begin(), sorted_.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
    }
    uint32_t find(uint32_t address) const {
        auto at = std::lower_bound(sorted_.begin(), sorted_.end(), address,
                                   [](const auto& entry, uint32_t value) { return entry.first < value; });
        return at != sorted_.end() && at->first == address ? at->second : absent;
    }

private:
    std::vector<std::pair<uint32_t, uint32_t>> sorted_;
};

// The median absolute deviation from center; reorders values.
double mad(std::vector<double>& values, double center) {
    for (double& v : values) v = std::fabs(v - center);
    return median(values);
}

// Φ(−num/den) for a scale that may be 0 (then the limit: 0, 1/2 or 1).
double tail_of(double num, double den) {
    if (den > 0.0) return normal_upper_tail(num / den);
    return num > 0.0 ? 0.0 : num < 0.0 ? 1.0 : 0.5;
}

// Cumulative counts of raw intensities: F(x) = at[x] / total.
struct Empirical {
    std::vector<uint32_t> at;
    double total = 0.0;
    explicit Empirical(const std::vector<double>& values) : at(intensity_levels, 0), total(double(values.size())) {
        for (double v : values) ++at[static_cast<size_t>(v)];
        for (size_t x = 1; x < intensity_levels; ++x) at[x] += at[x - 1];
    }
    double operator()(uint16_t x) const { return at[x] / total; }
};

// The background and signal intensities of both channels.
struct Channel_sets {
    std::vector<double> green_oob, red_oob, green_in, red_in;
};

Channel_sets channel_sets(const Array_layout& layout, const uint16_t* g, const uint16_t* r) {
    Channel_sets sets;
    for (const Probe_slots& p : layout.probes) {
        if (!p.present()) continue;
        if (p.design == Probe_design::type_i_red) {
            sets.green_oob.insert(sets.green_oob.end(), {double(g[p.a]), double(g[p.b])});
            sets.red_in.insert(sets.red_in.end(), {double(r[p.a]), double(r[p.b])});
        } else if (p.design == Probe_design::type_i_green) {
            sets.red_oob.insert(sets.red_oob.end(), {double(r[p.a]), double(r[p.b])});
            sets.green_in.insert(sets.green_in.end(), {double(g[p.a]), double(g[p.b])});
        } else {
            sets.green_in.push_back(g[p.a]);
            sets.red_in.push_back(r[p.a]);
        }
    }
    return sets;
}

// Corrected intensity of every raw level of a channel.
bool correction_table(const std::vector<double>& oob, const std::vector<double>& in, const Preprocess_options& options,
                      const char* channel, Noob_fit& fit, std::vector<double>& table, std::string& what) {
    table.resize(intensity_levels);
    if (options.background == Background::none) {
        for (size_t x = 0; x < intensity_levels; ++x) table[x] = double(x);
        return true;
    }
    if (!fit_noob(oob, in, fit)) {
        what = std::string("the out-of-band intensities of the ") + channel + " channel " +
               (oob.empty() ? "are missing" : "have a MAD of 0") + ": no background can be estimated";
        return false;
    }
    for (size_t x = 0; x < intensity_levels; ++x) table[x] = noob_signal(double(x), fit);
    return true;
}

double mean_at(const std::vector<uint32_t>& slots, const uint16_t* raw, const std::vector<double>& table) {
    double sum = 0.0;
    for (uint32_t slot : slots) sum += table[raw[slot]];
    return sum / double(slots.size());
}

bool dye_factor(const Array_layout& layout, const uint16_t* g, const uint16_t* r, const std::vector<double>& green,
                const std::vector<double>& red, double& factor, std::string& what) {
    if (layout.norm_green.empty() || layout.norm_red.empty()) {
        what = std::string("no ") + (layout.norm_green.empty() ? "NORM_C or NORM_G" : "NORM_A or NORM_T") +
               " control among the IDATs' addresses, needed for the dye-bias scaling (--dye-bias none skips it)";
        return false;
    }
    double mean_red = mean_at(layout.norm_red, r, red);
    if (!(mean_red > 0.0)) {
        what = "the NORM_A and NORM_T controls of the red channel are all 0: no dye-bias scaling possible";
        return false;
    }
    factor = mean_at(layout.norm_green, g, green) / mean_red;
    return true;
}

// The detection p-value of a probe from its raw signals.
class Detection_model {
public:
    bool fit(const Array_layout& layout, const uint16_t* g, const uint16_t* r, Channel_sets& sets,
             const Preprocess_options& options, std::string& what) {
        negative_ = options.detection == Detection::negative;
        std::vector<double> green, red;
        for (uint32_t slot : layout.negative) {
            green.push_back(g[slot]);
            red.push_back(r[slot]);
        }
        if (!negative_) {
            green.insert(green.end(), sets.green_oob.begin(), sets.green_oob.end());
            red.insert(red.end(), sets.red_oob.begin(), sets.red_oob.end());
            if (green.empty() || red.empty()) {
                what = std::string("no out-of-band intensity nor NEGATIVE control in the ") +
                       (green.empty() ? "green" : "red") + " channel, needed for the detection p-values";
                return false;
            }
            green_cdf_.reset(new Empirical(green));
            red_cdf_.reset(new Empirical(red));
            return true;
        }
        if (layout.negative.empty()) {
            what = "no NEGATIVE control among the IDATs' addresses, needed for the detection p-values "
                   "(--detection oob uses the out-of-band intensities instead)";
            return false;
        }
        mu_green_ = median(green);
        sd_green_ = mad_scale * mad(green, mu_green_);
        mu_red_ = median(red);
        sd_red_ = mad_scale * mad(red, mu_red_);
        return true;
    }
    double p(Probe_design design, uint16_t m, uint16_t u) const {
        double sum = double(m) + double(u);
        if (negative_) {
            if (design == Probe_design::type_i_red) return tail_of(sum - 2 * mu_red_, 2 * sd_red_);
            if (design == Probe_design::type_i_green) return tail_of(sum - 2 * mu_green_, 2 * sd_green_);
            return tail_of(sum - (mu_red_ + mu_green_), sd_red_ + sd_green_);
        }
        if (design == Probe_design::type_i_red) return 1.0 - (*red_cdf_)(std::max(m, u));
        if (design == Probe_design::type_i_green) return 1.0 - (*green_cdf_)(std::max(m, u));
        return 1.0 - std::max((*green_cdf_)(m), (*red_cdf_)(u));
    }

private:
    bool negative_ = true;
    double mu_green_ = 0, sd_green_ = 0, mu_red_ = 0, sd_red_ = 0;
    std::unique_ptr<Empirical> green_cdf_, red_cdf_;
};

}  // namespace

Array_layout map_layout(const Array_manifest& manifest, const std::vector<uint32_t>& addresses) {
    Array_layout layout;
    layout.addresses = addresses;
    Address_lookup lookup(addresses);
    layout.probes.resize(manifest.probes.size());
    for (size_t i = 0; i < manifest.probes.size(); ++i) {
        const Array_probe& probe = manifest.probes[i];
        Probe_slots& slots = layout.probes[i];
        slots.design = probe.design;
        slots.a = lookup.find(probe.address_a);
        if (probe.design != Probe_design::type_ii) slots.b = lookup.find(probe.address_b);
        if (slots.a == absent || (probe.design != Probe_design::type_ii && slots.b == absent)) {
            slots.a = slots.b = absent;
            ++layout.absent_probes;
        }
    }
    for (const Array_control& control : manifest.controls) {
        uint32_t slot = lookup.find(control.address);
        if (slot == absent) continue;
        if (control.type == "NEGATIVE") layout.negative.push_back(slot);
        if (control.type == "NORM_C" || control.type == "NORM_G") layout.norm_green.push_back(slot);
        if (control.type == "NORM_A" || control.type == "NORM_T") layout.norm_red.push_back(slot);
    }
    return layout;
}

double median(std::vector<double>& values) {
    if (values.empty()) return 0.0;
    size_t half = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + half, values.end());
    double upper = values[half];
    if (values.size() % 2 == 1) return upper;
    return (*std::max_element(values.begin(), values.begin() + half) + upper) / 2;
}

Location huber(std::vector<double> values) {
    Location location;
    std::vector<double> work = values;
    location.mu = median(work);
    location.s = mad_scale * mad(work, location.mu);
    if (location.s == 0.0) return location;
    // The iteration contracts; the bound only guards against a value set that makes it cycle.
    for (int step = 0; step < 1000; ++step) {
        double low = location.mu - huber_k * location.s, high = location.mu + huber_k * location.s, sum = 0.0;
        for (double v : values) sum += std::min(std::max(v, low), high);
        double next = sum / double(values.size());
        if (std::fabs(location.mu - next) < 1e-6 * location.s) break;
        location.mu = next;
    }
    return location;
}

bool fit_noob(std::vector<double> out_of_band, std::vector<double> in_band, Noob_fit& fit) {
    if (out_of_band.empty()) return false;
    Location background = huber(std::move(out_of_band));
    if (background.s == 0.0) return false;
    fit.mu = background.mu;
    fit.s = background.s;
    fit.alpha = std::max(huber(std::move(in_band)).mu - background.mu, 10.0);
    return true;
}

namespace {

// log Φ(z): from erfc while Φ(z) stays far from underflow (z > −30, Φ >
// 1e-197); below, log φ(z) − log(−z) + log(1 − z⁻² + 3z⁻⁴ − 15z⁻⁶ + 105z⁻⁸),
// the asymptotic series of the Mills ratio, whose next term is below 2e-12 there.
double log_normal_distribution(double z) {
    if (z > -30.0) return std::log(0.5 * std::erfc(-z / M_SQRT2));
    double w = 1.0 / (z * z);
    double series = 1.0 - w * (1.0 - w * (3.0 - w * (15.0 - w * 105.0)));
    return -0.5 * z * z - 0.5 * std::log(2 * M_PI) - std::log(-z) + std::log(series);
}

}  // namespace

double noob_signal(double x, const Noob_fit& fit) {
    double m = x - fit.mu - fit.s * fit.s / fit.alpha, z = m / fit.s;
    // φ(z)/Φ(z) as exp(log φ(z) − log Φ(z)), so that far in the lower tail
    // neither density nor distribution underflows into 0/0.
    double log_density = -0.5 * z * z - 0.5 * std::log(2 * M_PI);
    double signal = m + fit.s * std::exp(log_density - log_normal_distribution(z));
    return std::max(signal, 1e-6) + 15.0;
}

double normal_upper_tail(double z) { return 0.5 * std::erfc(z / M_SQRT2); }

bool preprocess_sample(const Array_layout& layout, const Idat& green, const Idat& red,
                       const Preprocess_options& options, Sample_values& values, std::string& what) {
    const uint16_t *g = green.means.data(), *r = red.means.data();
    Channel_sets sets = channel_sets(layout, g, r);
    values = Sample_values();
    std::vector<double> green_table, red_table;
    if (!correction_table(sets.green_oob, sets.green_in, options, "green", values.green, green_table, what) ||
        !correction_table(sets.red_oob, sets.red_in, options, "red", values.red, red_table, what))
        return false;
    if (options.dye_bias == Dye_bias::single &&
        !dye_factor(layout, g, r, green_table, red_table, values.dye_factor, what))
        return false;
    for (double& x : red_table) x *= values.dye_factor;
    Detection_model detection;
    if (!detection.fit(layout, g, r, sets, options, what)) return false;
    sets = Channel_sets();
    const size_t n = layout.probes.size();
    values.beta.assign(n, 0.5);
    values.detection.assign(n, 1.0);
    std::vector<double> log_m, log_u;
    for (size_t i = 0; i < n; ++i) {
        const Probe_slots& p = layout.probes[i];
        if (!p.present()) continue;
        bool type_ii = p.design == Probe_design::type_ii;
        const uint16_t* channel = p.design == Probe_design::type_i_red ? r : g;
        uint16_t m = type_ii ? g[p.a] : channel[p.b], u = type_ii ? r[p.a] : channel[p.a];
        const std::vector<double>& m_table = p.design == Probe_design::type_i_red ? red_table : green_table;
        const std::vector<double>& u_table = p.design == Probe_design::type_i_green ? green_table : red_table;
        double corrected_m = m_table[m], corrected_u = u_table[u];
        values.beta[i] = corrected_m / (corrected_m + corrected_u + 100.0);
        values.detection[i] = detection.p(p.design, m, u);
        uint32_t beads = std::min(green.beads[p.a], red.beads[p.a]);
        if (!type_ii) beads = std::min<uint32_t>(beads, std::min(green.beads[p.b], red.beads[p.b]));
        if (beads < options.min_beads) {
            values.detection[i] = 1.0;
            ++values.low_beads;
        }
        if (values.detection[i] > 0.05) ++values.failed;
        log_m.push_back(std::log2(std::max<double>(m, 1.0)));
        log_u.push_back(std::log2(std::max<double>(u, 1.0)));
    }
    values.median_log2_m = median(log_m);
    values.median_log2_u = median(log_u);
    return true;
}
