#include "test_util.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <isa-l/igzip_lib.h>

Temp_dir::Temp_dir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/cimbrel_test_XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        perror("mkdtemp");
        abort();
    }
    path_ = buffer.data();
}

Temp_dir::~Temp_dir() {
    if (getenv("CIMBREL_KEEP_TMP") != nullptr) {
        std::cerr << "kept " << path_ << "\n";
        return;
    }
    std::string command = "rm -rf '" + path_ + "'";
    if (system(command.c_str()) != 0) std::cerr << "could not remove " << path_ << "\n";
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_text(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

bool file_exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}


Run_result run_cimbrel(const std::vector<std::string>& args, const std::string& dir) {
    return run_program(CIMBREL_BINARY, args, dir);
}

Run_result run_program(const std::string& program, const std::vector<std::string>& args, const std::string& dir) {
    Temp_dir capture;
    std::string out_path = capture.file("out"), err_path = capture.file("err");
    Run_result result;
    fflush(nullptr);  // a child must not write the parent's buffered output again
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        FILE* out = freopen(out_path.c_str(), "w", stdout);
        FILE* err = freopen(err_path.c_str(), "w", stderr);
        if (out == nullptr || err == nullptr) _exit(127);
        std::vector<char*> argv;
        std::string binary = program;
        argv.push_back(&binary[0]);
        std::vector<std::string> copies(args);
        for (auto& a : copies) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = read_text(out_path);
    result.err = read_text(err_path);
    return result;
}

namespace {

// "[Www Mmm dd hh:mm:ss yyyy]" as strftime's %c writes it in the C locale.
bool is_stamp(const std::string& text, size_t at) {
    static const char shape[] = "[Aaa Aaa _9 99:99:99 9999]";
    const size_t length = sizeof(shape) - 1;
    if (at + length > text.size()) return false;
    for (size_t i = 0; i < length; ++i) {
        char c = text[at + i], want = shape[i];
        bool ok = (want == 'A' || want == 'a') ? isalpha(static_cast<unsigned char>(c))
                  : want == '9' ? isdigit(static_cast<unsigned char>(c))
                  : want == '_' ? (c == ' ' || isdigit(static_cast<unsigned char>(c)))
                                : c == want;
        if (!ok) return false;
    }
    return true;
}

}  // namespace

std::string mask_time_stamps(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (is_stamp(text, i)) {
            out += "[TIME]";
            i += 26;
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string capture_stdout(const std::function<void()>& body) {
    fflush(stdout);
    std::cout.flush();
    Temp_dir capture;
    std::string path = capture.file("stdout");
    int saved = dup(fileno(stdout));
    FILE* redirected = freopen(path.c_str(), "w", stdout);
    if (redirected == nullptr) abort();
    body();
    fflush(stdout);
    std::cout.flush();
    dup2(saved, fileno(stdout));
    close(saved);
    clearerr(stdout);
    return read_text(path);
}

unsigned test_seed() {
    const char* text = getenv("CIMBREL_TEST_SEED");
    unsigned seed = text != nullptr ? static_cast<unsigned>(strtoul(text, nullptr, 10))
                                    : std::random_device{}();
    std::cout << "seed " << seed << " (set CIMBREL_TEST_SEED to repeat)\n";
    return seed;
}

std::string gzip_text(const std::string& text, size_t member_size) {
    std::string out;
    if (member_size == 0) member_size = text.size() + 1;
    size_t first = 0;
    do {
        const size_t size = std::min(member_size, text.size() - first);
        isal_zstream stream;
        isal_deflate_stateless_init(&stream);
        stream.gzip_flag = IGZIP_GZIP;
        stream.end_of_stream = 1;
        stream.flush = NO_FLUSH;
        std::vector<uint8_t> level_buffer(ISAL_DEF_LVL1_DEFAULT);
        stream.level = 1;
        stream.level_buf = level_buffer.data();
        stream.level_buf_size = static_cast<uint32_t>(level_buffer.size());
        std::vector<uint8_t> member(size + size / 2 + 1024);
        stream.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(text.data() + first));
        stream.avail_in = static_cast<uint32_t>(size);
        stream.next_out = member.data();
        stream.avail_out = static_cast<uint32_t>(member.size());
        if (isal_deflate_stateless(&stream) != COMP_OK) return std::string();
        out.append(reinterpret_cast<char*>(member.data()), stream.total_out);
        first += size;
    } while (first < text.size());
    return out;
}
