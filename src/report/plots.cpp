#include "plots.h"

#include <algorithm>
#include <cmath>

#include "svg.h"

namespace {

const char* const minus_log10_title = "\xe2\x88\x92log\xe2\x82\x81\xe2\x82\x80 p";  // −log₁₀ p

// White outline behind text drawn over dots, so that it stays readable.
const char halo[] = "paint-order=\"stroke\" stroke=\"#ffffff\" stroke-width=\"3\" stroke-linejoin=\"round\"";

// The −log10 p axis shared by the Manhattan and volcano plots: up to a round
// number above the smallest positive p and the significance line.
std::vector<double> minus_log10_ticks(const Probe_summary& summary, double floor_value) {
    double top = floor_value;
    for (double p : summary.sorted_p)
        if (p > 0.0) {
            top = std::max(top, -std::log10(p));
            break;
        }
    if (summary.p_cut > 0.0) top = std::max(top, -std::log10(summary.p_cut));
    return nice_ticks(0.0, top, 6);
}

// −log10 p, with p = 0 on the top of the axis.
double minus_log10(double p, double top) { return p > 0.0 ? std::min(-std::log10(p), top) : top; }

Scale y_scale(const Frame& frame, const std::vector<double>& ticks) {
    return {ticks.front(), ticks.back(), frame.bottom(), frame.top};
}

// The plotting area inside a picture, with a left margin wide enough for
// the y axis's tick labels and title.
Frame frame_in(const Picture_size& size, const std::vector<double>& y_ticks, double top, double right, double bottom) {
    const double left = std::max(56.0, y_label_width(y_ticks) + 32);
    return {left, top, size.width - left - right, size.height - top - bottom};
}

// Dashed line across frame at the largest significant p, labelled at its right end.
void significance_line(Svg& svg, const Frame& frame, const Scale& y, const Probe_summary& summary) {
    if (!(summary.p_cut > 0.0)) return;
    const double py = y(-std::log10(summary.p_cut));
    svg.line(frame.left, py, frame.right(), py,
             stroke(colour::vermillion) + " stroke-width=\"1.2\" stroke-dasharray=\"6 4\"");
    svg.text(frame.right() - 4, py - 5, "FDR \xe2\x89\xa4 " + format_number(summary.q, 4), "end",
             fill(colour::vermillion) + " " + halo);
}

// A legend entry: a dot of colour and its text, at (x, y).
void legend_dot(Svg& svg, double x, double y, const char* colour, const std::string& label) {
    svg.circle(x, y - 4, 4, fill(colour));
    svg.text(x + 9, y, label, "start");
}

struct Box {
    double left, top, right, bottom;
    bool overlaps(const Box& o) const {
        return left < o.right && o.left < right && top < o.bottom && o.top < bottom;
    }
};

bool overlaps_any(const Box& box, const std::vector<Box>& placed) {
    for (const Box& other : placed)
        if (box.overlaps(other)) return true;
    return false;
}

// Places the label of a point at (x, y) above it, centred, else to its right
// or left, where it overlaps neither the labels and rings placed before nor
// the point's own ring, and stays inside the picture. On success the ring and
// the label join `placed`. False when no place is free.
bool place_label(const std::string& text, double x, double y, const Frame& frame, double picture_width,
                 std::vector<Box>& placed, Box& where) {
    const Box ring{x - 6, y - 6, x + 6, y + 6};
    if (overlaps_any(ring, placed)) return false;
    const double w = text_width(text, 10), h = 11;
    const Box options[] = {{x - w / 2, y - 7 - h, x + w / 2, y - 7},
                           {x + 7, y - h / 2 - 2, x + 7 + w, y + h / 2 - 2},
                           {x - 7 - w, y - h / 2 - 2, x - 7, y + h / 2 - 2}};
    for (const Box& box : options) {
        if (box.left < frame.left + 2 || box.right > picture_width - 2 || box.top < 2) continue;
        if (overlaps_any(box, placed)) continue;
        placed.push_back(ring);
        placed.push_back(box);
        where = box;
        return true;
    }
    return false;
}

// Chromosome names under the Manhattan plot, without a "chr" prefix, in two
// staggered rows; a name that fits in neither is left out.
void chromosome_labels(Svg& svg, const Frame& frame, const Probe_table& table,
                       const std::vector<Chromosome_slot>& slots) {
    double row_end[2] = {-1e9, -1e9};
    for (const Chromosome_slot& slot : slots) {
        std::string name = table.chromosomes[slot.chr];
        if (name.size() > 3 && (name.compare(0, 3, "chr") == 0 || name.compare(0, 3, "Chr") == 0)) name.erase(0, 3);
        const double middle = slot.left + slot.width / 2, half = text_width(name, 11) / 2;
        for (int row = 0; row < 2; ++row) {
            if (middle - half < row_end[row] + 3) continue;
            svg.line(middle, frame.bottom(), middle, frame.bottom() + 4 + 13 * row, stroke(colour::ink));
            svg.text(middle, frame.bottom() + 16 + 13 * row, name, "middle");
            row_end[row] = middle + half;
            break;
        }
    }
}

// Largest tested position of each chromosome (0 for none).
std::vector<uint32_t> last_positions(const Probe_table& table) {
    std::vector<uint32_t> last(table.chromosomes.size(), 0);
    std::vector<bool> seen(table.chromosomes.size(), false);
    for (const Probe_row& row : table.rows) {
        if (!table.tested(row)) continue;
        last[row.chr] = std::max(last[row.chr], row.loc);
        seen[row.chr] = true;
    }
    for (size_t c = 0; c < last.size(); ++c)
        if (seen[c]) last[c] = std::max<uint32_t>(last[c], 1);
    return last;
}

// Widths in proportion to weights, none below min_width, adding up to total
// (when total allows): chromosomes raised to the minimum are fixed, the
// others share what is left, until no other falls below it.
std::vector<double> share_widths(const std::vector<double>& weights, double total, double min_width) {
    std::vector<bool> fixed(weights.size(), false);
    std::vector<double> widths(weights.size(), min_width);
    for (bool changed = true; changed;) {
        changed = false;
        double free_weight = 0.0, free_width = total;
        for (size_t i = 0; i < weights.size(); ++i) {
            if (fixed[i]) free_width -= min_width;
            else free_weight += weights[i];
        }
        for (size_t i = 0; i < weights.size(); ++i) {
            if (fixed[i]) continue;
            widths[i] = free_weight > 0.0 ? free_width * weights[i] / free_weight : min_width;
            if (widths[i] < min_width) {
                fixed[i] = changed = true;
                widths[i] = min_width;
            }
        }
    }
    return widths;
}

// The probes' dots in the two alternating chromosome colours.
void manhattan_dots(Svg& svg, const Probe_table& table, const std::vector<Chromosome_slot>& slots,
                    const Scale& y, double top) {
    std::vector<int> slot_of(table.chromosomes.size(), -1);
    for (size_t s = 0; s < slots.size(); ++s) slot_of[slots[s].chr] = static_cast<int>(s);
    Dot_layer layers[2];
    for (const Probe_row& row : table.rows) {
        if (!table.tested(row)) continue;
        const int s = slot_of[row.chr];
        const Chromosome_slot& slot = slots[static_cast<size_t>(s)];
        const double x = slot.left + slot.width * row.loc / slot.last;
        layers[s % 2].add(x, y(minus_log10(row.p, top)), row.p <= thinning_cut);
    }
    svg.raw(layers[0].markup("dots", colour::blue, 3));
    svg.raw(layers[1].markup("dots", colour::grey, 3));
}

// Ring and ID of each labelled probe that finds a free place.
void manhattan_labels(Svg& svg, const Frame& frame, const Probe_table& table,
                      const std::vector<Chromosome_slot>& slots, const Scale& y, double top,
                      const std::vector<size_t>& labelled) {
    std::vector<const Chromosome_slot*> slot_of(table.chromosomes.size(), nullptr);
    for (const Chromosome_slot& slot : slots) slot_of[slot.chr] = &slot;
    std::vector<Box> placed;
    for (size_t index : labelled) {
        const Probe_row& row = table.rows[index];
        const Chromosome_slot& slot = *slot_of[row.chr];
        const double x = slot.left + slot.width * row.loc / slot.last, py = y(minus_log10(row.p, top));
        const std::string id(table.field(row, table.columns.id));
        Box box{};
        if (!place_label(id, x, py, frame, picture::manhattan.width, placed, box)) continue;
        svg.circle(x, py, 4, "fill=\"none\" " + stroke(colour::vermillion) + " stroke-width=\"1.5\"");
        svg.text(box.left, box.bottom - 2, id, "start", std::string("font-size=\"10\" ") + halo);
    }
}

// Observed points of the QQ plot.
Dot_layer qq_dots(const std::vector<double>& sorted_p, const Scale& x, const Scale& y, double top) {
    Dot_layer dots;
    const size_t n = sorted_p.size();
    for (size_t i = 0; i < n; ++i) {
        const double p = sorted_p[i];
        dots.add(x(expected_minus_log10(i + 1, n)), y(minus_log10(p, top)), p <= thinning_cut);
    }
    return dots;
}

// The 95% band as one closed polygon.
std::string band_polygon(const std::vector<Band_point>& band, const Scale& x, const Scale& y) {
    std::string points;
    for (const Band_point& b : band) points += format_number(x(b.expected)) + "," + format_number(y(b.high)) + " ";
    for (auto b = band.rbegin(); b != band.rend(); ++b)
        points += format_number(x(b->expected)) + "," + format_number(y(b->low)) + " ";
    return "<polygon points=\"" + points + "\" fill=\"" + colour::rule + "\"/>\n";
}

// The QQ plot of sorted_p (at least one p-value) with its λ.
std::string qq_picture(const std::vector<double>& sorted_p, double lambda, const std::string& id, Picture_size size,
                       const std::string& title) {
    const size_t n = sorted_p.size();
    const std::vector<Band_point> band = qq_band(n, 160);
    double observed_top = band.empty() ? 1.0 : band.front().high;
    for (double p : sorted_p)
        if (p > 0.0) {
            observed_top = std::max(observed_top, -std::log10(p));
            break;
        }
    const std::vector<double> x_ticks = nice_ticks(0.0, expected_minus_log10(1, n), 6);
    const std::vector<double> y_ticks = nice_ticks(0.0, observed_top, 6);
    const Frame frame = frame_in(size, y_ticks, 16, 16, 56);
    const Scale x{x_ticks.front(), x_ticks.back(), frame.left, frame.right()};
    const Scale y = y_scale(frame, y_ticks);
    Svg svg(id, size.width, size.height, title);
    svg.raw(band_polygon(band, x, y));
    draw_y_axis(svg, frame, y, y_ticks, std::string("Observed ") + minus_log10_title);
    draw_x_axis(svg, frame, x, x_ticks, std::string("Expected ") + minus_log10_title);
    const double diagonal = std::min(x_ticks.back(), y_ticks.back());
    svg.line(x(0), y(0), x(diagonal), y(diagonal), "stroke=\"#555555\" stroke-dasharray=\"4 3\"");
    svg.raw(qq_dots(sorted_p, x, y, y_ticks.back()).markup("dots", colour::blue, 3));
    // The legend sits over the dots' corner, which steep QQ curves reach.
    svg.text(frame.left + 12, frame.top + 20, "\xce\xbb = " + format_number(lambda, 4), "start",
             std::string("font-size=\"16\" font-weight=\"bold\" ") + halo);
    svg.text(frame.left + 12, frame.top + 38, group_digits(n) + " p-values", "start", halo);
    svg.rect(frame.left + 12, frame.top + 48, 14, 10, fill(colour::rule));
    svg.text(frame.left + 32, frame.top + 57, "95% band of uniform p-values", "start", halo);
    return svg.finish();
}

}  // namespace

