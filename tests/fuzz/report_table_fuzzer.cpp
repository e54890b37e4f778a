// Fuzzes the report's readers of cimbrel's result tables (read_probe_table,
// read_region_table) on the same bytes, plain or gzip. Promises: a table that
// is read has its fixed columns at distinct positions, every row's line lies
// inside the table's text and has the header's field count, every row's
// chromosome is one of the table's, p-values are numbers (not NaN), a probe
// table has rows; a refused table names its file in the error.
#include <algorithm>
#include <cmath>
#include <set>
#include <string>

#include "fuzz_util.h"
#include "tables.h"

namespace {

template <class Table, class Row>
void check_rows(const Table& table, size_t fields) {
    for (const Row& row : table.rows) {
        FUZZ_CHECK(row.line.offset + row.line.length <= table.text.size(), "row line outside the text");
        FUZZ_CHECK(row.chr < table.chromosomes.size(), "row on a chromosome the table does not list");
        FUZZ_CHECK(!std::isnan(row.p), "p-value that is not a number");
        const std::string_view line(table.text.data() + row.line.offset, row.line.length);
        FUZZ_CHECK(static_cast<size_t>(std::count(line.begin(), line.end(), '\t')) + 1 == fields,
                   "row with another field count than its header");
    }
}

void check_probe_table(const std::string& path) {
    Probe_table table;
    std::string error;
    if (!read_probe_table(path, table, error)) {
        FUZZ_CHECK(error.rfind(path, 0) == 0, "refused probe table without its file name");
        return;
    }
    const Probe_columns& c = table.columns;
    const std::set<size_t> fixed{c.id, c.p, c.fdr, c.range, c.chr, c.loc, c.ann};
    FUZZ_CHECK(fixed.size() == 7, "two fixed columns at one position");
    FUZZ_CHECK(c.groups.size() == table.groups.size(), "group columns and names differ");
    FUZZ_CHECK(!table.rows.empty(), "probe table read without rows");
    check_rows<Probe_table, Probe_row>(table, c.count);
}

void check_region_table(const std::string& path) {
    Region_table table;
    std::string error;
    if (!read_region_table(path, table, error)) {
        FUZZ_CHECK(error.rfind(path, 0) == 0, "refused region table without its file name");
        return;
    }
    const Region_columns& c = table.columns;
    const std::set<size_t> fixed{c.chr, c.start, c.end, c.name, c.p, c.fdr, c.probe, c.annotation};
    FUZZ_CHECK(fixed.size() == 8, "two fixed columns at one position");
    check_rows<Region_table, Region_row>(table, c.count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = write_scratch("table.txt", data, size);
    check_probe_table(path);
    check_region_table(path);
    return 0;
}
