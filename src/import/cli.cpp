#include "cli.h"

#include <algorithm>
#include <cstdio>

#include "delimited.h"

std::string Command_line::get(const std::string& option) const {
    auto at = values.find(option);
    return at == values.end() ? std::string() : at->second;
}

bool parse_command_line(const std::vector<std::string>& args, const std::vector<std::string>& value_options,
                        Command_line& line, std::string& error) {
    bool options_end = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_end || arg.size() < 2 || arg[0] != '-') {
            line.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_end = true;
        } else if (arg == "-h" || arg == "--help") {
            line.help = true;
        } else {
            size_t equals = arg.find('=');
            std::string name = arg.substr(0, equals);
            if (std::find(value_options.begin(), value_options.end(), name) == value_options.end()) {
                error = "unknown option " + name;
                return false;
            }
            if (equals == std::string::npos && i + 1 == args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            line.values[name] = equals == std::string::npos ? args[++i] : arg.substr(equals + 1);
        }
    }
    return true;
}

std::vector<std::string> split_list(const std::string& text) {
    std::vector<std::string> names;
    size_t at = 0;
    for (;;) {
        size_t comma = text.find(',', at);
        std::string_view cell = trim(std::string_view(text).substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (!cell.empty()) names.emplace_back(cell);
        if (comma == std::string::npos) return names;
        at = comma + 1;
    }
}

void say(const std::string& subcommand, const std::string& text) {
    std::string line = "cimbrel-import " + subcommand + ": " + text + "\n";
    fputs(line.c_str(), stderr);
    fflush(stderr);
}

int usage_error(const std::string& subcommand, const std::string& text) {
    say(subcommand, text + " (see cimbrel-import " + subcommand + " --help)");
    return 1;
}
