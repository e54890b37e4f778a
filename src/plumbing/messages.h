// Messages of the companion programs: one line each on standard error,
// "PROGRAM COMMAND: text" (or "PROGRAM: text" for a program without
// subcommands), where text about an input reads "FILE:LINE: what is wrong"
// or "FILE: what is wrong". Each message is written with one call and
// flushed, so that lines of concurrent programs sharing a terminal stay whole.
#ifndef CIMBREL_PLUMBING_MESSAGES_H
#define CIMBREL_PLUMBING_MESSAGES_H

#include <cstddef>
#include <string>

class Messages {
public:
    explicit Messages(std::string program, std::string command = "");

    // "PROGRAM COMMAND: text" and a line end on standard error.
    void say(const std::string& text) const;
    // Says text; returns exit status 1.
    int fail(const std::string& text) const;
    // Says "text (see PROGRAM COMMAND --help)"; returns exit status 1.
    int usage_error(const std::string& text) const;
    // Prints "PROGRAM VERSION" on standard output; returns exit status 0.
    int version() const;

private:
    std::string program_;
    std::string prefix_;  // "PROGRAM COMMAND"
};

// "FILE:LINE: what".
std::string at_line(const std::string& file, size_t line, const std::string& what);

// The version of the programs, as released ("1.2.1").
const char* program_version();

#endif
