#include "gzip_output.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

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
    // Never created here: a file removed meanwhile (by the cleanup of a
    // stopping signal) must not come back.
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + " for writing: " + strerror(errno);
        return false;
    }
    int failure = 0;
    for (size_t done = 0; failure == 0 && done < data.size();) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n > 0) done += static_cast<size_t>(n);
        else if (n == 0) failure = EIO;
        else if (errno != EINTR) failure = errno;
    }
    if (close(fd) != 0 && failure == 0) failure = errno;
    if (failure != 0) error = "cannot write " + path + ": " + strerror(failure);
    return failure == 0;
}
