// The byte layer under every text reader: a file (or a block of memory) read
// as it is, or inflated when it is gzip-compressed. Compression is recognised
// by the first two bytes (the gzip magic 1f 8b), never by the name, so a
// ".gz" name on a plain file and a plain name on a gzip file both work.
// Multi-member files (concatenated gzip members, bgzip) are read whole.
// A corrupt or truncated compressed stream is an error, never a short read.
#ifndef CIMBREL_INPUT_FILE_H
#define CIMBREL_INPUT_FILE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct inflate_state;

class Input_file {
public:
    Input_file();
    ~Input_file();
    Input_file(const Input_file&) = delete;
    Input_file& operator=(const Input_file&) = delete;

    // Opens a file for reading. False when it is missing, unreadable or a
    // directory; error() then says why.
    bool open(const std::string& path);
    // Reads from size bytes at data, which must stay valid until close().
    void open_memory(const char* data, size_t size);
    void close();

    // Up to size bytes of the (inflated) content: the count, 0 at the end,
    // -1 on an error (a read error, a corrupt or truncated gzip stream, or
    // bytes after the last gzip member that are not another member).
    long read(char* buffer, size_t size);

    bool is_open() const { return open_; }
    // An upper estimate of the content's size in bytes (a compressed file
    // is taken to hold at most ten times its size), for reservations.
    uint64_t size_hint() const { return gzip_ ? 10 * raw_size_ : raw_size_; }
    bool compressed() const { return gzip_; }
    // What went wrong, for a message that names the file: "" when nothing did.
    const std::string& error() const { return error_; }

private:
    // Raw bytes of the file or memory block.
    long read_raw(uint8_t* buffer, size_t size);
    bool fill_input();
    bool start_member();
    bool header_byte(uint8_t& byte, uint32_t& crc);
    bool read_member_header();
    long inflate_some(char* buffer, size_t size);
    long fail(const std::string& what);

    int fd_ = -1;
    const char* memory_ = nullptr;
    size_t memory_left_ = 0;
    uint64_t raw_size_ = 0;    // bytes of the file or memory block
    bool open_ = false;
    bool gzip_ = false;
    bool raw_end_ = false;    // no raw byte left after those in input_
    bool stream_end_ = false; // the content has been read whole
    bool in_member_ = false;
    std::unique_ptr<inflate_state> state_;
    std::vector<uint8_t> input_;  // compressed bytes not yet inflated: [input_begin_, input_end_)
    size_t input_begin_ = 0;
    size_t input_end_ = 0;
    std::string error_;
};

#endif
