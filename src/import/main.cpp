// cimbrel-import: companion program that turns the files analysts hold (a
// beta matrix, an Excel sample sheet, the vendor's manifest, UCSC's CpG
// islands) into cimbrel's inputs. The entry point only dispatches to the
// subcommand; see commands.h.
#include <string>
#include <vector>

#include "command_line.h"
#include "commands.h"

int main(int argc, char** argv) {
    return run_subcommand("cimbrel-import", import_usage(),
                          {{"matrix", matrix_command},
                           {"idat", idat_command},
                           {"manifest", manifest_command},
                           {"islands", islands_command}},
                          std::vector<std::string>(argv + 1, argv + argc));
}
