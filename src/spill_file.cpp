#include "spill_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

// Columns loaded together before they are turned into rows: their segments
// are read one after another and each row then takes a short contiguous run.
constexpr uint32_t tile_columns = 16;

// Moves size bytes at offset with io (pread or pwrite), in as many calls as
// the system needs.
template <class Io, class Byte>
bool transfer_all(Io io, int fd, Byte* data, size_t size, uint64_t offset) {
    while (size > 0) {
        const ssize_t n = io(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool write_all(int fd, const char* data, size_t size, uint64_t offset) { return transfer_all(pwrite, fd, data, size, offset); }
bool read_all(int fd, char* data, size_t size, uint64_t offset) { return transfer_all(pread, fd, data, size, offset); }

// Offset of column c's segment in block b: every earlier block is full.
uint64_t segment_offset(const Matrix_spill& spill, uint32_t b, uint32_t c) {
    const uint64_t first = spill_block_first(spill, b);
    const uint64_t rows = spill_block_size(spill, b);
    return (first * spill.sample_num + static_cast<uint64_t>(c) * rows) * sizeof(double);
}

// MemAvailable of /proc/meminfo, in bytes; 0 when it cannot be read.
uint64_t available_memory() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    uint64_t kilobytes = 0;
    std::string unit;
    while (meminfo >> key >> kilobytes >> unit) {
        if (key == "MemAvailable:") return kilobytes * 1024;
    }
    const long pages = sysconf(_SC_AVPHYS_PAGES), page = sysconf(_SC_PAGESIZE);
    return pages > 0 && page > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(page) : 0;
}

}  // namespace

bool parse_memory_size(const std::string& text, uint64_t& bytes) {
    size_t i = 0;
    uint64_t value = 0;
    for (; i < text.size() && isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (value > (UINT64_MAX - 9) / 10) return false;
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    if (i == 0 || value == 0) return false;
    int shift = 0;
    if (i < text.size()) {
        const char* units = "KMGT";
        const char* unit = strchr(units, toupper(static_cast<unsigned char>(text[i])));
        if (unit == nullptr || text[i] == '\0') return false;
        shift = 10 * static_cast<int>(unit - units + 1);
        ++i;
        if (i < text.size() && (text[i] == 'B' || text[i] == 'b')) ++i;  // "512MB"
    }
    if (i != text.size() || value > (UINT64_MAX >> shift)) return false;
    bytes = value << shift;
    return true;
}

bool memory_budget(uint64_t& bytes, std::string& error) {
    const char* setting = getenv("CIMBREL_MEMORY");
    if (setting != nullptr && *setting != '\0') {
        if (parse_memory_size(setting, bytes)) return true;
        error = std::string("CIMBREL_MEMORY must be a number of bytes with an optional K, M, G or T "
                            "suffix (for example 8G), not \"") + setting + "\"";
        return false;
    }
    const uint64_t available = available_memory();
    bytes = available > 0 ? available / 2 : UINT64_MAX;
    return true;
}

Matrix_spill* spill_create(uint32_t probe_num, uint32_t sample_num, uint32_t block_rows,
                           std::string& error) {
    const char* folder = getenv("TMPDIR");
    std::string pattern = std::string(folder != nullptr && *folder != '\0' ? folder : ".") +
                          "/cimbrel_spill_XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot create a spill file like " + pattern + ": " + strerror(errno);
        return nullptr;
    }
    unlink(name.data());
    Matrix_spill* spill = new Matrix_spill;
    spill->fd = fd;
    spill->probe_num = probe_num;
    spill->sample_num = sample_num;
    spill->block_rows = std::max<uint32_t>(1, std::min(block_rows, probe_num));
    return spill;
}

void spill_free(Matrix_spill* spill) {
    if (spill == nullptr) return;
    if (spill->fd >= 0) close(spill->fd);
    delete spill;
}

uint32_t spill_block_count(const Matrix_spill& spill) {
    if (spill.block_rows == 0) return 0;
    return static_cast<uint32_t>((static_cast<uint64_t>(spill.probe_num) + spill.block_rows - 1) /
                                 spill.block_rows);
}

uint32_t spill_block_first(const Matrix_spill& spill, uint32_t b) {
    return static_cast<uint32_t>(static_cast<uint64_t>(b) * spill.block_rows);
}

uint32_t spill_block_size(const Matrix_spill& spill, uint32_t b) {
    const uint32_t first = spill_block_first(spill, b);
    return std::min(spill.block_rows, spill.probe_num - first);
}

bool spill_write_column(const Matrix_spill& spill, uint32_t c, const double* column, std::string& error) {
    for (uint32_t b = 0; b < spill_block_count(spill); ++b) {
        const char* data = reinterpret_cast<const char*>(column + spill_block_first(spill, b));
        if (!write_all(spill.fd, data, spill_block_size(spill, b) * sizeof(double), segment_offset(spill, b, c))) {
            error = std::string("cannot write the spill file: ") + strerror(errno ? errno : ENOSPC);
            return false;
        }
    }
    return true;
}

namespace {

// Moves block b between the file and block (rows first), a tile of columns
// at a time: a tile's segments are consecutive in the file, so one read or
// write each, transposed through scratch.
bool transfer_block(const Matrix_spill& spill, uint32_t b, gsl_matrix* block, bool to_file,
                    std::vector<double>& scratch, std::string& error) {
    const size_t rows = spill_block_size(spill, b);
    scratch.resize(rows * tile_columns);
    char* bytes = reinterpret_cast<char*>(scratch.data());
    for (uint32_t c0 = 0; c0 < spill.sample_num; c0 += tile_columns) {
        const uint32_t count = std::min(tile_columns, spill.sample_num - c0);
        const size_t size = rows * count * sizeof(double);
        const uint64_t offset = segment_offset(spill, b, c0);
        if (!to_file && !read_all(spill.fd, bytes, size, offset)) {
            error = std::string("cannot read the spill file: ") + strerror(errno ? errno : EIO);
            return false;
        }
        for (size_t r = 0; r < rows; ++r) {
            double* row = block->data + r * block->tda + c0;
            if (to_file) {
                for (uint32_t j = 0; j < count; ++j) scratch[j * rows + r] = row[j];
            } else {
                for (uint32_t j = 0; j < count; ++j) row[j] = scratch[j * rows + r];
            }
        }
        if (to_file && !write_all(spill.fd, bytes, size, offset)) {
            error = std::string("cannot write the spill file: ") + strerror(errno ? errno : ENOSPC);
            return false;
        }
    }
    return true;
}

}  // namespace

bool spill_read_block(const Matrix_spill& spill, uint32_t b, gsl_matrix* block,
                      std::vector<double>& scratch, std::string& error) {
    return transfer_block(spill, b, block, false, scratch, error);
}

bool spill_write_block(const Matrix_spill& spill, uint32_t b, const gsl_matrix* block,
                       std::vector<double>& scratch, std::string& error) {
    return transfer_block(spill, b, const_cast<gsl_matrix*>(block), true, scratch, error);
}

bool spill_read_rows(const Matrix_spill& spill, uint32_t b, uint32_t offset, gsl_matrix* rows,
                     std::vector<double>& scratch, std::string& error) {
    const size_t count = rows->size1;
    scratch.resize(count);
    for (uint32_t c = 0; c < spill.sample_num; ++c) {
        if (!read_all(spill.fd, reinterpret_cast<char*>(scratch.data()), count * sizeof(double),
                      segment_offset(spill, b, c) + static_cast<uint64_t>(offset) * sizeof(double))) {
            error = std::string("cannot read the spill file: ") + strerror(errno ? errno : EIO);
            return false;
        }
        for (size_t r = 0; r < count; ++r) rows->data[r * rows->tda + c] = scratch[r];
    }
    return true;
}
