#include "html.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "messages.h"
#include "plots.h"
#include "staged_output.h"
#include "svg.h"

namespace {

const char style[] =
    "body{margin:0;background:#fff;color:#222;font-family:system-ui,-apple-system,'Segoe UI',Roboto,"
    "'Helvetica Neue',Arial,sans-serif;line-height:1.45}\n"
    "main{max-width:960px;margin:0 auto;padding:16px 20px 48px}\n"
    "h1{font-size:1.6em;margin:.3em 0 .1em}h2{font-size:1.25em;margin:1.8em 0 .6em;padding-bottom:3px;"
    "border-bottom:1px solid #ddd}\n"
    ".sub{color:#555;margin:0 0 1em}\n"
    "figure{margin:1em 0 1.6em}figure svg{display:block;margin:0 auto;max-width:100%;height:auto}\n"
    "figcaption{font-size:.9em;color:#444;max-width:760px;margin:.6em auto 0}\n"
    "table{border-collapse:collapse;font-size:.88em}th,td{padding:3px 9px;border-bottom:1px solid #e6e6e6;"
    "text-align:left;white-space:nowrap}\n"
    "td.n{text-align:right;font-variant-numeric:tabular-nums}\n"
    "table.facts th{font-weight:normal;color:#555;padding-left:0}\n"
    "table.sortable th{cursor:pointer;background:#f3f3f3;user-select:none}\n"
    "table.sortable th[data-dir=asc]::after{content:' \\25B2'}table.sortable th[data-dir=desc]::after{content:' \\25BC'}\n"
    ".scroll{overflow-x:auto}table.regions td:last-child{white-space:normal;min-width:14em}\n"
    ".qq-row{display:flex;flex-wrap:wrap;justify-content:center;column-gap:28px}\n"
    ".qq-row>figure{width:520px;max-width:100%}.qq-regions{width:300px;max-width:100%}\n"
    ".note{background:#fdf3e1;border-left:4px solid #E69F00;padding:6px 12px;margin:.8em 0}\n"
    "code{font-family:ui-monospace,'DejaVu Sans Mono',Menlo,Consolas,monospace;font-size:.92em}\n";

// Sorts a table by the clicked column: by data-v when a cell has it, as
// numbers when both cells read as numbers, as text otherwise.
const char script[] =
    "document.querySelectorAll('table.sortable th').forEach(function(th){\n"
    " th.addEventListener('click',function(){\n"
    "  var table=th.closest('table'),body=table.tBodies[0],i=th.cellIndex,up=th.dataset.dir!=='asc';\n"
    "  table.querySelectorAll('th').forEach(function(h){delete h.dataset.dir;});\n"
    "  th.dataset.dir=up?'asc':'desc';\n"
    "  function key(row){var c=row.cells[i];return c.dataset.v!==undefined?c.dataset.v:c.textContent;}\n"
    "  var rows=Array.prototype.slice.call(body.rows);\n"
    "  rows.sort(function(a,b){var x=key(a),y=key(b),u=parseFloat(x),v=parseFloat(y);\n"
    "   var c=(!isNaN(u)&&!isNaN(v))?u-v:x.localeCompare(y);return up?c:-c;});\n"
    "  rows.forEach(function(r){body.appendChild(r);});\n"
    " });\n"
    "});\n";

std::string fdr_text(double q) { return "FDR \xe2\x89\xa4 " + format_number(q, 4); }

std::string general(double value) {
    char buffer[32];
    snprintf(buffer, sizeof buffer, "%.3g", value);
    return buffer;
}

std::string cell(const std::string& text, bool number = false, const std::string& sort_key = "") {
    std::string out = "<td";
    if (number) out += " class=\"n\"";
    if (!sort_key.empty()) out += " data-v=\"" + sort_key + "\"";
    return out + ">" + text + "</td>";
}

std::string header_row(const std::vector<std::string>& names) {
    std::string out = "<thead><tr>";
    for (const std::string& name : names) out += "<th>" + escape_html(name) + "</th>";
    return out + "</tr></thead>\n";
}

// Sort key of a genomic position: chromosome rank, then position, as one number.
std::string position_key(uint32_t rank, uint32_t position) {
    return std::to_string(static_cast<uint64_t>(rank) * 10000000000ULL + position);
}

std::vector<uint32_t> chromosome_ranks(const std::vector<std::string>& names) {
    std::vector<uint32_t> rank(names.size());
    const std::vector<uint32_t> order = chromosome_order(names);
    for (uint32_t r = 0; r < order.size(); ++r) rank[order[r]] = r;
    return rank;
}

std::string file_line(const std::string& label, const std::string& path, const std::string& counts) {
    return "<tr><th>" + label + "</th><td><code>" + escape_html(path) + "</code> (" + counts + ")</td></tr>\n";
}

std::string fact(const std::string& label, const std::string& value) {
    return "<tr><th>" + label + "</th><td>" + value + "</td></tr>\n";
}

std::string region_counts(const Region_table& table, double q) {
    return group_digits(table.rows.size()) + " regions, " + group_digits(count_significant(table.rows, q)) +
           " with " + fdr_text(q);
}

std::string group_list(const Probe_table& probes) {
    std::string names;
    for (const std::string& g : probes.groups) names += (names.empty() ? "" : ", ") + escape_html(g);
    return std::to_string(probes.groups.size()) + (names.empty() ? "" : ": " + names);
}

// Plain-spoken warnings about what the pictures cover.
std::string notes(const Report_content& content) {
    const Probe_summary& s = *content.summary;
    std::string out;
    if (s.thresholded)
        out += "<p class=\"note\">No p-value in this probe table reaches " + general(thresholded_below) +
               " (the largest is " + general(s.sorted_p.back()) + "), so it lists only the probes that passed "
               "cimbrel's p-value or FDR thresholds, not every tested probe: \xce\xbb, the QQ plot and the histogram "
               "cover only the " +
               group_digits(s.tested) +
               " listed probes and say little about the study as a whole. Run cimbrel with "
               "<code>-p 1.01 -q 1.01</code> for a table of every tested probe.</p>\n";
    if (s.rows > s.tested)
        out += "<p class=\"note\">" + group_digits(s.rows - s.tested) +
               (s.rows - s.tested == 1 ? " row has" : " rows have") +
               " a p-value above 1 (not tested), left out of every statistic and picture.</p>\n";
    if (std::isinf(s.lambda))
        out += "<p class=\"note\">At least half of the p-values are 0, so \xce\xbb is infinite.</p>\n";
    return out;
}

std::string header(const Report_content& content) {
    const Report_options& o = *content.options;
    const Probe_summary& s = *content.summary;
    std::string out = "<header><h1>" + escape_html(o.title) + "</h1>\n<p class=\"sub\">cimbrel-report " +
                      program_version() + ": differential methylation results at a glance</p>\n<table class=\"facts\">\n";
    out += file_line("Probe table", o.probe_table, group_digits(s.rows) + " rows");
    if (content.r1) out += file_line("Predefined regions (r1)", o.r1, region_counts(*content.r1, s.q));
    if (content.r2) out += file_line("Arbitrary regions (r2)", o.r2, region_counts(*content.r2, s.q));
    out += fact("Tested probes listed", group_digits(s.tested));  // the study may have tested more
    out += fact("Significant probes (" + fdr_text(s.q) + ")", group_digits(s.significant));
    out += fact("Groups", group_list(*content.probes));
    char lambda[64];
    snprintf(lambda, sizeof lambda, "%.6f", s.lambda);
    out += fact("Genomic inflation \xce\xbb", std::string("<strong>") + lambda + "</strong>");
    return out + "</table>\n" + notes(content) + "</header>\n";
}

std::string figure(const std::string& svg, const std::string& caption) {
    return "<figure>\n" + svg + "<figcaption>" + caption + "</figcaption>\n</figure>\n";
}

std::string thinning_text() {
    return " Points with p &gt; " + general(thinning_cut) +
           " are drawn once per pixel; every point below that is drawn.";
}

std::string zero_text(const Probe_summary& s) {
    if (s.zero_p == 0) return "";
    return " " + group_digits(s.zero_p) + " probes with p = 0 are drawn on the top edge.";
}

// The small QQ plot of one region table, with a caption that says what it
// needs to mean anything.
std::string region_qq_figure(const Region_table& t, const char* key, const char* kind) {
    const Qq_points points = region_qq_points(t);
    const std::string name = std::string(kind) + " regions (" + key + ")";
    if (points.sorted_p.empty())
        return "<p>The table <code>" + escape_html(t.path) + "</code> lists no tested region: no QQ plot of the " +
               name + ".</p>\n";
    return figure(qq_plot(points, std::string("qq-") + key, picture::region_qq, "QQ plot of the " + name + " p-values"),
                  "<b>QQ plot of the " + name + ",</b> " + group_digits(points.sorted_p.size()) +
                      " tested; \xce\xbb = " + format_number(points.lambda, 4) +
                      ". It means something only when <code>" + escape_html(t.path) +
                      "</code> comes from a run with <code>-p 1.01 -q 1.01</code> (every tested region).");
}

std::string inflation_section(const Report_content& content) {
    const Probe_summary& s = *content.summary;
    std::string out = "<section id=\"inflation\"><h2>Is the test statistic inflated?</h2>\n";
    const bool regions = content.r1 != nullptr || content.r2 != nullptr;
    if (regions) out += "<div class=\"qq-row\">\n";
    out += figure(qq_plot(s),
                  "<b>QQ plot.</b> Observed \xe2\x88\x92log<sub>10</sub> p of the " + group_digits(s.tested) +
                      " tested probes against the values expected if no probe differed (uniform p-values); "
                      "dashed: identity line; grey: 95% band of each expected order statistic. "
                      "\xce\xbb = " + format_number(s.lambda, 4) +
                      " is the median of the probes' \xcf\x87\xc2\xb2 statistics (1 degree of freedom) over its "
                      "expected value 0.4549: near 1 when only a few probes differ, above 1 when the whole "
                      "distribution is shifted (confounding, batch effects, or a widespread true difference)." +
                      thinning_text() + zero_text(s));
    if (regions) {
        out += "<div class=\"qq-regions\">\n";
        if (content.r1) out += region_qq_figure(*content.r1, "r1", "predefined");
        if (content.r2) out += region_qq_figure(*content.r2, "r2", "arbitrary");
        out += "</div>\n</div>\n";
    }
    out += figure(histogram_plot(s),
                  "<b>p-value histogram</b> of the tested probes in bins of 0.02. Without any difference the bars "
                  "follow the dashed line; differential probes add a peak at the left. A slope or a peak "
                  "elsewhere points at a problem with the model or the data.");
    return out + "</section>\n";
}

std::string hits_section(const Report_content& content, const std::vector<size_t>& top) {
    const Probe_summary& s = *content.summary;
    const std::vector<size_t> labelled(top.begin(), top.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(top.size(), 10)));
    std::string line = std::isnan(s.p_cut)
                           ? " No probe reaches " + fdr_text(s.q) + ", so no significance line is drawn."
                           : " The dashed line is at p = " + general(s.p_cut) + ", the largest p-value with " +
                                 fdr_text(s.q) + ".";
    std::string out = "<section id=\"hits\"><h2>Where are the hits?</h2>\n";
    out += figure(manhattan_plot(*content.probes, s, labelled),
                  "<b>Manhattan plot.</b> \xe2\x88\x92log<sub>10</sub> p of every tested probe at its position, "
                  "chromosomes in order with alternating colours." + line +
                  " Rings mark the best probes with their IDs (labels that would overlap are left out)." +
                  thinning_text() + zero_text(s));
    return out + "</section>\n";
}

