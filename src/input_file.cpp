#include "input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

namespace {

// Compressed bytes held at a time: large enough that inflation runs in long
// stretches, small enough to keep a reader per worker cheap. Fuzzing builds
// hold few, so that short inputs cross refills inside gzip members too.
#ifdef CIMBREL_SMALL_BLOCKS
constexpr size_t input_size = 32;
#else
constexpr size_t input_size = 256 << 10;
#endif
constexpr uint8_t gzip_magic_1 = 0x1f, gzip_magic_2 = 0x8b;
// A member header: magic, method, flags, time, extra flags, system; then
// the fields its flags announce. Flag bits 5-7 are reserved.
constexpr size_t header_start = 4;
constexpr size_t fixed_header_size = 10;
constexpr uint8_t deflate_method = 8;
constexpr uint8_t flag_header_crc = 0x02, flag_extra = 0x04, flag_name = 0x08, flag_comment = 0x10;
constexpr uint8_t reserved_flags = 0xe0;
// isal_inflate takes 32-bit lengths.
constexpr size_t largest_call = 1u << 30;

const char* inflate_error(int status) {
    switch (status) {
    case ISAL_INVALID_WRAPPER: return "corrupt gzip header";
    case ISAL_UNSUPPORTED_METHOD: return "unsupported gzip compression method";
    case ISAL_INCORRECT_CHECKSUM: return "gzip checksum mismatch (corrupt data)";
    case ISAL_NEED_DICT: return "gzip data needs a preset dictionary";
    default: return "corrupt gzip data";
    }
}

}  // namespace

Input_file::Input_file() = default;

Input_file::~Input_file() { close(); }

void Input_file::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    memory_ = nullptr;
    memory_left_ = 0;
    raw_size_ = 0;
    open_ = gzip_ = raw_end_ = stream_end_ = in_member_ = false;
    input_begin_ = input_end_ = 0;
    error_.clear();
}

bool Input_file::open(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = strerror(errno);
        return false;
    }
    struct stat info;
    if (fstat(fd_, &info) != 0 || S_ISDIR(info.st_mode)) {
        close();
        error_ = "is a directory";
        return false;
    }
    posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    raw_size_ = S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : 0;
    open_ = true;
    fill_input();
    gzip_ = input_end_ >= 2 && input_[0] == gzip_magic_1 && input_[1] == gzip_magic_2;
    return true;
}

void Input_file::open_memory(const char* data, size_t size) {
    close();
    memory_ = data;
    memory_left_ = size;
    raw_size_ = size;
    open_ = true;
    fill_input();
    gzip_ = input_end_ >= 2 && input_[0] == gzip_magic_1 && input_[1] == gzip_magic_2;
}

long Input_file::fail(const std::string& what) {
    if (error_.empty()) error_ = what;
    stream_end_ = true;
    return -1;
}

long Input_file::read_raw(uint8_t* buffer, size_t size) {
    if (memory_ != nullptr || fd_ < 0) {
        const size_t n = std::min(size, memory_left_);
        if (n > 0) memcpy(buffer, memory_, n);
        memory_ += n;
        memory_left_ -= n;
        return static_cast<long>(n);
    }
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n >= 0) return static_cast<long>(n);
        if (errno != EINTR) return fail(strerror(errno));
    }
}

// Moves the unread compressed bytes to the front and appends more. False
// when no byte was added (the end of the raw data, or an error).
bool Input_file::fill_input() {
    if (raw_end_ || !error_.empty()) return false;
    if (input_.empty()) input_.resize(input_size);
    if (input_begin_ > 0) {
        std::memmove(input_.data(), input_.data() + input_begin_, input_end_ - input_begin_);
        input_end_ -= input_begin_;
        input_begin_ = 0;
    }
    if (input_end_ == input_.size()) return true;  // still full: nothing to add yet
    const long n = read_raw(input_.data() + input_end_, input_.size() - input_end_);
    if (n <= 0) {
        raw_end_ = true;
        return false;
    }
    input_end_ += static_cast<size_t>(n);
    return true;
}

// Before a gzip member: the end of the stream, zero padding up to the end
// (which gzip itself ignores), or the magic of the next member.
bool Input_file::start_member() {
    while (input_end_ - input_begin_ < header_start && fill_input()) {
    }
    if (!error_.empty()) return false;
    if (input_begin_ == input_end_) {
        stream_end_ = true;
        return false;
    }
    if (input_[input_begin_] == 0) {
        do {
            for (size_t i = input_begin_; i < input_end_; ++i) {
                if (input_[i] != 0) {
                    fail("unexpected bytes after the gzip data");
                    return false;
                }
            }
            input_begin_ = input_end_;
        } while (fill_input());
        stream_end_ = error_.empty();
        return false;
    }
    if (input_end_ - input_begin_ < 2 || input_[input_begin_] != gzip_magic_1 ||
        input_[input_begin_ + 1] != gzip_magic_2) {
        fail("unexpected bytes after the gzip data");
        return false;
    }
    if (!read_member_header()) return false;
    if (!state_) state_ = std::make_unique<inflate_state>();
    isal_inflate_init(state_.get());
    // The header is read above; the inflater checks the trailer's CRC-32
    // and length.
    state_->crc_flag = ISAL_GZIP_NO_HDR_VER;
    in_member_ = true;
    return true;
}