std::vector<Chromosome_slot> chromosome_slots(const Probe_table& table, double left, double width, double gap,
                                              double min_width) {
    const std::vector<uint32_t> last = last_positions(table);
    std::vector<Chromosome_slot> slots;
    std::vector<double> weights;
    for (uint32_t c : chromosome_order(table.chromosomes)) {
        if (last[c] == 0) continue;
        Chromosome_slot slot;
        slot.chr = c;
        slot.last = last[c];
        slots.push_back(slot);
        weights.push_back(last[c]);
    }
    if (slots.empty()) return slots;
    // Hundreds of contigs get narrower gaps and minimum widths, so that all
    // of them still fit.
    const double count = static_cast<double>(slots.size());
    gap = std::min(gap, 0.25 * width / count);
    const double room = width - gap * (count - 1);
    const std::vector<double> widths = share_widths(weights, room, std::min(min_width, room / count));
    double at = left;
    for (size_t s = 0; s < slots.size(); ++s) {
        slots[s].left = at;
        slots[s].width = widths[s];
        at += widths[s] + gap;
    }
    return slots;
}

Qq_points region_qq_points(const Region_table& table) {
    Qq_points points;
    for (const Region_row& row : table.rows)
        if (row.p <= 1.0) points.sorted_p.push_back(row.p);
    points.lambda = genomic_inflation(points.sorted_p);
    std::sort(points.sorted_p.begin(), points.sorted_p.end());
    return points;
}

