// Fuzzes the region file reader (read_cgi) and the probe-to-region mapping
// (cgi_probe) against a fixed annotation: probes on chr1 (one at the last
// 32-bit position, two sharing a position), chr10, chr2, chrX, and one
// study probe without a record. Promises: regions sorted; a probe is
// recorded at most once, only for a region that exists and contains it
// (so on a chromosome that was read), and exactly for the first region in
// region order containing it, as a naive scan of all regions finds.
#include <algorithm>
#include <string>
#include <vector>

#include "bed_file.h"
#include "fuzz_util.h"

namespace {

const char* const annotation =
    "cg01 chr1 100 TSS200\ncg02 chr1 150 Body\ncg03 chr1 4294967295 Body\ncg04 chr2 10 1stExon\n"
    "cg05 chrX 5 Body\ncg06 chr1 100 TSS1500\ncg07 chr10 1 Body\ncg08 chr1 1 IGR\n";

struct Study {
    std::vector<Point> points;
    Probe_index_map index;
    Data_description names;
    std::vector<uint32_t> record_of_row;  // annotation record of each study row
};

Study make_study() {
    Study study;
    restart_output();
    if (!read_probe_ann(write_scratch("probe.ann", annotation), study.points, study.index)) abort();
    for (uint32_t record = 0; record < study.points.size(); ++record) {
        study.names.probe_index.add(study.points[record].id, static_cast<uint32_t>(study.record_of_row.size()));
        study.record_of_row.push_back(record);
    }
    study.names.probe_index.add("cg99", static_cast<uint32_t>(study.record_of_row.size()));
    return study;
}

// Region index of the first region containing the point, or regions.size().
size_t first_region(const std::vector<Bed>& regions, const Point& point) {
    for (size_t i = 0; i < regions.size(); ++i)
        if (regions[i].chr == point.chr && regions[i].start <= point.loc && point.loc < regions[i].end) return i;
    return regions.size();
}

void check_mapping(const Study& study, const std::vector<Bed>& regions, const Region_probes& region_probes) {
    std::vector<size_t> region_of_row(study.record_of_row.size(), regions.size());
    size_t recorded = 0;
    for (uint32_t region = 0; region < regions.size(); ++region) {
        const uint32_t* rows = region_probes.begin(region);
        for (uint32_t k = 0; k < region_probes.count(region); ++k) {
            FUZZ_CHECK(rows[k] < region_of_row.size(), "row that is not a study probe recorded");
            FUZZ_CHECK(region_of_row[rows[k]] == regions.size(), "probe recorded twice");
            region_of_row[rows[k]] = region;
            const Point& point = study.points[study.record_of_row[rows[k]]];
            FUZZ_CHECK(regions[region] == point, "probe recorded for a region that does not contain it");
            if (k > 0) FUZZ_CHECK(!(point < study.points[study.record_of_row[rows[k - 1]]]), "probes out of order");
            ++recorded;
        }
    }
    FUZZ_CHECK(recorded == region_probes.rows.size(), "probes recorded for regions that do not exist");
    for (uint32_t row = 0; row < region_of_row.size(); ++row) {
        const size_t expected = first_region(regions, study.points[study.record_of_row[row]]);
        FUZZ_CHECK(region_of_row[row] == expected, "probe not recorded for the first region containing it");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Study study = make_study();
    const std::string file = write_scratch("regions.txt", data, size);
    std::vector<Bed> regions;
    restart_output();
    if (!read_cgi(file, regions)) {
        FUZZ_CHECK(size >= 2 && data[0] == 0x1f && data[1] == 0x8b, "plain region file refused");
        FUZZ_CHECK(regions.empty() && printed_bytes() > 0, "refusal without a message, or with regions");
        return 0;
    }
    FUZZ_CHECK(std::is_sorted(regions.begin(), regions.end()), "regions not sorted");
    Region_probes region_probes;
    cgi_probe(regions, study.points, study.names, study.index, region_probes);
    check_mapping(study, regions, region_probes);
    return 0;
}
