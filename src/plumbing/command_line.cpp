#include "command_line.h"

#include <algorithm>
#include <cstdio>

#include "messages.h"

namespace {

bool listed(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::string shown(const Option_rules& rules, const std::string& name) {
    return rules.quote_names ? "'" + name + "'" : name;
}

// Reads the option at args[i] (moving i past its value). False with error.
bool read_option(const std::vector<std::string>& args, size_t& i, const Option_rules& rules, Command_line& line,
                 std::string& error) {
    const std::string& arg = args[i];
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    if (listed(rules.flags, name)) {
        if (equals != std::string::npos) error = "option " + shown(rules, name) + " takes no value";
        else line.values[name].clear();
        return error.empty();
    }
    if (!listed(rules.with_value, name)) {
        error = "unknown option " + shown(rules, name);
        return false;
    }
    if (equals == std::string::npos && i + 1 == args.size()) {
        error = "option " + shown(rules, name) + " needs a value";
        return false;
    }
    line.values[name] = equals == std::string::npos ? args[++i] : arg.substr(equals + 1);
    return true;
}

}  // namespace

std::string Command_line::get(const std::string& option) const {
    auto at = values.find(option);
    return at == values.end() ? std::string() : at->second;
}

bool parse_command_line(const std::vector<std::string>& args, const Option_rules& rules, Command_line& line,
                        std::string& error) {
    bool options_end = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_end || arg.size() < 2 || arg[0] != '-') line.inputs.push_back(arg);
        else if (arg == "--") options_end = true;
        else if (arg == "-h" || arg == "--help") line.help = true;
        else if (arg == "--version") line.version = true;
        else if (!read_option(args, i, rules, line, error)) return false;
    }
    return true;
}

int run_subcommand(const std::string& program, const char* usage, const std::vector<Subcommand>& commands,
                   std::vector<std::string> args) {
    const std::string name = args.empty() ? "" : args[0];
    if (name == "-h" || name == "--help") {
        fputs(usage, stdout);
        return 0;
    }
    if (name == "--version") return Messages(program).version();
    for (const Subcommand& command : commands)
        if (command.name == name) return command.run(std::vector<std::string>(args.begin() + 1, args.end()));
    if (!name.empty()) Messages(program).say("unknown command \"" + name + "\"\n");
    fputs(usage, stderr);
    return 1;
}

std::vector<std::string> split_list(const std::string& text) {
    static const char blanks[] = " \t\r\n\v\f";
    std::vector<std::string> names;
    size_t at = 0;
    for (;;) {
        const size_t comma = std::min(text.find(',', at), text.size());
        const std::string cell = text.substr(at, comma - at);
        const size_t first = cell.find_first_not_of(blanks);
        if (first != std::string::npos) names.push_back(cell.substr(first, cell.find_last_not_of(blanks) + 1 - first));
        if (comma == text.size()) return names;
        at = comma + 1;
    }
}
