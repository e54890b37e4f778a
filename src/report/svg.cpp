#include "svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Writes path data with relative moves after the first, so that the numbers
// stay short when consecutive dots lie close together.
class Path_writer {
public:
    void move(int64_t x, int64_t y) {
        if (out_.empty()) {
            out_ += 'M';
            pair(x, y);
        } else {
            out_ += 'm';
            pair(x - x_, y - y_);
        }
        x_ = x;
        y_ = y;
    }
    void horizontal(int64_t length) {
        out_ += 'h';
        out_ += std::to_string(length);
        x_ += length;
    }
    std::string take() { return std::move(out_); }

private:
    // A "-" separates two numbers by itself; a space is needed otherwise.
    void pair(int64_t a, int64_t b) {
        out_ += std::to_string(a);
        if (b >= 0) out_ += ' ';
        out_ += std::to_string(b);
    }
    std::string out_;
    int64_t x_ = 0, y_ = 0;
};

int32_t tenths(double value) { return static_cast<int32_t>(std::lround(value * 10.0)); }

}  // namespace

std::string escape_html(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string format_number(double value, int decimals) {
    char buffer[64];
    snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string text = buffer;
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') text.pop_back();
    }
    if (text == "-0") text = "0";
    return text;
}

std::string group_digits(uint64_t count) {
    std::string digits = std::to_string(count), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

double text_width(std::string_view text, double size) {
    return static_cast<double>(text.size()) * size * 0.65;
}

std::vector<double> nice_ticks(double low, double high, int count) {
    if (!(high > low)) high = low + 1.0;
    const double raw = (high - low) / std::max(count, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double fraction = raw / power;
    const double step = (fraction <= 1.0 ? 1.0 : fraction <= 2.0 ? 2.0 : fraction <= 5.0 ? 5.0 : 10.0) * power;
    const double first = std::floor(low / step + 1e-9), last = std::ceil(high / step - 1e-9);
    std::vector<double> ticks;
    for (double k = first; k <= last; k += 1.0) ticks.push_back(k * step);
    return ticks;
}

double tick_step(const std::vector<double>& ticks) { return ticks.size() > 1 ? ticks[1] - ticks[0] : 1.0; }

std::string stroke(const char* colour) { return std::string("stroke=\"") + colour + "\""; }

std::string fill(const char* colour) { return std::string("fill=\"") + colour + "\""; }

std::string tick_label(double value, double step) {
    int decimals = std::max(0, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
    return format_number(value, decimals);
}

Svg::Svg(const std::string& id, int width, int height, const std::string& title) {
    const std::string w = std::to_string(width), h = std::to_string(height);
    out_ = "<svg id=\"" + id + "\" width=\"" + w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w + " " + h +
           "\" role=\"img\" font-family=\"system-ui, -apple-system, 'Segoe UI', Roboto, 'Helvetica Neue', "
           "Arial, sans-serif\" font-size=\"11\"><title>" +
           escape_html(title) + "</title>\n";
}

void Svg::line(double x1, double y1, double x2, double y2, const std::string& style) {
    out_ += "<line x1=\"" + format_number(x1) + "\" y1=\"" + format_number(y1) + "\" x2=\"" + format_number(x2) +
            "\" y2=\"" + format_number(y2) + "\" " + style + "/>\n";
}

void Svg::rect(double x, double y, double width, double height, const std::string& style) {
    out_ += "<rect x=\"" + format_number(x) + "\" y=\"" + format_number(y) + "\" width=\"" + format_number(width) +
            "\" height=\"" + format_number(height) + "\" " + style + "/>\n";
}

void Svg::circle(double x, double y, double radius, const std::string& style) {
    out_ += "<circle cx=\"" + format_number(x) + "\" cy=\"" + format_number(y) + "\" r=\"" + format_number(radius) +
            "\" " + style + "/>\n";
}

void Svg::text(double x, double y, std::string_view content, const char* anchor, const std::string& style) {
    out_ += "<text x=\"" + format_number(x) + "\" y=\"" + format_number(y) + "\" text-anchor=\"" + anchor + "\"";
    if (!style.empty()) out_ += " " + style;
    out_ += ">" + escape_html(content) + "</text>\n";
}

std::string Svg::finish() {
    out_ += "</svg>\n";
    return std::move(out_);
}

double y_label_width(const std::vector<double>& ticks) {
    const double step = tick_step(ticks);
    double widest = 0.0;
    for (double t : ticks) widest = std::max(widest, text_width(tick_label(t, step), 11));
    return widest;
}

void draw_y_axis(Svg& svg, const Frame& frame, const Scale& y, const std::vector<double>& ticks,
                 const std::string& title) {
    const std::string axis = stroke(colour::ink);
    const double step = tick_step(ticks);
    for (double t : ticks) {
        const double py = y(t);
        if (py > frame.bottom() + 0.5 || py < frame.top - 0.5) continue;
        if (py < frame.bottom() - 0.5)
            svg.line(frame.left, py, frame.right(), py, stroke(colour::rule));
        svg.line(frame.left - 5, py, frame.left, py, axis);
        svg.text(frame.left - 8, py + 4, tick_label(t, step), "end");
    }
    svg.line(frame.left, frame.top, frame.left, frame.bottom(), axis);
    // The turned title's baseline, clear of the widest tick label (its
    // glyphs reach about 3 px to the right of the baseline).
    const double x = frame.left - 8 - y_label_width(ticks) - 8, middle = frame.top + frame.height / 2;
    const std::string turn = "font-size=\"12\" transform=\"rotate(-90 " + format_number(x) + " " +
                             format_number(middle) + ")\"";
    svg.text(x, middle, title, "middle", turn);
}

void draw_x_axis(Svg& svg, const Frame& frame, const Scale& x, const std::vector<double>& ticks,
                 const std::string& title) {
    const std::string axis = stroke(colour::ink);
    const double step = tick_step(ticks);
    for (double t : ticks) {
        const double px = x(t);
        if (px < frame.left - 0.5 || px > frame.right() + 0.5) continue;
        svg.line(px, frame.bottom(), px, frame.bottom() + 5, axis);
        svg.text(px, frame.bottom() + 18, tick_label(t, step), "middle");
    }
    svg.line(frame.left, frame.bottom(), frame.right(), frame.bottom(), axis);
    svg.text(frame.left + frame.width / 2, frame.bottom() + 38, title, "middle", "font-size=\"12\"");
}

void Dot_layer::add(double x, double y, bool exact) {
    if (exact) {
        exact_.emplace_back(tenths(x), tenths(y));
        return;
    }
    const uint64_t column = static_cast<uint32_t>(std::max(0L, std::lround(std::floor(x))));
    const uint64_t row = static_cast<uint32_t>(std::max(0L, std::lround(std::floor(y))));
    binned_.push_back(row << 32 | column);
}

std::string Dot_layer::exact_path() const {
    Path_writer path;
    std::vector<std::pair<int32_t, int32_t>> exact = exact_;
    std::sort(exact.begin(), exact.end());
    for (const auto& dot : exact) {
        path.move(dot.first, dot.second);
        path.horizontal(0);
    }
    return path.take();
}

std::string Dot_layer::binned_path() const {
    Path_writer path;
    std::vector<uint64_t> cells = binned_;
    std::sort(cells.begin(), cells.end());
    cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
    for (size_t i = 0; i < cells.size();) {
        size_t j = i + 1;  // cells[i, j) is one run of neighbouring pixels in a row
        while (j < cells.size() && cells[j] == cells[j - 1] + 1 && (cells[j] >> 32) == (cells[i] >> 32)) ++j;
        const int64_t column = static_cast<int64_t>(cells[i] & 0xffffffffu);
        const int64_t row = static_cast<int64_t>(cells[i] >> 32);
        path.move(column * 10 + 5, row * 10 + 5);
        path.horizontal(static_cast<int64_t>(j - i - 1) * 10);
        i = j;
    }
    return path.take();
}

std::string Dot_layer::markup(const std::string& css_class, const char* colour, double diameter) const {
    if (exact_.empty() && binned_.empty()) return "";
    std::string out = "<g class=\"" + css_class + "\" transform=\"scale(.1)\" fill=\"none\" stroke=\"" + colour +
                      "\" stroke-width=\"" + format_number(diameter * 10) + "\" stroke-linecap=\"round\">";
    if (!binned_.empty()) out += "<path class=\"binned\" d=\"" + binned_path() + "\"/>";
    if (!exact_.empty()) out += "<path class=\"exact\" d=\"" + exact_path() + "\"/>";
    return out + "</g>\n";
}
