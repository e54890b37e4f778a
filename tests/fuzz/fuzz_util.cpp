#include "fuzz_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

std::string output_path;

void remove_scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(scratch_dir(), ignored);
}

std::string make_scratch() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/cimbrel-fuzz-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        perror("cannot create the fuzzing scratch folder");
        abort();
    }
    return pattern;
}

// Sends file descriptor 1 to a file of the scratch folder (once).
void redirect_output() {
    fflush(stdout);
    // In a folder of its own, so that no reader can be pointed at the file
    // while messages are being written to it.
    const std::string folder = scratch_dir() + "/output";
    if (mkdir(folder.c_str(), 0700) != 0) {
        perror(folder.c_str());
        abort();
    }
    output_path = folder + "/stdout.txt";
    int fd = open(output_path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) {
        perror("cannot redirect standard output");
        abort();
    }
    close(fd);
}

}  // namespace

const std::string& scratch_dir() {
    static const std::string dir = [] {
        std::string made = make_scratch();
        return made;
    }();
    static const bool registered = atexit(remove_scratch) == 0;
    (void)registered;
    return dir;
}

std::string write_scratch(const std::string& name, std::string_view text) {
    std::string path = scratch_dir() + "/" + name;
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr || fwrite(text.data(), 1, text.size(), file) != text.size() || fclose(file) != 0) {
        perror(path.c_str());
        abort();
    }
    return path;
}

std::string write_scratch(const std::string& name, const uint8_t* data, size_t size) {
    return write_scratch(name, std::string_view(reinterpret_cast<const char*>(data), size));
}

std::string gzip_text(std::string_view text) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        abort();
    std::string out(deflateBound(&stream, text.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) abort();
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

void restart_output() {
    if (output_path.empty()) redirect_output();
    fflush(stdout);
    if (ftruncate(STDOUT_FILENO, 0) != 0 || lseek(STDOUT_FILENO, 0, SEEK_SET) != 0) {
        perror("cannot empty the captured standard output");
        abort();
    }
}

size_t printed_bytes() {
    fflush(stdout);
    struct stat info;
    return fstat(STDOUT_FILENO, &info) == 0 ? static_cast<size_t>(info.st_size) : 0;
}

void spill_values(bool spill) {
    if (spill)
        setenv("CIMBREL_MEMORY", "1", 1);
    else
        unsetenv("CIMBREL_MEMORY");
}

void fuzz_failure(const char* file, int line, const char* condition, const char* what) {
    fprintf(stderr, "%s:%d: broken promise: %s (%s)\n", file, line, what, condition);
    abort();
}