std::string size_section(const Report_content& content) {
    const Probe_summary& s = *content.summary;
    std::string left_out;
    if (s.no_range > 0) left_out = " " + group_digits(s.no_range) + " probes without a range (\"-\") are left out.";
    std::string out = "<section id=\"sizes\"><h2>How large are they?</h2>\n";
    out += figure(volcano_plot(*content.probes, s),
                  "<b>Volcano plot.</b> Range of the group means (largest minus smallest group mean, beta scale) "
                  "against \xe2\x88\x92log<sub>10</sub> p; probes with " + fdr_text(s.q) +
                  " in vermillion. Large, significant differences sit at the top right." + left_out +
                  thinning_text() + zero_text(s));
    return out + "</section>\n";
}

std::string probe_table_section(const Report_content& content, const std::vector<size_t>& top) {
    const Probe_table& t = *content.probes;
    const std::vector<uint32_t> rank = chromosome_ranks(t.chromosomes);
    std::vector<std::string> names = {"#", "ID", "Position", "p-value", "FDR", "Range"};
    names.insert(names.end(), t.groups.begin(), t.groups.end());
    names.push_back("Annotation");
    std::string rows;
    for (size_t i = 0; i < top.size(); ++i) {
        const Probe_row& row = t.rows[top[i]];
        rows += "<tr>" + cell(std::to_string(i + 1), true) + cell(escape_html(t.field(row, t.columns.id))) +
                cell(escape_html(t.chromosomes[row.chr]) + ":" + group_digits(row.loc), false,
                     position_key(rank[row.chr], row.loc)) +
                cell(general(row.p), true) + cell(general(row.fdr), true) +
                cell(escape_html(t.field(row, t.columns.range)), true);
        for (size_t g : t.columns.groups) rows += cell(escape_html(t.field(row, g)), true);
        rows += cell(escape_html(t.field(row, t.columns.ann))) + "</tr>\n";
    }
    return "<section id=\"top-probes\"><h2>Top " + std::to_string(top.size()) +
           " probes</h2>\n<p>The tested probes with the smallest p-values; group columns hold the group means "
           "(beta). Click a column to sort.</p>\n<div class=\"scroll\"><table class=\"sortable\">\n" +
           header_row(names) + "<tbody>\n" + rows + "</tbody></table></div></section>\n";
}

