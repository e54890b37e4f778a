// Replicate probes of EPIC v2: an identifier ending in "_" + T or B + C or O
// + digits (cg00000029_TC21) is a replicate of the identifier before the
// underscore. The output rows of a list of identifiers: "keep" writes every
// probe as it is; "mean" and "best" write one row per base identifier at
// the place of its first replicate, and a suffixed identifier without
// replicates under its base identifier.
#ifndef CIMBREL_IMPORT_REPLICATES_H
#define CIMBREL_IMPORT_REPLICATES_H

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

enum class Replicates { keep, mean, best };

// "keep", "mean", "best" into mode; false for anything else.
bool read_replicates(const std::string& text, Replicates& mode);

// The identifier without its replicate suffix (the identifier itself when it has none).
std::string_view replicate_base(std::string_view id);

// Output rows over probes numbered 0 … n−1: row r has the identifier
// ids[r] and the probes members[starts[r] … starts[r + 1]).
struct Output_rows {
    std::vector<std::string> ids;
    std::vector<uint32_t> starts{0};
    std::vector<uint32_t> members;
    size_t excluded = 0;  // probes left out by the exclusion list
    size_t size() const { return ids.size(); }
};

// The rows of the probes named ids in mode; a probe whose identifier, or
// in the merging modes its base identifier, is in excluded is left out.
Output_rows plan_rows(const std::vector<std::string>& ids, Replicates mode,
                      const std::unordered_set<std::string>& excluded);

// The value of a row from its members' betas and detection p-values
// (present[i] false: no value). mean: the mean beta of the members with
// p ≤ 0.05 and their smallest p, or when none passes the mean of all and
// the largest p; best (and keep): the member with the smallest p, the first
// of equals. False when no member has a value.
bool merge_row(Replicates mode, const uint32_t* members, size_t count, const double* beta, const double* p,
               const uint8_t* present, double& row_beta, double& row_p);

#endif
