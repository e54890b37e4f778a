#include "gzip_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <isa-l/igzip_lib.h>

Gzip_compressor::Gzip_compressor()
    : stream_(new isal_zstream), level_buffer_(ISAL_DEF_LVL1_DEFAULT) {}

Gzip_compressor::~Gzip_compressor() = default;

bool Gzip_compressor::compress(std::string_view data, std::string& out) {
    if (data.size() > UINT32_MAX / 2) return false;  // blocks are far smaller
    isal_zstream& stream = *stream_;
    isal_deflate_init(&stream);
    stream.level = 1;
    stream.level_buf = level_buffer_.data();
    stream.level_buf_size = static_cast<uint32_t>(level_buffer_.size());
    stream.gzip_flag = IGZIP_GZIP;
    stream.end_of_stream = 1;
    stream.flush = NO_FLUSH;
    stream.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uint32_t>(data.size());
    // Text compresses well; the output grows when a first guess is short.
    out.resize(data.size() / 2 + 1024);
    size_t written = 0;
    for (;;) {
        stream.next_out = reinterpret_cast<uint8_t*>(&out[written]);
        stream.avail_out = static_cast<uint32_t>(out.size() - written);
        if (isal_deflate(&stream) != COMP_OK) return false;
        written = out.size() - stream.avail_out;
        if (stream.internal_state.state == ZSTATE_END) break;
        out.resize(out.size() * 2);
    }
    out.resize(written);
    return true;
}

bool append_to_file(const std::string& path, std::string_view data, std::string& error) {
    FILE* file = fopen(path.c_str(), "ab");
    if (file == nullptr) {
        error = "cannot open " + path + " for writing: " + strerror(errno);
        return false;
    }
    bool written = fwrite(data.data(), 1, data.size(), file) == data.size();
    int saved = errno;
    if (fclose(file) != 0 && written) {
        written = false;
        saved = errno;
    }
    if (!written) error = "cannot write " + path + ": " + strerror(saved);
    return written;
}
