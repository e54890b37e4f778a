// Fuzzes the importer's beta matrix reader (Matrix_reader) from memory. The
// first input byte chooses the delimiter (automatic, tab, comma); the rest is
// the matrix file. Promises: an accepted header names at least one sample,
// every name non-empty and unique, every value column inside the header,
// and either every sample or none with a Detection Pval column right after
// it; every row handed out has a one-word identifier, all the header's
// columns (read without going out of bounds) and cells that are missing, a
// finite number, or bad; line numbers grow; every refusal names the file.
#include <cmath>
#include <set>
#include <string>

#include "delimited.h"
#include "fuzz_util.h"
#include "line_reader.h"
#include "matrix.h"

namespace {

const std::string file_name = "matrix.csv";

void check_error(const std::string& error) {
    FUZZ_CHECK(error.rfind(file_name + ":", 0) == 0, "refusal that does not name the file");
}

void check_header(const Matrix_reader& matrix) {
    const auto& samples = matrix.samples();
    FUZZ_CHECK(!samples.empty(), "header accepted without a sample");
    std::set<std::string> names;
    std::set<size_t> columns;
    for (const Matrix_sample& sample : samples) {
        FUZZ_CHECK(!sample.name.empty() && names.insert(sample.name).second, "empty or repeated sample name");
        FUZZ_CHECK(sample.beta > 0 && columns.insert(sample.beta).second, "value column reused");
        FUZZ_CHECK((sample.detection != 0) == matrix.interleaved(), "detection columns for some samples only");
        if (sample.detection != 0) FUZZ_CHECK(sample.detection == sample.beta + 1, "detection column misplaced");
    }
}

void check_cell(std::string_view text) {
    double value = NAN;
    if (read_cell(text, value) == Cell::number) FUZZ_CHECK(std::isfinite(value), "number cell not finite");
}

void check_row(const Matrix_reader& matrix) {
    FUZZ_CHECK(!matrix.id().empty() && !has_space(matrix.id()), "identifier empty or with white space");
    for (const Matrix_sample& sample : matrix.samples()) {
        check_cell(matrix.field(sample.beta));
        if (sample.detection != 0) check_cell(matrix.field(sample.detection));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return -1;
    const Delimiter delimiters[] = {Delimiter::automatic, Delimiter::tab, Delimiter::comma};
    Line_reader reader;
    reader.open_memory(reinterpret_cast<const char*>(data + 1), size - 1);
    Matrix_reader matrix(reader, file_name, delimiters[data[0] % 3]);
    std::string error;
    if (!matrix.read_header(error)) {
        check_error(error);
        return 0;
    }
    check_header(matrix);
    size_t line = matrix.line();
    int status = 0;
    while ((status = matrix.next(error)) == 1) {
        FUZZ_CHECK(matrix.line() > line, "line numbers do not grow");
        line = matrix.line();
        check_row(matrix);
    }
    FUZZ_CHECK(status == 0 || status == -1, "row status other than 1, 0, -1");
    if (status == -1) check_error(error);
    return 0;
}
