// cimbrel-import: companion program that turns the files analysts hold (a
// beta matrix, an Excel sample sheet, the vendor's manifest, UCSC's CpG
// islands) into cimbrel's inputs. The entry point only dispatches to the
// subcommand; see commands.h.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "messages.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string command = args.empty() ? "" : args[0];
    if (command == "-h" || command == "--help") {
        fputs(import_usage(), stdout);
        return 0;
    }
    if (command == "--version") return Messages("cimbrel-import").version();
    args.erase(args.begin(), args.begin() + (args.empty() ? 0 : 1));
    if (command == "matrix") return matrix_command(args);
    if (command == "manifest") return manifest_command(args);
    if (command == "islands") return islands_command(args);
    if (!command.empty()) fprintf(stderr, "cimbrel-import: unknown command \"%s\"\n\n", command.c_str());
    fputs(import_usage(), stderr);
    return 1;
}