std::string qq_plot(const Qq_points& points, const std::string& id, Picture_size size, const std::string& title) {
    return qq_picture(points.sorted_p, points.lambda, id, size, title);
}

std::string qq_plot(const Probe_summary& summary) {
    return qq_picture(summary.sorted_p, summary.lambda, "qq", picture::qq, "QQ plot of the probe p-values");
}

std::string manhattan_plot(const Probe_table& table, const Probe_summary& summary,
                           const std::vector<size_t>& labelled) {
    const std::vector<double> y_ticks = minus_log10_ticks(summary, 2.0);
    const Frame frame = frame_in(picture::manhattan, y_ticks, 28, 12, 62);
    const std::vector<Chromosome_slot> slots = chromosome_slots(table, frame.left + 4, frame.width - 8, 3, 4);
    const Scale y = y_scale(frame, y_ticks);
    Svg svg("manhattan", picture::manhattan.width, picture::manhattan.height, "Manhattan plot of the probe p-values");
    draw_y_axis(svg, frame, y, y_ticks, minus_log10_title);
    svg.line(frame.left, frame.bottom(), frame.right(), frame.bottom(), stroke(colour::ink));
    chromosome_labels(svg, frame, table, slots);
    svg.text(frame.left + frame.width / 2, frame.bottom() + 52, "Chromosome", "middle", "font-size=\"12\"");
    manhattan_dots(svg, table, slots, y, y_ticks.back());
    significance_line(svg, frame, y, summary);
    manhattan_labels(svg, frame, table, slots, y, y_ticks.back(), labelled);
    return svg.finish();
}

