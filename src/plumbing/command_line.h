// Command lines of the companion programs, read the way samtools and
// bcftools read theirs:
//   - "--name VALUE" and "--name=VALUE" for an option that takes a value (a
//     later one replaces an earlier one); "--name" alone for a flag;
//   - "-h"/"--help" and "--version" are known to every program;
//   - options and positional arguments may come in any order; "--" ends the
//     options (everything after it is positional), and "-" alone is a
//     positional argument (standard input or output by convention).
// A program with subcommands hands its arguments to run_subcommand, which
// calls the subcommand named first with the arguments after its name.
#ifndef CIMBREL_PLUMBING_COMMAND_LINE_H
#define CIMBREL_PLUMBING_COMMAND_LINE_H

#include <functional>
#include <map>
#include <string>
#include <vector>

// The options a command knows, with their leading "--".
struct Option_rules {
    std::vector<std::string> with_value;  // "--out", ...
    std::vector<std::string> flags;       // options that take no value
    bool quote_names = false;             // messages write option names as '--name'
};

struct Command_line {
    std::vector<std::string> inputs;            // positional arguments, in order
    std::map<std::string, std::string> values;  // "--out" -> its value; a flag -> ""
    bool help = false;
    bool version = false;

    bool has(const std::string& option) const { return values.count(option) > 0; }
    // The option's value, "" when it was not given.
    std::string get(const std::string& option) const;
};

// Reads args against rules into line. False, with error ("unknown option
// --x", "option --x needs a value", "option --x takes no value"), when an
// argument does not fit.
bool parse_command_line(const std::vector<std::string>& args, const Option_rules& rules, Command_line& line,
                        std::string& error);

// A subcommand: its name and what runs it on the arguments after its name,
// returning the exit status.
struct Subcommand {
    std::string name;
    std::function<int(const std::vector<std::string>&)> run;
};

// Runs the subcommand that args (the arguments after the program name)
// name first. "-h"/"--help" print usage on standard output (status 0),
// "--version" the version; no command or an unknown one prints usage on
// standard error, after "PROGRAM: unknown command "NAME"" (status 1).
int run_subcommand(const std::string& program, const char* usage, const std::vector<Subcommand>& commands,
                   std::vector<std::string> args);

// "a, b,c" -> {"a", "b", "c"}: cells trimmed of blanks, empty ones dropped.
std::vector<std::string> split_list(const std::string& text);

#endif
