// The report's pictures, each one inline SVG element of a fixed size: QQ
// plot, Manhattan plot, volcano plot and p-value histogram.
//
// −log10 p axes start at 0 and end at a round number at or above the
// largest value drawn; a p-value of 0 (infinite −log10) is drawn on the top
// edge. Points with p <= thinning_cut are drawn one by one; the others, the
// dense bulk of a study, are binned to the pixel grid (see Dot_layer).
#ifndef CIMBREL_REPORT_PLOTS_H
#define CIMBREL_REPORT_PLOTS_H

#include <cstddef>
#include <string>
#include <vector>

#include "stats.h"
#include "tables.h"

struct Picture_size {
    int width = 0;
    int height = 0;
};

// Sizes in CSS pixels, as the browser lays the pictures out.
namespace picture {
constexpr Picture_size qq{520, 520};
constexpr Picture_size region_qq{300, 300};
constexpr Picture_size manhattan{960, 420};
constexpr Picture_size volcano{640, 480};
constexpr Picture_size histogram{640, 320};
}  // namespace picture

constexpr double thinning_cut = 1e-3;

// What a QQ plot shows: tested p-values in ascending order and their λ
// (NaN when there is none).
struct Qq_points {
    std::vector<double> sorted_p;
    double lambda = 0.0;
};

// The tested p-values (p <= 1) of a region table and their λ.
Qq_points region_qq_points(const Region_table& table);

// Observed against expected −log10 p of at least one tested p-value, with
// the identity line, the 95% band of uniform p-values and λ, as the picture
// `id` of the given size, titled `title` for screen readers.
std::string qq_plot(const Qq_points& points, const std::string& id, Picture_size size, const std::string& title);

// The QQ plot of the probes' p-values. id "qq".
std::string qq_plot(const Probe_summary& summary);

// −log10 p of the tested probes along the genome, chromosomes in natural
// order with alternating colours, the line at the largest significant p and
// the IDs of up to `labelled` probes (indices into table.rows, best first;
// labels that would overlap are left out). id "manhattan".
std::string manhattan_plot(const Probe_table& table, const Probe_summary& summary,
                           const std::vector<size_t>& labelled);

// Range against −log10 p, significant probes highlighted. id "volcano".
std::string volcano_plot(const Probe_table& table, const Probe_summary& summary);

// Counts of the tested p-values in 50 bins of width 0.02, with the count a
// uniform distribution would give. id "histogram".
std::string histogram_plot(const Probe_summary& summary);

// Where each chromosome lies on the Manhattan plot's x axis.
struct Chromosome_slot {
    uint32_t chr = 0;        // index into the table's chromosomes
    double left = 0.0;       // pixels
    double width = 0.0;
    uint32_t last = 1;       // largest position drawn
};

// Slots of the chromosomes with tested probes, in natural order, sharing
// `width` pixels (with `gap` between them) in proportion to their largest
// position, each at least min_width wide; gap and min_width shrink when
// there are too many chromosomes for them.
std::vector<Chromosome_slot> chromosome_slots(const Probe_table& table, double left, double width,
                                              double gap, double min_width);

#endif
