// A list of probe identifiers, one per line (the exclusion lists of
// cross-reactive or SNP-affected probes): the first word of each line, up to
// white space or a comma, quotes removed; "#" lines and blank lines skipped.
#ifndef CIMBREL_IMPORT_PROBE_LIST_H
#define CIMBREL_IMPORT_PROBE_LIST_H

#include <string>
#include <unordered_set>

class Line_reader;

// Adds the identifiers of the list to ids. False, with error, on a read or
// decompression error.
bool read_probe_list(Line_reader& reader, const std::string& file, std::unordered_set<std::string>& ids,
                     std::string& error);

// The same from a path (plain or gzip); an unreadable file is an error.
bool read_probe_list_file(const std::string& path, std::unordered_set<std::string>& ids, std::string& error);

#endif
