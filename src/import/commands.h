// The subcommands of cimbrel-import: each takes the arguments after its
// name, prints its usage on standard output for --help (status 0), its
// messages on standard error, and returns the exit status: 0 on success,
// 1 for a usage error or a bad input (the message names file and line).
#ifndef CIMBREL_IMPORT_COMMANDS_H
#define CIMBREL_IMPORT_COMMANDS_H

#include <string>
#include <vector>

// Beta matrix + sample sheet -> study folder.
int matrix_command(const std::vector<std::string>& args);
// IDAT pairs + sample sheet + manifest -> study folder.
int idat_command(const std::vector<std::string>& args);
// Vendor manifest -> probe annotation file.
int manifest_command(const std::vector<std::string>& args);
// UCSC cpgIslandExt or BED -> region file.
int islands_command(const std::vector<std::string>& args);

// The list of subcommands, for "cimbrel-import --help".
const char* import_usage();

#endif
