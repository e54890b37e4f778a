// Building blocks of the report's pictures: inline SVG text, linear scales,
// axes with ticks at round numbers, and dot layers that stay small for
// hundreds of thousands of points.
//
// Coordinates are CSS pixels with the origin at the top left of the picture.
// Dot layers draw every dot as a zero-length path segment with round caps
// (one short "m dx dy h0" each) inside a group scaled by 1/10, so positions
// are kept to a tenth of a pixel as whole numbers.
#ifndef CIMBREL_REPORT_SVG_H
#define CIMBREL_REPORT_SVG_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Colours that stay distinct for colour-blind readers (Okabe and Ito).
namespace colour {
constexpr const char* blue = "#0072B2";
constexpr const char* sky = "#56B4E9";
constexpr const char* orange = "#E69F00";
constexpr const char* vermillion = "#D55E00";
constexpr const char* grey = "#8C8C8C";
constexpr const char* ink = "#222222";
constexpr const char* rule = "#DDDDDD";
}  // namespace colour

// Text with &, <, >, " and ' replaced by character references.
std::string escape_html(std::string_view text);

// A number with at most `decimals` decimals, trailing zeros dropped ("12.5", "3").
std::string format_number(double value, int decimals = 1);

// A count with thousands separators ("485,577").
std::string group_digits(uint64_t count);

// Width in pixels that `text` takes in the sans-serif font at `size` px, a
// generous estimate for keeping labels apart.
double text_width(std::string_view text, double size);

// Maps [d0, d1] onto [r0, r1].
struct Scale {
    double d0 = 0.0, d1 = 1.0, r0 = 0.0, r1 = 1.0;
    double operator()(double value) const { return r0 + (value - d0) * (r1 - r0) / (d1 - d0); }
};

// The plotting area of a picture.
struct Frame {
    double left = 0.0, top = 0.0, width = 0.0, height = 0.0;
    double right() const { return left + width; }
    double bottom() const { return top + height; }
};

// Round tick values (1, 2 or 5 times a power of ten apart) covering
// [low, high] with about `count` steps; the first tick is <= low and the last
// >= high, so a caller can use them as the axis range.
std::vector<double> nice_ticks(double low, double high, int count);

// Distance between neighbouring ticks (1 for fewer than two).
double tick_step(const std::vector<double>& ticks);

// The attributes stroke="colour" and fill="colour".
std::string stroke(const char* colour);
std::string fill(const char* colour);

// Tick label of value on an axis whose ticks are `step` apart.
std::string tick_label(double value, double step);

// An SVG picture under construction.
class Svg {
public:
    // Opens <svg> of the given size, with an id and a title for screen readers.
    Svg(const std::string& id, int width, int height, const std::string& title);
    void line(double x1, double y1, double x2, double y2, const std::string& style);
    void rect(double x, double y, double width, double height, const std::string& style);
    void circle(double x, double y, double radius, const std::string& style);
    // Text at (x, y); anchor is start, middle or end; style adds attributes.
    void text(double x, double y, std::string_view content, const char* anchor, const std::string& style = "");
    void raw(std::string_view markup) { out_ += markup; }
    // Closes the picture and returns its markup.
    std::string finish();

private:
    std::string out_;
};

// Width of the widest tick label of a left axis with these ticks.
double y_label_width(const std::vector<double>& ticks);

// Left axis of frame: ticks, labels, light grid lines across the frame, and
// the title turned upright left of the labels; the frame's left margin must
// hold y_label_width(ticks) + 30 pixels.
void draw_y_axis(Svg& svg, const Frame& frame, const Scale& y, const std::vector<double>& ticks,
                 const std::string& title);
// Bottom axis of frame: ticks, labels, title.
void draw_x_axis(Svg& svg, const Frame& frame, const Scale& x, const std::vector<double>& ticks,
                 const std::string& title);

// Dots of one colour. Exact dots keep their position to 0.1 px; binned dots
// are snapped to the pixel grid and drawn once per pixel, a horizontal run of
// filled pixels as one segment. Binning thins the dense bulk of a plot while
// the exact dots (the interesting, sparse ones) are all drawn.
class Dot_layer {
public:
    void add(double x, double y, bool exact);
    size_t exact_count() const { return exact_.size(); }
    // Path data of the exact and of the binned dots, in tenths of a pixel;
    // empty when there are none.
    std::string exact_path() const;
    std::string binned_path() const;
    // <g class=css_class transform="scale(.1)" …> holding <path class="binned">
    // and <path class="exact"> (the exact dots drawn on top), with the given
    // colour and dot diameter in pixels; empty for no dots.
    std::string markup(const std::string& css_class, const char* colour, double diameter) const;

private:
    std::vector<std::pair<int32_t, int32_t>> exact_;   // x, y in tenths of a pixel
    std::vector<uint64_t> binned_;                     // pixel row << 32 | pixel column
};

#endif
