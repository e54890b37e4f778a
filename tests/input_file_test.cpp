// The byte layer: plain and gzip input read the same, compression is found by
// the magic bytes, every gzip member of a file is read, and a damaged
// compressed file is an error rather than a short read.
#include "input_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include "line_reader.h"
#include "test_util.h"

namespace {

// Every byte of the content, read in odd-sized pieces so that member and
// block boundaries fall anywhere; error text when reading failed.
std::string read_all(Input_file& input, std::string* error = nullptr, size_t piece = 997) {
    std::string content;
    std::string buffer(piece, '\0');
    long n = 0;
    while ((n = input.read(&buffer[0], buffer.size())) > 0) content.append(buffer, 0, n);
    if (error != nullptr) *error = n < 0 ? input.error() : "";
    return content;
}

std::string read_memory(const std::string& bytes, std::string* error = nullptr) {
    Input_file input;
    input.open_memory(bytes.data(), bytes.size());
    return read_all(input, error);
}

// A data file's worth of text: many short lines.
std::string sample_text(size_t lines, unsigned seed) {
    std::mt19937 random(seed);
    std::string text;
    for (size_t i = 0; i < lines; ++i) {
        text += "cg" + std::to_string(10000000 + i) + "\t0." + std::to_string(random() % 1000000) + "\t0.0" +
                std::to_string(random() % 100) + "\n";
    }
    return text;
}

// A bgzip-style member: the header carries an extra field (FEXTRA) with the
// "BC" block-size subfield, then raw deflate data, CRC-32 and length.
std::string bgzf_member(const std::string& text) {
    isal_zstream stream;
    isal_deflate_stateless_init(&stream);
    std::vector<uint8_t> level(ISAL_DEF_LVL1_DEFAULT), body(text.size() + 1024);
    stream.level = 1;
    stream.level_buf = level.data();
    stream.level_buf_size = static_cast<uint32_t>(level.size());
    stream.end_of_stream = 1;
    stream.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uint32_t>(text.size());
    stream.next_out = body.data();
    stream.avail_out = static_cast<uint32_t>(body.size());
    EXPECT_EQ(COMP_OK, isal_deflate_stateless(&stream));
    const uint32_t block_size = 18 + stream.total_out + 8 - 1;
    std::string member = {'\x1f', '\x8b', '\x08', '\x04', 0, 0, 0, 0, 0, '\xff', 6, 0, 'B', 'C', 2, 0};
    member += static_cast<char>(block_size & 0xff);
    member += static_cast<char>(block_size >> 8);
    member.append(reinterpret_cast<char*>(body.data()), stream.total_out);
    const uint32_t crc = crc32_gzip_refl(0, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    const uint32_t length = static_cast<uint32_t>(text.size());
    for (uint32_t word : {crc, length}) {
        for (int b = 0; b < 4; ++b) member += static_cast<char>((word >> (8 * b)) & 0xff);
    }
    return member;
}

}  // namespace

TEST(input_file, plain_and_gzip_files_read_the_same_whatever_their_names) {
    Temp_dir dir;
    const std::string text = sample_text(50000, 1);
    write_text(dir.file("plain.gz"), text);                // a .gz name on a plain file
    write_text(dir.file("packed.txt"), gzip_text(text));   // a plain name on a gzip file
    Input_file plain, packed;
    ASSERT_TRUE(plain.open(dir.file("plain.gz")));
    ASSERT_TRUE(packed.open(dir.file("packed.txt")));
    EXPECT_FALSE(plain.compressed());
    EXPECT_TRUE(packed.compressed());
    EXPECT_EQ(text, read_all(plain));
    std::string error = "unset";
    EXPECT_EQ(text, read_all(packed, &error, 1 << 20));
    EXPECT_EQ("", error);
}

TEST(input_file, every_member_of_a_multi_member_file_is_read) {
    const std::string text = sample_text(20000, 2);
    // Members of 1 byte, odd sizes, and larger than the reader's input block.
    for (size_t member : {size_t(1), size_t(4093), size_t(300000)}) {
        const std::string source = member == 1 ? text.substr(0, 300) : text;
        std::string error;
        EXPECT_EQ(source, read_memory(gzip_text(source, member), &error)) << member;
        EXPECT_EQ("", error);
    }
    // bgzip: blocks with an extra header field, closed by an empty block.
    std::string bgzf = bgzf_member(text.substr(0, 60000)) + bgzf_member(text.substr(60000)) + bgzf_member("");
    EXPECT_EQ(text, read_memory(bgzf));
    // Empty content, and a zero-padded file (which gzip itself accepts).
    EXPECT_EQ("", read_memory(gzip_text("")));
    EXPECT_EQ(text, read_memory(gzip_text(text) + std::string(100, '\0')));
}

TEST(input_file, damaged_compressed_data_is_an_error_not_a_short_read) {
    const std::string text = sample_text(20000, 3);
    const std::string packed = gzip_text(text);
    struct Case {
        const char* what;
        std::string bytes;
        const char* error;
    };
    std::string bad_crc = packed, bad_length = packed, bad_body = packed, bad_method = packed;
    bad_crc[bad_crc.size() - 6] ^= 0x40;
    bad_length[bad_length.size() - 1] ^= 0x01;
    bad_body[bad_body.size() / 2] ^= 0x55;
    bad_method[2] = 7;
    const Case cases[] = {
        {"truncated in the body", packed.substr(0, packed.size() / 2), "truncated"},
        {"truncated in the trailer", packed.substr(0, packed.size() - 3), "truncated"},
        {"truncated in the header", packed.substr(0, 5), "truncated"},
        {"checksum", bad_crc, "checksum"},
        {"length", bad_length, "checksum"},
        {"body", bad_body, "corrupt"},
        {"method", bad_method, "unsupported"},
        {"garbage after the data", packed + "trailing text\n", "unexpected bytes"},
    };
    for (const Case& c : cases) {
        std::string error;
        const std::string got = read_memory(c.bytes, &error);
        EXPECT_NE(std::string::npos, error.find(c.error)) << c.what << ": " << error;
        EXPECT_LT(got.size(), text.size() + 1) << c.what;
    }
}

// Found by fuzzing: a member header with a reserved flag bit set (which may
// announce a field this reader cannot skip) was inflated as if the bit were
// clear; gzip and zlib refuse such a file, first member or later.
TEST(input_file, reserved_gzip_header_flags_are_an_error) {
    const std::string packed = gzip_text("cg00000029\t0.43\t0.01\n");
    for (int bit = 5; bit < 8; ++bit) {
        std::string flagged = packed;
        flagged[3] = static_cast<char>(flagged[3] | (1 << bit));
        for (const std::string& bytes : {flagged, packed + flagged}) {
            std::string error;
            read_memory(bytes, &error);
            EXPECT_NE(std::string::npos, error.find("reserved flags")) << "bit " << bit << ": " << error;
        }
    }
}

// Found by fuzzing: a header CRC (FHCRC) that does not match its header was
// not checked, so a member with a damaged name or extra field was read as
// intact where gzip and zlib refuse it. Optional fields must be skipped
// exactly, whichever refill of the input they straddle.
TEST(input_file, gzip_header_fields_are_skipped_and_the_header_crc_checked) {
    const std::string text = sample_text(200, 4);
    const std::string packed = gzip_text(text);
    const std::string body = packed.substr(10);  // deflate data and trailer
    // Flags: header CRC, extra field, name, comment.
    std::string header = {'\x1f', '\x8b', '\x08', '\x1c', 0, 0, 0, 0, 0, '\x03'};
    const std::string extra(300, 'x');
    header += static_cast<char>(extra.size() & 0xff);
    header += static_cast<char>(extra.size() >> 8);
    header += extra + "study.txt" + '\0' + std::string(70000, 'c') + '\0';
    std::string with_crc = header;
    with_crc[3] |= 0x02;
    const uint32_t crc = crc32_gzip_refl(0, reinterpret_cast<const uint8_t*>(with_crc.data()), with_crc.size());
    with_crc += static_cast<char>(crc & 0xff);
    with_crc += static_cast<char>((crc >> 8) & 0xff);
    std::string error = "unset";
    EXPECT_TRUE(read_memory(header + body, &error) == text) << error;
    EXPECT_TRUE(read_memory(packed + with_crc + body, &error) == text + text) << error;
    for (size_t at : {size_t(12), size_t(400), with_crc.size() - 1}) {
        std::string damaged = with_crc + body;
        damaged[at] ^= 0x01;
        read_memory(packed + damaged, &error);
        EXPECT_NE(std::string::npos, error.find("header checksum")) << at << ": " << error;
    }
    for (size_t cut : {size_t(11), size_t(200), header.size() - 1}) {
        read_memory(header.substr(0, cut), &error);
        EXPECT_NE(std::string::npos, error.find("truncated")) << cut << ": " << error;
    }
}

TEST(input_file, missing_files_and_directories_cannot_be_opened) {
    Temp_dir dir;
    Input_file input;
    EXPECT_FALSE(input.open(dir.file("absent")));
    EXPECT_FALSE(input.error().empty());
    EXPECT_FALSE(input.open(dir.path()));
    write_text(dir.file("one"), "\x1f");  // half a magic number is plain text
    ASSERT_TRUE(input.open(dir.file("one")));
    EXPECT_FALSE(input.compressed());
    EXPECT_EQ("\x1f", read_all(input));
}

TEST(line_reader, lines_of_a_gzip_file_and_its_failure) {
    Temp_dir dir;
    std::string text = sample_text(30000, 4);
    text += std::string(3 << 20, 'x') + "\n";  // a line longer than the read block
    text += "last line without end";
    write_text(dir.file("a.gz"), gzip_text(text, 65536));
    Line_reader reader(dir.file("a.gz"));
    ASSERT_TRUE(reader.compressed());
    std::string joined;
    std::string_view line;
    size_t lines = 0;
    while (reader.next(line)) {
        joined.append(line);
        ++lines;
    }
    EXPECT_FALSE(reader.failed());
    EXPECT_EQ(text, joined);
    EXPECT_EQ(30002u, lines);

    const std::string packed = gzip_text(text);
    write_text(dir.file("cut.gz"), packed.substr(0, packed.size() - 100));
    reader.open(dir.file("cut.gz"));
    while (reader.next(line)) {
    }
    EXPECT_TRUE(reader.failed());
    EXPECT_NE(std::string::npos, reader.error().find("truncated"));
    std::string error;
    EXPECT_FALSE(file_intact(dir.file("cut.gz"), error));
    EXPECT_TRUE(file_intact(dir.file("a.gz"), error));
}
