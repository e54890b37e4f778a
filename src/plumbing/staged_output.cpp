#include "staged_output.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cleanup.h"

namespace {

// Links followed before a path is taken for a loop.
constexpr int most_links = 40;

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Links in /proc (what /dev/stdout and /dev/fd/N lead to) name open files,
// whatever their text says: they are written through, never replaced.
// descriptor is set when the link names a descriptor of this process.
bool in_proc(const std::string& link, int& descriptor) {
    char* real = realpath(folder_of(link).c_str(), nullptr);
    const std::string folder = real == nullptr ? "" : real;
    free(real);
    descriptor = -1;
    if (folder == "/proc/" + std::to_string(getpid()) + "/fd") {
        const std::string name = link.substr(link.rfind('/') + 1);
        if (!name.empty() && name.size() < 10 && name.find_first_not_of("0123456789") == std::string::npos)
            descriptor = std::stoi(name);
    }
    return folder.compare(0, 6, "/proc/") == 0;
}

// The target for a path that exists and is not a link (info from lstat,
// or from stat for an open file).
bool target_of(const std::string& path, const std::string& at, const struct stat& info, Output_target& target,
               std::string& error) {
    const char* refused = S_ISDIR(info.st_mode)   ? "is a folder"
                          : S_ISBLK(info.st_mode) ? "is a block device, which is never written to"
                          : S_ISSOCK(info.st_mode) ? "is a socket"
                                                   : nullptr;
    if (refused != nullptr) {
        error = path + ": " + refused;
        return false;
    }
    target.path = at;
    target.through = !S_ISREG(info.st_mode);
    return true;
}

std::string hidden_name(const std::string& final_path, const char* suffix) {
    const size_t slash = final_path.rfind('/');
    const size_t name_at = slash == std::string::npos ? 0 : slash + 1;
    return final_path.substr(0, name_at) + "." + final_path.substr(name_at) + "." + std::to_string(getpid()) + suffix;
}

}  // namespace

std::string temporary_name(const std::string& final_path) { return hidden_name(final_path, ".tmp"); }

bool resolve_output(const std::string& path, Output_target& target, std::string& error) {
    std::string at = path;
    for (int links = 0; links <= most_links; ++links) {
        struct stat info;
        if (lstat(at.c_str(), &info) != 0) {  // a new file; creating it reports what stands in the way
            target = Output_target{at, false};
            return true;
        }
        if (!S_ISLNK(info.st_mode)) return target_of(path, at, info, target, error);
        int descriptor = -1;
        if (in_proc(at, descriptor)) {
            if (stat(at.c_str(), &info) == 0 && !target_of(path, at, info, target, error)) return false;
            target = Output_target{at, true, descriptor};
            return true;
        }
        char text[PATH_MAX];
        const ssize_t size = readlink(at.c_str(), text, sizeof text);
        if (size <= 0 || size == static_cast<ssize_t>(sizeof text)) break;
        const std::string next(text, static_cast<size_t>(size));
        at = next[0] == '/' ? next : folder_of(at) + "/" + next;
    }
    error = path + ": cannot follow its symbolic links";
    return false;
}

bool check_not_input(const std::string& output, const std::vector<std::string>& inputs, std::string& error) {
    struct stat out;
    if (stat(output.c_str(), &out) != 0) return true;
    for (const std::string& input : inputs) {
        struct stat in;
        if (input.empty() || stat(input.c_str(), &in) != 0 || in.st_dev != out.st_dev || in.st_ino != out.st_ino)
            continue;
        error = output + ": is the input " + input + ", which is never overwritten";
        return false;
    }
    return true;
}

bool Staged_files::make_folders(const std::string& path, std::string& error) {
    for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string prefix = path.substr(0, at);
        struct stat info;
        if (stat(prefix.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) {
                error = prefix + " exists and is not a folder";
                return false;
            }
        } else if (mkdir(prefix.c_str(), 0777) == 0) {
            folders_.push_back(Folder{prefix, remove_on_signal(prefix, true)});
        } else if (errno != EEXIST) {
            error = "cannot create folder " + prefix + ": " + strerror(errno);
            return false;
        }
        if (at == std::string::npos) return true;
    }
}

