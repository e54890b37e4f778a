// Command-line reading for the subcommands: options of the form "--name
// VALUE" or "--name=VALUE" (a later one replaces an earlier one), -h/--help,
// "--" ending the options, and positional arguments. Messages go to
// standard error as "cimbrel-import SUB: what", one call per message.
#ifndef CIMBREL_IMPORT_CLI_H
#define CIMBREL_IMPORT_CLI_H

#include <map>
#include <string>
#include <vector>

struct Command_line {
    std::vector<std::string> inputs;            // positional arguments
    std::map<std::string, std::string> values;  // "--out" -> its value
    bool help = false;

    bool has(const std::string& option) const { return values.count(option) > 0; }
    // The option's value, "" when it was not given.
    std::string get(const std::string& option) const;
};

// Reads args against the options that take a value (value_options, with
// their "--"). False, with error, for an unknown option or one without its value.
bool parse_command_line(const std::vector<std::string>& args, const std::vector<std::string>& value_options,
                        Command_line& line, std::string& error);

// "a, b,c" -> {"a", "b", "c"} (cells trimmed, empty ones dropped).
std::vector<std::string> split_list(const std::string& text);

// Writes "cimbrel-import SUB: text" and a line end to standard error.
void say(const std::string& subcommand, const std::string& text);

// A usage error: the message, a pointer to --help; returns exit status 1.
int usage_error(const std::string& subcommand, const std::string& text);

#endif