// One byte of a member header, added to its running CRC-32; false when the
// file ends first.
bool Input_file::header_byte(uint8_t& byte, uint32_t& crc) {
    if (input_begin_ == input_end_ && !fill_input()) return false;
    byte = input_[input_begin_++];
    crc = crc32_gzip_refl(crc, &byte, 1);
    return true;
}

// Reads a member header up to its compressed data: the fixed fields, then
// the optional extra field, name, comment and header CRC that its flags
// announce. Checked as gzip checks them: the method must be deflate, the
// reserved flag bits clear (they may announce fields this reader cannot
// skip) and the header CRC, when present, must match.
bool Input_file::read_member_header() {
    uint32_t crc = 0;
    uint8_t fixed[fixed_header_size];
    uint8_t byte = 0;
    const auto truncated = [this] {
        if (error_.empty()) fail("truncated gzip data (the file ends inside a gzip header)");
        return false;
    };
    for (uint8_t& b : fixed)
        if (!header_byte(b, crc)) return truncated();
    const uint8_t flags = fixed[3];
    const char* wrong = fixed[2] != deflate_method ? "unsupported gzip compression method"
                        : (flags & reserved_flags) != 0 ? "corrupt gzip header (reserved flags set)"
                                                          : nullptr;
    if (wrong != nullptr) {
        fail(wrong);
        return false;
    }
    if ((flags & flag_extra) != 0) {
        uint8_t low = 0, high = 0;
        if (!header_byte(low, crc) || !header_byte(high, crc)) return truncated();
        for (size_t left = low | size_t(high) << 8; left > 0; --left)
            if (!header_byte(byte, crc)) return truncated();
    }
    for (const uint8_t field : {flag_name, flag_comment}) {
        if ((flags & field) == 0) continue;
        do {
            if (!header_byte(byte, crc)) return truncated();
        } while (byte != 0);
    }
    if ((flags & flag_header_crc) != 0) {
        const uint32_t expected = crc & 0xffff;
        uint8_t low = 0, high = 0;
        if (!header_byte(low, crc) || !header_byte(high, crc)) return truncated();
        if ((low | uint32_t(high) << 8) != expected) {
            fail("gzip header checksum mismatch (corrupt header)");
            return false;
        }
    }
    return true;
}

// Inflates into buffer until some output is made, a member ends or the
// input runs out. Input that ends inside a member is a truncated file.
long Input_file::inflate_some(char* buffer, size_t size) {
    size = std::min(size, largest_call);
    while (!stream_end_) {
        if (!in_member_ && !start_member()) break;
        state_->next_in = input_.data() + input_begin_;
        state_->avail_in = static_cast<uint32_t>(input_end_ - input_begin_);
        state_->next_out = reinterpret_cast<uint8_t*>(buffer);
        state_->avail_out = static_cast<uint32_t>(size);
        const int status = isal_inflate(state_.get());
        const size_t consumed = (input_end_ - input_begin_) - state_->avail_in;
        input_begin_ += consumed;
        const long produced = static_cast<long>(size - state_->avail_out);
        if (status < 0) return fail(inflate_error(status));
        if (state_->block_state == ISAL_BLOCK_FINISH) in_member_ = false;
        if (produced > 0) return produced;
        if (!in_member_ || consumed > 0) continue;
        // No progress: the member needs bytes that are not there.
        if (!fill_input()) {
            if (!error_.empty()) return -1;
            return fail("truncated gzip data (the file ends inside a compressed block)");
        }
    }
    return error_.empty() ? 0 : -1;
}

long Input_file::read(char* buffer, size_t size) {
    if (!open_ || size == 0) return 0;
    if (!error_.empty()) return -1;
    if (gzip_) return inflate_some(buffer, size);
    if (input_begin_ < input_end_) {  // the bytes read to recognise the format
        const size_t n = std::min(size, input_end_ - input_begin_);
        memcpy(buffer, input_.data() + input_begin_, n);
        input_begin_ += n;
        return static_cast<long>(n);
    }
    if (raw_end_) return 0;
    const long n = read_raw(reinterpret_cast<uint8_t*>(buffer), size);
    if (n == 0) raw_end_ = true;
    return n;
}
