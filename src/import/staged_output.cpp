#include "staged_output.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

std::string temporary_name(const std::string& final_path) {
    size_t slash = final_path.rfind('/');
    size_t name_at = slash == std::string::npos ? 0 : slash + 1;
    return final_path.substr(0, name_at) + "." + final_path.substr(name_at) + "." +
           std::to_string(getpid()) + ".tmp";
}

std::string Staged_files::add(const std::string& final_path) {
    Entry entry;
    entry.temporary = temporary_name(final_path);
    entry.final_path = final_path;
    unlink(entry.temporary.c_str());
    entries_.push_back(std::move(entry));
    return entries_.back().temporary;
}

bool Staged_files::commit(std::string& error) {
    for (Entry& entry : entries_) {
        if (rename(entry.temporary.c_str(), entry.final_path.c_str()) != 0) {
            error = "cannot rename " + entry.temporary + " to " + entry.final_path + ": " + strerror(errno);
            discard();
            return false;
        }
        entry.committed = true;
    }
    return true;
}

void Staged_files::discard() {
    for (Entry& entry : entries_)
        if (!entry.committed) unlink(entry.temporary.c_str());
    entries_.clear();
}

bool Staged_text::open(const std::string& final_path, std::string& error) {
    final_path_ = final_path;
    std::string temporary = files_.add(final_path);
    file_ = fopen(temporary.c_str(), "w");
    if (file_ == nullptr) error = "cannot write " + final_path + ": " + strerror(errno);
    return file_ != nullptr;
}

void Staged_text::write(std::string_view text) {
    if (file_ != nullptr) fwrite(text.data(), 1, text.size(), file_);
}

bool Staged_text::commit(std::string& error) {
    if (file_ == nullptr) {
        error = "cannot write " + final_path_;
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
        error = "cannot write " + final_path_ + ": " + strerror(saved);
        return false;
    }
    return files_.commit(error);
}

Staged_text::~Staged_text() {
    if (file_ != nullptr) fclose(file_);
}

bool make_folders(const std::string& path, std::string& error) {
    for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        std::string prefix = path.substr(0, at);
        struct stat info;
        if (stat(prefix.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) {
                error = prefix + " exists and is not a folder";
                return false;
            }
        } else if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
            error = "cannot create folder " + prefix + ": " + strerror(errno);
            return false;
        }
        if (at == std::string::npos) return true;
    }
}