// The first two probe IDs of a region's comma list, with the count of the rest.
std::string probe_list(std::string_view list, size_t& count) {
    const size_t shown_count = 2;
    std::string shown;
    count = 0;
    for (size_t start = 0; start < list.size();) {
        const size_t comma = std::min(list.find(',', start), list.size());
        if (comma > start && ++count <= shown_count)
            shown += (shown.empty() ? "" : ", ") + escape_html(list.substr(start, comma - start));
        start = comma + 1;
    }
    if (count > shown_count) shown += " \xe2\x80\xa6 (+" + std::to_string(count - shown_count) + ")";
    return shown;
}

std::string region_section(const Region_table& t, const char* id, const std::string& title, size_t n) {
    const std::vector<size_t> top = top_rows(t.rows, n);
    const std::vector<uint32_t> rank = chromosome_ranks(t.chromosomes);
    std::string rows;
    for (size_t i = 0; i < top.size(); ++i) {
        const Region_row& row = t.rows[top[i]];
        size_t count = 0;
        const std::string probes = probe_list(t.field(row, t.columns.probe), count);
        rows += "<tr>" + cell(std::to_string(i + 1), true) +
                cell(escape_html(t.chromosomes[row.chr]) + ":" + group_digits(row.start) + "-" + group_digits(row.end),
                     false, position_key(rank[row.chr], row.start)) +
                cell(escape_html(t.field(row, t.columns.name))) + cell(std::to_string(count), true) +
                cell(general(row.p), true) + cell(general(row.fdr), true) +
                cell(escape_html(t.field(row, t.columns.annotation))) + cell(probes) + "</tr>\n";
    }
    std::string out = "<section id=\"" + std::string(id) + "\"><h2>" + title + "</h2>\n";
    if (top.empty()) return out + "<p>The table <code>" + escape_html(t.path) + "</code> lists no tested region.</p></section>\n";
    out += "<p>The " + std::to_string(top.size()) + " regions of <code>" + escape_html(t.path) +
           "</code> with the smallest p-values; positions are half-open [start, end). Click a column to sort.</p>\n";
    return out + "<div class=\"scroll\"><table class=\"sortable regions\">\n" +
           header_row({"#", "Position", "Name", "Probes", "p-value", "FDR", "Annotation", "Probe IDs"}) +
           "<tbody>\n" + rows + "</tbody></table></div></section>\n";
}

}  // namespace

std::string report_html(const Report_content& content) {
    const std::vector<size_t> top = top_rows(content.probes->rows, content.options->top);
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
                       escape_html(content.options->title) + "</title>\n<style>\n" + style + "</style>\n</head>\n<body>\n<main>\n";
    page += header(content);
    page += inflation_section(content);
    page += hits_section(content, top);
    page += size_section(content);
    page += probe_table_section(content, top);
    const size_t n = content.options->top;
    if (content.r1) page += region_section(*content.r1, "top-r1", "Top predefined regions (r1)", n);
    if (content.r2) page += region_section(*content.r2, "top-r2", "Top arbitrary regions (r2)", n);
    return page + "</main>\n<script>\n" + script + "</script>\n</body>\n</html>\n";
}

bool write_report(const std::string& path, const std::string& text, std::string& error) {
    Staged_text report("the report");
    if (!report.open(path, error)) return false;
    report.write(text);
    return report.commit(error);
}