std::string volcano_plot(const Probe_table& table, const Probe_summary& summary) {
    double low = 0.0, high = 0.0;
    for (const Probe_row& row : table.rows) {
        if (!table.tested(row) || std::isnan(row.range)) continue;
        low = std::min(low, row.range);
        high = std::max(high, row.range);
    }
    const std::vector<double> x_ticks = nice_ticks(low, high, 6), y_ticks = minus_log10_ticks(summary, 2.0);
    const Frame frame = frame_in(picture::volcano, y_ticks, 16, 16, 56);
    const Scale x{x_ticks.front(), x_ticks.back(), frame.left, frame.right()};
    const Scale y = y_scale(frame, y_ticks);
    Svg svg("volcano", picture::volcano.width, picture::volcano.height, "Volcano plot: group range against p-value");
    draw_y_axis(svg, frame, y, y_ticks, minus_log10_title);
    draw_x_axis(svg, frame, x, x_ticks, "Range of the group means (beta)");
    Dot_layer plain, significant;
    for (const Probe_row& row : table.rows) {
        if (!table.tested(row) || std::isnan(row.range)) continue;
        Dot_layer& layer = row.fdr <= summary.q ? significant : plain;
        layer.add(x(row.range), y(minus_log10(row.p, y_ticks.back())), row.p <= thinning_cut);
    }
    svg.raw(plain.markup("dots", colour::grey, 3));
    svg.raw(significant.markup("dots significant", colour::vermillion, 3));
    significance_line(svg, frame, y, summary);
    const double legend_x = frame.right() - 150;
    svg.rect(legend_x - 8, frame.top + 26, 146, 38, "fill=\"#ffffff\" fill-opacity=\"0.85\"");
    legend_dot(svg, legend_x, frame.top + 40, colour::vermillion, "FDR \xe2\x89\xa4 " + format_number(summary.q, 4));
    legend_dot(svg, legend_x, frame.top + 56, colour::grey, "not significant");
    return svg.finish();
}

std::string histogram_plot(const Probe_summary& summary) {
    const size_t bins = 50;
    std::vector<size_t> counts(bins, 0);
    for (double p : summary.sorted_p) counts[std::min(bins - 1, static_cast<size_t>(p * bins))]++;
    const double uniform = static_cast<double>(summary.sorted_p.size()) / bins;
    const double most = std::max<double>(uniform, static_cast<double>(*std::max_element(counts.begin(), counts.end())));
    const std::vector<double> x_ticks = nice_ticks(0.0, 1.0, 5), y_ticks = nice_ticks(0.0, most, 5);
    const Frame frame = frame_in(picture::histogram, y_ticks, 16, 16, 56);
    const Scale x{0.0, 1.0, frame.left, frame.right()};
    const Scale y = y_scale(frame, y_ticks);
    Svg svg("histogram", picture::histogram.width, picture::histogram.height, "Histogram of the probe p-values");
    draw_y_axis(svg, frame, y, y_ticks, "Probes");
    for (size_t b = 0; b < bins; ++b) {
        const double left = x(static_cast<double>(b) / bins), right = x(static_cast<double>(b + 1) / bins);
        const double top = y(static_cast<double>(counts[b]));
        svg.rect(left + 0.5, top, right - left - 1, frame.bottom() - top, fill(colour::sky));
    }
    draw_x_axis(svg, frame, x, x_ticks, "p-value");
    svg.line(frame.left, y(uniform), frame.right(), y(uniform),
             stroke(colour::ink) + " stroke-dasharray=\"5 4\"");
    svg.text(frame.right() - 4, y(uniform) - 5, "uniform", "end", halo);
    return svg.finish();
}
