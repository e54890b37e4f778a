// Outputs that appear whole or not at all, and never in place of what is
// not theirs.
//
// A file output is written under a temporary name in its final folder
// (".NAME.PID.tmp") and renamed to its final name only when everything is
// written; a failure, a signal (see cleanup.h) or leaving the scope without
// committing removes the temporary files, and the folders made for them.
//
// What an output path may name:
//   - nothing yet, or a regular file: staged as above; an existing file is
//     replaced atomically;
//   - a symbolic link: followed; its final target is what gets replaced,
//     atomically, and the link stays;
//   - a FIFO, a character device (/dev/null, a terminal) or a file that is
//     already open (/dev/stdout, /dev/fd/N, which share the program's own
//     descriptor): written through directly, in order, so that
//     "--out /dev/stdout" and pipes work; there is nothing to stage, so a
//     failure can leave part of the output there;
//   - a folder, a block device or a socket: refused.
// A special file is never replaced by a regular one. An output that names
// one of the run's inputs, however spelled (links, "./", hard links), is
// refused before anything is written: see check_not_input.
#ifndef CIMBREL_PLUMBING_STAGED_OUTPUT_H
#define CIMBREL_PLUMBING_STAGED_OUTPUT_H

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

struct Cleanup_entry;

// Where output to a path goes.
struct Output_target {
    std::string path;      // the file to write: the path, or the final target of its links
    bool through = false;  // written directly (FIFO, character device, open file)
    int descriptor = -1;   // when through: the program's own open descriptor it names (/dev/stdout: 1)
};

// Resolves path as above. False, with error "PATH: why", for a refused target.
bool resolve_output(const std::string& path, Output_target& target, std::string& error);

// False, with error "OUTPUT: is the input INPUT, which is never overwritten",
// when output names the same file as one of inputs (same device and inode).
bool check_not_input(const std::string& output, const std::vector<std::string>& inputs, std::string& error);

// A set of files staged together (the files of one study) and the folders
// made for them. Messages read "PATH: cannot write NOUN: reason".
class Staged_files {
public:
    explicit Staged_files(std::string noun = "the file") : noun_(std::move(noun)) {}
    ~Staged_files() { discard(); }
    Staged_files(const Staged_files&) = delete;
    Staged_files& operator=(const Staged_files&) = delete;

    // Creates a folder and its missing parents; the ones made here are
    // removed again when the set is discarded. False, with error.
    bool make_folders(const std::string& path, std::string& error);
    // Registers final_path (a regular file or none yet; links followed) and
    // creates its empty temporary file, whose name goes to temporary.
    // False, with error, for a refused target or an unwritable folder.
    bool add(const std::string& final_path, std::string& temporary, std::string& error);
    // Puts every file in place. All or nothing: when a rename fails, the
    // files already put in place are put back as they were (kept under a
    // hidden name until every rename succeeded) and the set is discarded.
    // Signals wait until this is done. False, with error.
    bool commit(std::string& error);
    // Removes the temporary files, and the folders made, when not committed.
    void discard();

private:
    struct Entry {
        std::string temporary, final_path, backup;  // backup: the replaced file until commit ends
        Cleanup_entry* cleanup = nullptr;
        bool placed = false;
        bool linked = false;  // backup is a second link to the replaced file
    };
    struct Folder {
        std::string path;
        Cleanup_entry* cleanup = nullptr;
    };
    bool place(Entry& entry);
    void put_back(Entry& entry);

    std::string noun_;
    std::vector<Entry> entries_;
    std::vector<Folder> folders_;
    bool committed_ = false;
};

// One text file written through a stdio stream, staged unless written through.
class Staged_text {
public:
    explicit Staged_text(std::string noun = "the file") : files_(noun), noun_(std::move(noun)) {}
    ~Staged_text();
    Staged_text(const Staged_text&) = delete;
    Staged_text& operator=(const Staged_text&) = delete;

    // False, with error, when the output is refused or cannot be created.
    bool open(const std::string& path, std::string& error);
    void write(std::string_view text);
    // Closes, checks that everything was written, puts the file in place. False with error.
    bool commit(std::string& error);

private:
    Staged_files files_;
    std::string noun_;
    std::string path_;
    FILE* file_ = nullptr;
    bool through_ = false;
};

// The temporary name of a final path: ".NAME.PID.tmp" in the same folder.
std::string temporary_name(const std::string& final_path);

#endif