bool Staged_files::add(const std::string& final_path, std::string& temporary, std::string& error) {
    Output_target target;
    if (!resolve_output(final_path, target, error)) return false;
    if (target.through) {
        error = final_path + ": is a FIFO or a device, not a file that can be replaced";
        return false;
    }
    for (const Entry& entry : entries_)
        if (entry.final_path == target.path) {
            error = final_path + ": is written twice";
            return false;
        }
    Entry entry;
    entry.final_path = target.path;
    entry.temporary = temporary_name(target.path);
    entry.cleanup = remove_on_signal(entry.temporary);
    unlink(entry.temporary.c_str());  // a leftover of an earlier run of the same id
    const int fd = open(entry.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = final_path + ": cannot write " + noun_ + ": " + strerror(errno);
        keep_on_signal(entry.cleanup);
        return false;
    }
    close(fd);
    temporary = entry.temporary;
    entries_.push_back(std::move(entry));
    return true;
}

// Keeps the file at the final path under a hidden name (a second link when
// the file system allows, so that the final path never goes missing), then
// renames the temporary file over it. False, with errno set, on failure.
bool Staged_files::place(Entry& entry) {
    struct stat info;
    if (lstat(entry.final_path.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) {  // came in the way since add: never moved aside
            errno = S_ISDIR(info.st_mode) ? EISDIR : EEXIST;
            return false;
        }
        entry.backup = hidden_name(entry.final_path, ".old");
        unlink(entry.backup.c_str());
        entry.linked = link(entry.final_path.c_str(), entry.backup.c_str()) == 0;
        if (!entry.linked && rename(entry.final_path.c_str(), entry.backup.c_str()) != 0) {
            entry.backup.clear();
            return false;
        }
    }
    if (rename(entry.temporary.c_str(), entry.final_path.c_str()) != 0) return false;
    entry.placed = true;
    return true;
}

// Undoes place: the final path holds what it held before.
void Staged_files::put_back(Entry& entry) {
    if (entry.backup.empty()) {
        if (entry.placed) unlink(entry.final_path.c_str());
    } else if (!entry.placed && entry.linked) {
        unlink(entry.backup.c_str());  // the final path still holds the file
    } else {
        rename(entry.backup.c_str(), entry.final_path.c_str());
    }
    entry.backup.clear();
    entry.placed = false;
}

bool Staged_files::commit(std::string& error) {
    Signals_held held;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (place(entries_[i])) continue;
        error = entries_[i].final_path + ": cannot write " + noun_ + ": " + strerror(errno);
        for (size_t j = i + 1; j-- > 0;) put_back(entries_[j]);
        discard();
        return false;
    }
    for (Entry& entry : entries_) {
        if (!entry.backup.empty()) unlink(entry.backup.c_str());
        keep_on_signal(entry.cleanup);
    }
    for (Folder& folder : folders_) keep_on_signal(folder.cleanup);
    entries_.clear();
    folders_.clear();
    return true;
}

void Staged_files::discard() {
    for (Entry& entry : entries_) {
        unlink(entry.temporary.c_str());
        keep_on_signal(entry.cleanup);
    }
    for (size_t i = folders_.size(); i-- > 0;) {
        rmdir(folders_[i].path.c_str());
        keep_on_signal(folders_[i].cleanup);
    }
    entries_.clear();
    folders_.clear();
}

bool Staged_text::open(const std::string& path, std::string& error) {
    path_ = path;
    Output_target target;
    if (!resolve_output(path, target, error)) return false;
    if (target.through) {
        // An open descriptor of ours is shared, so that what it has written
        // and what the program writes to it later stay in order.
        const int fd = target.descriptor >= 0 ? fcntl(target.descriptor, F_DUPFD_CLOEXEC, 0)
                                              : ::open(target.path.c_str(), O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC);
        file_ = fd < 0 ? nullptr : fdopen(fd, "a");
        if (file_ == nullptr && fd >= 0) close(fd);
    } else {
        std::string temporary;
        if (!files_.add(target.path, temporary, error)) return false;
        file_ = fopen(temporary.c_str(), "w");
    }
    if (file_ == nullptr) error = path + ": cannot write " + noun_ + ": " + strerror(errno);
    through_ = target.through;
    return file_ != nullptr;
}

void Staged_text::write(std::string_view text) {
    if (file_ != nullptr) fwrite(text.data(), 1, text.size(), file_);
}

bool Staged_text::commit(std::string& error) {
    if (file_ == nullptr) {
        error = path_ + ": cannot write " + noun_;
        return false;
    }
    bool sound = !ferror(file_);
    int saved = errno;
    if (fclose(file_) != 0 && sound) {
        sound = false;
        saved = errno;
    }
    file_ = nullptr;
    if (!sound) {
        error = path_ + ": cannot write " + noun_ + ": " + strerror(saved);
        files_.discard();
        return false;
    }
    return through_ || files_.commit(error);
}

Staged_text::~Staged_text() {
    if (file_ != nullptr) fclose(file_);
}
