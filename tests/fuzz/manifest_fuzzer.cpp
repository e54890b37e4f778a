// Fuzzes the importer's manifest reader (read_manifest) from memory. The
// first input byte chooses the annotation: the island relation, one chosen
// column, or two joined. Promises: every record handed out has a one-word
// identifier, a one-word chromosome starting with "chr", a position > 0 and
// a one-word annotation; the count matches the records; the annotation file
// written from the records is read back whole by cimbrel's annotation
// reader; every refusal names the file.
#include <string>
#include <vector>

#include "bed_file.h"
#include "delimited.h"
#include "fuzz_util.h"
#include "line_reader.h"
#include "manifest.h"

namespace {

const std::string file_name = "manifest.csv";

bool one_word(const std::string& text) { return !text.empty() && !has_space(text); }

void check_record(const Annotation_record& record) {
    FUZZ_CHECK(one_word(record.id), "identifier empty or with white space");
    FUZZ_CHECK(one_word(record.chr) && record.chr.rfind("chr", 0) == 0, "chromosome not chrN");
    FUZZ_CHECK(record.position > 0, "position 0");
    FUZZ_CHECK(one_word(record.annotation), "annotation empty or with white space");
}

// The records as the importer writes them, read by cimbrel.
void check_read_back(const std::string& text, size_t records) {
    std::vector<Point> points;
    Probe_index_map index;
    restart_output();
    FUZZ_CHECK(read_probe_ann(write_scratch("probe.ann", text), points, index), "annotation not readable");
    FUZZ_CHECK(points.size() == records && printed_bytes() == 0, "cimbrel rejects a written record");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return -1;
    static const std::vector<std::string> choices[] = {
        {}, {"UCSC_RefGene_Group"}, {"Relation_to_UCSC_CpG_Island", "UCSC_RefGene_Name"}};
    Line_reader reader;
    reader.open_memory(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string text = "# id\tchr\tposition\tannotation\n", error;
    size_t records = 0;
    Manifest_counts counts;
    const bool read = read_manifest(reader, file_name, choices[data[0] % 3], [&](const Annotation_record& record) {
        check_record(record);
        ++records;
        text += record.id + "\t" + record.chr + "\t" + std::to_string(record.position) + "\t" + record.annotation + "\n";
    }, counts, error);
    if (!read) {
        FUZZ_CHECK(error.rfind(file_name + ":", 0) == 0, "refusal that does not name the file");
        return 0;
    }
    FUZZ_CHECK(counts.probes == records, "probe count differs from the records handed out");
    check_read_back(text, records);
    return 0;
}
