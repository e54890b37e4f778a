// Fuzzes the byte layer under every reader (Input_file) and the line
// splitter above it (Line_reader), reading the input from memory. Promises
// checked: plain input comes back byte for byte; gzip input (recognised by
// its magic) is inflated exactly as zlib inflates it, members concatenated
// and zero padding after the last one ignored, and both refuse the same
// inputs (but one kind, below); the lines put back together are the content, each but the last
// ending in its only "\n"; a failure is reported as one, with a reason.
#include <zlib.h>

#include <string>
#include <string_view>
#include <vector>

#include "fuzz_util.h"
#include "input_file.h"
#include "line_reader.h"

namespace {

bool all_zero(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i)
        if (data[i] != 0) return false;
    return true;
}

// One gzip member starting at data[pos], appended to out; pos moves past it.
// On failure, reason holds zlib's message.
bool inflate_member(const uint8_t* data, size_t size, size_t& pos, std::string& out, std::string& reason) {
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) abort();
    stream.next_in = const_cast<uint8_t*>(data + pos);
    stream.avail_in = static_cast<uInt>(size - pos);
    int status = Z_OK;
    std::vector<char> buffer(1 << 14);
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_out = static_cast<uInt>(buffer.size());
        status = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer.data(), buffer.size() - stream.avail_out);
    }
    pos = size - stream.avail_in;
    if (status != Z_STREAM_END && stream.msg != nullptr) reason = stream.msg;
    inflateEnd(&stream);
    return status == Z_STREAM_END;
}

// The content as zlib sees it: members back to back, then nothing or zeros.
bool zlib_content(const uint8_t* data, size_t size, std::string& out, std::string& reason) {
    size_t pos = 0;
    do {
        if (!inflate_member(data, size, pos, out, reason)) return false;
        if (pos < size && data[pos] == 0) return all_zero(data + pos, size - pos);
    } while (pos + 1 < size && data[pos] == 0x1f && data[pos + 1] == 0x8b);
    return pos == size;
}

// Reads the whole content in pieces of at most piece bytes.
bool read_content(const uint8_t* data, size_t size, size_t piece, std::string& out, bool& compressed) {
    Input_file input;
    input.open_memory(reinterpret_cast<const char*>(data), size);
    compressed = input.compressed();
    std::vector<char> buffer(piece);
    long n = 0;
    while ((n = input.read(buffer.data(), buffer.size())) > 0) {
        FUZZ_CHECK(static_cast<size_t>(n) <= piece, "read returned more than asked");
        out.append(buffer.data(), static_cast<size_t>(n));
    }
    FUZZ_CHECK(n == 0 || n == -1, "read returned a negative count other than -1");
    FUZZ_CHECK((n == -1) == !input.error().empty(), "failure without a reason, or a reason without failure");
    return n == 0;
}

// Lines as Line_reader returns them, joined.
bool read_lines(const uint8_t* data, size_t size, std::string& out) {
    Line_reader reader;
    reader.open_memory(reinterpret_cast<const char*>(data), size);
    std::string_view line;
    bool last_seen = false;
    while (reader.next(line)) {
        FUZZ_CHECK(!last_seen, "a line after the last one without a line end");
        FUZZ_CHECK(!line.empty(), "empty line returned");
        const size_t end = line.find('\n');
        FUZZ_CHECK(end == std::string_view::npos || end + 1 == line.size(), "line end inside a line");
        last_seen = end == std::string_view::npos;
        out.append(line);
    }
    FUZZ_CHECK(reader.failed() == !reader.error().empty(), "failure without a reason");
    return !reader.failed();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string content, lines, expected;
    bool compressed = false;
    const size_t piece = 1 + size % 89;
    const bool read = read_content(data, size, piece, content, compressed);
    const bool lines_read = read_lines(data, size, lines);
    FUZZ_CHECK(read == lines_read, "byte layer and line reader disagree on failure");
    if (read) FUZZ_CHECK(content == lines, "lines do not join to the content");
    const bool magic = size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
    FUZZ_CHECK(compressed == magic, "compression not recognised by the magic bytes");
    if (!magic) {
        FUZZ_CHECK(read && content == std::string_view(reinterpret_cast<const char*>(data), size),
                   "plain input not returned as it is");
        return 0;
    }
    std::string zlib_reason;
    const bool zlib_read = zlib_content(data, size, expected, zlib_reason);
    // ISA-L decodes a dynamic block whose Huffman code set is incomplete
    // (fewer codes than its lengths allow), which zlib refuses as an
    // "invalid code lengths set", "invalid literal/lengths set" or "invalid
    // distances set". No compressor writes such blocks, and what ISA-L
    // decodes from them must still match the member's CRC-32 and length.
    const bool incomplete_code_set = read && !zlib_read && zlib_reason.size() > 4 &&
                                     zlib_reason.compare(zlib_reason.size() - 4, 4, " set") == 0;
    FUZZ_CHECK(read == zlib_read || incomplete_code_set,
               "zlib and the byte layer disagree on whether the input is intact");
    if (read) {
        FUZZ_CHECK(zlib_read ? content == expected : content.compare(0, expected.size(), expected) == 0,
                   "inflated content differs from zlib's");
    }
    return 0;
}
