// Outputs that appear whole or not at all: every file is written under a
// temporary name in its own folder (".NAME.PID.tmp") and renamed to its
// final name only when everything is written; a failure, or leaving the
// scope without committing, removes the temporary files.
#ifndef CIMBREL_IMPORT_STAGED_OUTPUT_H
#define CIMBREL_IMPORT_STAGED_OUTPUT_H

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// A set of files staged together (the data files of one import).
class Staged_files {
public:
    Staged_files() = default;
    ~Staged_files() { discard(); }
    Staged_files(const Staged_files&) = delete;
    Staged_files& operator=(const Staged_files&) = delete;

    // Registers final_path and returns its temporary path; a leftover
    // temporary file of that name is removed.
    std::string add(const std::string& final_path);
    // Renames every temporary file to its final name. False, with error
    // naming the file, when a rename fails (the rest are then removed).
    bool commit(std::string& error);
    // Removes the temporary files not yet committed.
    void discard();

private:
    struct Entry {
        std::string temporary;
        std::string final_path;
        bool committed = false;
    };
    std::vector<Entry> entries_;
};

// One text file written through a stdio stream under its temporary name.
class Staged_text {
public:
    // False, with error, when the temporary file cannot be created.
    bool open(const std::string& final_path, std::string& error);
    void write(std::string_view text);
    // Closes, checks that everything was written, renames. False with error.
    bool commit(std::string& error);
    ~Staged_text();

private:
    Staged_files files_;
    std::string final_path_;
    FILE* file_ = nullptr;
};

// The temporary name of a final path: ".NAME.PID.tmp" in the same folder.
std::string temporary_name(const std::string& final_path);

// Creates a folder and its missing parents. False, with error, when one
// cannot be made or a non-folder stands in the way.
bool make_folders(const std::string& path, std::string& error);

#endif
