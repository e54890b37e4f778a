#include "messages.h"

#include <cstdio>

Messages::Messages(std::string program, std::string command)
    : program_(std::move(program)), prefix_(command.empty() ? program_ : program_ + " " + command) {}

void Messages::say(const std::string& text) const {
    const std::string line = prefix_ + ": " + text + "\n";
    fputs(line.c_str(), stderr);
    fflush(stderr);
}

int Messages::fail(const std::string& text) const {
    say(text);
    return 1;
}

int Messages::usage_error(const std::string& text) const {
    say(text + " (see " + prefix_ + " --help)");
    return 1;
}

int Messages::version() const {
    printf("%s %s\n", program_.c_str(), program_version());
    return 0;
}

std::string at_line(const std::string& file, size_t line, const std::string& what) {
    return file + ":" + std::to_string(line) + ": " + what;
}

const char* program_version() { return CIMBREL_PLUMBING_VERSION; }
