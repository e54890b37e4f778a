// Fuzzes the importer's island file reader (read_islands) from memory, UCSC
// and BED layouts alike. Promises: every region handed out has a one-word
// chromosome and name and start <= end; the count matches; a layout was
// detected once a region was read; the region file written from them is
// read back whole by cimbrel's region reader; every refusal names the file.
#include <string>
#include <vector>

#include "bed_file.h"
#include "delimited.h"
#include "fuzz_util.h"
#include "islands.h"
#include "line_reader.h"

namespace {

const std::string file_name = "cpgIslandExt.txt";

bool one_word(const std::string& text) { return !text.empty() && !has_space(text); }

void check_read_back(const std::string& text, size_t regions) {
    std::vector<Bed> read;
    restart_output();
    FUZZ_CHECK(read_cgi(write_scratch("regions.txt", text), read), "region file not readable");
    FUZZ_CHECK(read.size() == regions && printed_bytes() == 0, "cimbrel rejects a written region");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Line_reader reader;
    reader.open_memory(reinterpret_cast<const char*>(data), size);
    std::string text = "# chrom\tstart\tend\tname\n", error;
    size_t records = 0;
    Island_counts counts;
    Island_layout layout = Island_layout::unknown;
    const bool read = read_islands(reader, file_name, [&](const Region_record& region) {
        FUZZ_CHECK(one_word(region.chr) && one_word(region.name), "chromosome or name not one word");
        FUZZ_CHECK(region.start <= region.end, "region ends before it starts");
        ++records;
        text += region.chr + "\t" + std::to_string(region.start) + "\t" + std::to_string(region.end) + "\t" +
                region.name + "\n";
    }, layout, counts, error);
    if (!read) {
        FUZZ_CHECK(error.rfind(file_name + ":", 0) == 0, "refusal that does not name the file");
        return 0;
    }
    FUZZ_CHECK(counts.regions == records, "region count differs from the regions handed out");
    if (records > 0) FUZZ_CHECK(layout != Island_layout::unknown, "regions read without a layout");
    check_read_back(text, records);
    return 0;
}
