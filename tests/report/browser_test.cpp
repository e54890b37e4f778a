// The report in a real browser: headless Chromium (Debian package chromium,
// installed by scripts/setup.sh with WITH_TESTS=1) opens a copy of a report
// of a 30,000-probe study with both region tables, renders it to a PNG and
// dumps the DOM after a script injected into the copy has recorded:
//   - script errors and console errors while the page loaded,
//   - resources fetched (a self-contained page fetches none),
//   - the size of every picture on the page,
//   - text of a picture that overlaps other text or leaves the picture,
//   - the first row of the top-probe table after two clicks on its "#" header.
// The product carries no test hooks: only the copy holds the script.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <unistd.h>

#include <gtest/gtest.h>

#include "plots.h"
#include "report_run.h"

namespace {

// Path of the chromium program on PATH; empty when there is none.
std::string find_chromium() {
    const char* path = getenv("PATH");
    std::istringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        for (const char* name : {"chromium", "chromium-browser"}) {
            const std::string candidate = dir + "/" + name;
            if (access(candidate.c_str(), X_OK) == 0) return candidate;
        }
    return "";
}

const char head_script[] =
    "<script>window.__probe_errors=[];"
    "window.addEventListener('error',function(e){__probe_errors.push('error: '+e.message);});"
    "(function(){var log=console.error;console.error=function(){"
    "__probe_errors.push('console: '+Array.prototype.join.call(arguments,' '));log.apply(console,arguments);};})();"
    "</script>\n";

const char body_script[] =
    "<script>(function(){\n"
    "var lines=['errors '+__probe_errors.length].concat(__probe_errors);\n"
    "lines.push('resources '+performance.getEntriesByType('resource').length);\n"
    "document.querySelectorAll('svg').forEach(function(svg){\n"
    " var r=svg.getBoundingClientRect();lines.push('svg '+svg.id+' '+r.width+' '+r.height);\n"
    " var texts=Array.prototype.map.call(svg.querySelectorAll('text'),function(t){\n"
    "  return {text:t.textContent,box:t.getBoundingClientRect()};});\n"
    " texts.forEach(function(a,i){var b=a.box;\n"
    "  if(b.left<r.left-0.5||b.right>r.right+0.5||b.top<r.top-0.5||b.bottom>r.bottom+0.5)\n"
    "   lines.push('outside '+svg.id+' '+a.text);\n"
    "  for(var j=i+1;j<texts.length;j++){var c=texts[j].box;\n"
    "   var w=Math.min(b.right,c.right)-Math.max(b.left,c.left),h=Math.min(b.bottom,c.bottom)-Math.max(b.top,c.top);\n"
    "   if(w>1&&h>1)lines.push('overlap '+svg.id+' '+a.text+' | '+texts[j].text);}\n"
    " });\n"
    "});\n"
    "var th=document.querySelector('#top-probes th');th.click();th.click();\n"
    "lines.push('sorted '+document.querySelector('#top-probes tbody tr').cells[0].textContent);\n"
    "var pre=document.createElement('pre');pre.id='probe-result';pre.textContent=lines.join('\\n');\n"
    "document.body.appendChild(pre);})();</script>\n";

std::string with_probe_scripts(std::string html) {
    html.insert(html.find("<head>\n") + 7, head_script);
    html.insert(html.rfind("</body>"), body_script);
    return html;
}

// The lines recorded by body_script, from the dumped DOM.
std::vector<std::string> recorded_lines(const std::string& dom) {
    const std::string open = "<pre id=\"probe-result\">";
    const size_t start = dom.find(open);
    if (start == std::string::npos) return {};
    std::string text = dom.substr(start + open.size(), dom.find("</pre>", start) - start - open.size());
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Width and height of a PNG file from its IHDR chunk; 0, 0 when not a PNG.
std::pair<unsigned, unsigned> png_size(const std::string& data) {
    if (data.size() < 24 || data.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {0, 0};
    auto word = [&data](size_t at) {
        unsigned value = 0;
        for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(data[at + i]);
        return value;
    };
    return {word(16), word(20)};
}

}  // namespace

TEST(report_browser, page_loads_and_pictures_have_their_size) {
    const std::string chromium = find_chromium();
    if (chromium.empty()) GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it with WITH_TESTS=1)";
    Temp_dir dir;
    write_text(dir.file("probe.txt"), random_probe_table(30000, test_seed()));
    const Run_result run = run_report({"probe.txt", "--r1", report_data("r1.txt"), "--r2", report_data("r2.txt")},
                                      dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    write_text(dir.file("probe.html"), with_probe_scripts(read_text(dir.file("report.html"))));

    const std::string command =
        "timeout 120 " + shell_quote(chromium) +
        " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking"
        " --disable-component-update --disable-sync --user-data-dir=" + shell_quote(dir.file("profile")) +
        " --window-size=1280,4000 --screenshot=" + shell_quote(dir.file("report.png")) +
        " --dump-dom " + shell_quote("file://" + dir.file("probe.html")) + " >" + shell_quote(dir.file("dom.html")) +
        " 2>" + shell_quote(dir.file("chromium.log"));
    ASSERT_EQ(std::system(command.c_str()), 0) << read_text(dir.file("chromium.log"));

    const std::vector<std::string> lines = recorded_lines(read_text(dir.file("dom.html")));
    ASSERT_FALSE(lines.empty()) << "the injected script left no result";
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    EXPECT_EQ(lines[0], "errors 0") << all;
    EXPECT_NE(all.find("\nresources 0\n"), std::string::npos) << all;
    const std::map<std::string, Picture_size> expected = {{"qq", picture::qq},
                                                          {"qq-r1", picture::region_qq},
                                                          {"qq-r2", picture::region_qq},
                                                          {"manhattan", picture::manhattan},
                                                          {"volcano", picture::volcano},
                                                          {"histogram", picture::histogram}};
    for (const auto& e : expected) {
        const std::string line =
            "svg " + e.first + " " + std::to_string(e.second.width) + " " + std::to_string(e.second.height) + "\n";
        EXPECT_NE(all.find(line), std::string::npos) << "expected " << line << "got\n" << all;
    }
    EXPECT_EQ(all.find("overlap "), std::string::npos) << all;
    EXPECT_EQ(all.find("outside "), std::string::npos) << all;
    EXPECT_NE(all.find("\nsorted 20\n"), std::string::npos) << all;

    const std::string png = read_text(dir.file("report.png"));
    EXPECT_EQ(png_size(png), std::make_pair(1280u, 4000u));
    EXPECT_GT(png.size(), 50000u) << "a nearly blank page";
}
