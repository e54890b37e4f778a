// gzip output for the data files the importer writes: each block of text is
// compressed (ISA-L, level 1) into one complete gzip member and appended to
// its file, so a file written block by block is a valid multi-member gzip
// file that any gzip reader, cimbrel's included, reads whole.
#ifndef CIMBREL_IMPORT_GZIP_OUTPUT_H
#define CIMBREL_IMPORT_GZIP_OUTPUT_H

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct isal_zstream;

// One compression stream; one per thread (it keeps about 300 KB of state).
class Gzip_compressor {
public:
    Gzip_compressor();
    ~Gzip_compressor();
    Gzip_compressor(const Gzip_compressor&) = delete;
    Gzip_compressor& operator=(const Gzip_compressor&) = delete;

    // Replaces out with data compressed as one gzip member. False only when
    // the compressor reports an error (out then holds no complete member).
    bool compress(std::string_view data, std::string& out);

private:
    std::unique_ptr<isal_zstream> stream_;
    std::vector<unsigned char> level_buffer_;
};

// Appends data to the existing file at path (a staged file), opening and
// closing it within the call. False, with error naming the file and the
// reason, when it is missing or cannot be written whole (a full disk, say).
bool append_to_file(const std::string& path, std::string_view data, std::string& error);

#endif
