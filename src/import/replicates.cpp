#include "replicates.h"

#include <algorithm>
#include <unordered_map>

#include "line_reader.h"

bool read_replicates(const std::string& text, Replicates& mode) {
    if (text == "keep") mode = Replicates::keep;
    else if (text == "mean") mode = Replicates::mean;
    else if (text == "best") mode = Replicates::best;
    else return false;
    return true;
}

std::string_view replicate_base(std::string_view id) {
    size_t underscore = id.rfind('_');
    if (underscore == std::string_view::npos || id.size() < underscore + 4) return id;
    std::string_view suffix = id.substr(underscore + 1);
    if ((suffix[0] != 'T' && suffix[0] != 'B') || (suffix[1] != 'C' && suffix[1] != 'O')) return id;
    for (size_t i = 2; i < suffix.size(); ++i)
        if (!is_digit(suffix[i])) return id;
    return id.substr(0, underscore);
}

Output_rows plan_rows(const std::vector<std::string>& ids, Replicates mode,
                      const std::unordered_set<std::string>& excluded) {
    Output_rows rows;
    auto left_out = [&](const std::string& id, std::string_view base) {
        return !excluded.empty() && (excluded.count(id) > 0 || (base.size() < id.size() && excluded.count(std::string(base)) > 0));
    };
    if (mode == Replicates::keep) {
        for (uint32_t i = 0; i < ids.size(); ++i) {
            if (left_out(ids[i], ids[i])) {
                ++rows.excluded;
                continue;
            }
            rows.ids.push_back(ids[i]);
            rows.members.push_back(i);
            rows.starts.push_back(static_cast<uint32_t>(rows.members.size()));
        }
        return rows;
    }
    std::unordered_map<std::string_view, uint32_t> row_of;  // base identifier -> row
    std::vector<std::vector<uint32_t>> groups;
    for (uint32_t i = 0; i < ids.size(); ++i) {
        std::string_view base = replicate_base(ids[i]);
        if (left_out(ids[i], base)) {
            ++rows.excluded;
            continue;
        }
        auto [at, fresh] = row_of.emplace(base, static_cast<uint32_t>(groups.size()));
        if (fresh) {
            groups.emplace_back();
            rows.ids.emplace_back(base);
        }
        groups[at->second].push_back(i);
    }
    for (const std::vector<uint32_t>& group : groups) {
        rows.members.insert(rows.members.end(), group.begin(), group.end());
        rows.starts.push_back(static_cast<uint32_t>(rows.members.size()));
    }
    return rows;
}

bool merge_row(Replicates mode, const uint32_t* members, size_t count, const double* beta, const double* p,
               const uint8_t* present, double& row_beta, double& row_p) {
    size_t best = count, passing = 0, values = 0;
    double passing_sum = 0.0, sum = 0.0, smallest_passing = 1.0, largest = 0.0;
    for (size_t k = 0; k < count; ++k) {
        uint32_t i = members[k];
        if (!present[i]) continue;
        ++values;
        sum += beta[i];
        largest = std::max(largest, p[i]);
        if (best == count || p[i] < p[members[best]]) best = k;
        if (p[i] > 0.05) continue;
        ++passing;
        passing_sum += beta[i];
        smallest_passing = std::min(smallest_passing, p[i]);
    }
    if (values == 0) return false;
    if (mode != Replicates::mean) {
        row_beta = beta[members[best]];
        row_p = p[members[best]];
    } else if (passing > 0) {
        row_beta = passing_sum / double(passing);
        row_p = smallest_passing;
    } else {
        row_beta = sum / double(values);
        row_p = largest;
    }
    return true;
}
