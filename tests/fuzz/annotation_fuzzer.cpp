// Fuzzes the probe annotation reader (read_probe_ann) and the selection of
// the study's records from it (study_points). Promises: records sorted by
// chromosome and position, every position > 0, one map entry per distinct
// identifier pointing at the first sorted record of that identifier and
// none for an identifier never read; the study's records are in annotation
// order, one per study probe that has a record, each the one the map points
// to and paired with the probe's own row.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "bed_file.h"
#include "fuzz_util.h"

namespace {

void check_records(const std::vector<Point>& points, const Probe_index_map& index, const std::set<std::string>& ids) {
    FUZZ_CHECK(std::is_sorted(points.begin(), points.end()), "records not sorted");
    for (const Point& point : points) {
        FUZZ_CHECK(point.loc > 0, "position 0 kept");
        FUZZ_CHECK(!point.id.empty() && !point.chr.empty() && !point.ann.empty(), "empty field kept");
    }
    FUZZ_CHECK(index.size() == ids.size(), "map does not hold every identifier once");
    for (const std::string& id : ids) {
        uint32_t record = 0;
        FUZZ_CHECK(index.find(id, record), "identifier missing from the map");
        FUZZ_CHECK(record < points.size() && points[record].id == id, "map points at another record");
        for (uint32_t earlier = 0; earlier < record; ++earlier)
            FUZZ_CHECK(points[earlier].id != id, "map skips the first record of an identifier");
    }
    uint32_t record = 0;
    FUZZ_CHECK(!index.find("no record", record), "map finds an identifier never read");
}

// A study of every other annotated identifier plus one without a record
// (white space inside: no annotation line can hold it).
void check_study_points(const std::vector<Point>& points, const Probe_index_map& index,
                        const std::set<std::string>& ids) {
    Data_description study;
    uint32_t row = 0;
    bool take = true;
    for (const std::string& id : ids) {
        if (take) study.probe_index.add(id, row++);
        take = !take;
    }
    study.probe_index.add("no record", row++);
    const std::vector<Study_point> chosen = study_points(points, study, index);
    FUZZ_CHECK(chosen.size() == (ids.size() + 1) / 2, "study records are not one per annotated probe");
    std::set<uint32_t> rows;
    for (size_t i = 0; i < chosen.size(); ++i) {
        const Study_point& point = chosen[i];
        FUZZ_CHECK(point.record < points.size(), "study record out of range");
        if (i > 0) FUZZ_CHECK(chosen[i - 1].record < point.record, "study records not in annotation order");
        const std::string& id = points[point.record].id;
        uint32_t study_row = 0, record = 0;
        FUZZ_CHECK(study.probe_index.find(id, study_row) && study_row == point.row,
                   "study record with another row");
        FUZZ_CHECK(index.find(id, record) && record == point.record, "study record is not the mapped one");
        FUZZ_CHECK(rows.insert(point.row).second, "study probe with two records");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string file = write_scratch("probe.ann", data, size);
    std::vector<Point> points;
    Probe_index_map index;
    restart_output();
    const bool read = read_probe_ann(file, points, index);
    const bool compressed = size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
    FUZZ_CHECK(read || compressed, "plain annotation file refused");
    if (!read) {
        FUZZ_CHECK(points.empty() && printed_bytes() > 0, "refusal without a message, or with records");
        return 0;
    }
    std::set<std::string> ids;
    for (const Point& point : points) ids.insert(point.id);
    check_records(points, index, ids);
    check_study_points(points, index, ids);
    return 0;
}
