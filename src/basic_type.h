// Study model: identifier registries, sample groups, the (name, value) pair
// used to rank p-values, the study description and the beta matrix.
// Lookups never insert, so workers may call them concurrently.
#ifndef CIMBREL_BASIC_TYPE_H
#define CIMBREL_BASIC_TYPE_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <gsl/gsl_matrix.h>

// Two-way registry between text identifiers and caller-chosen numbers.
// A repeated identifier resolves to its newest number; older numbers still
// resolve to the identifier. Messages say "probe" whatever is registered.
class ID_index {
public:
    std::map<std::string, uint32_t> id_to_index;
    std::map<uint32_t, std::string> index_to_id;

    // Registers (id, index). False, with a message, for an empty id or an
    // index already taken; a repeated id draws a warning and is re-pointed.
    bool add(const std::string& id, uint32_t index);
    // Index of id; 0 after "Error: no such probe ..." when id is unknown.
    uint32_t get(const std::string& id) const;
    // Identifier under index; "" after "Error: wrong probe index ..." when unknown.
    std::string get(uint32_t index) const;
    // Silent lookup: true and the index when id is registered.
    bool find(const std::string& id, uint32_t& index) const;
    // Number of distinct identifiers.
    uint32_t size() const;
};

// Sample-to-group and group-to-samples membership (samples in order of addition).
class Sample_group {
public:
    std::map<std::string, std::string> sample_to_group;
    std::map<std::string, std::vector<std::string>> group_to_samples;

    // False, with a message, for an empty name, an empty group or a sample
    // already registered (which keeps its first group).
    bool add(const std::string& sample, const std::string& group);
    // Group of the sample; "" after a message when the sample is unknown.
    std::string get_group(const std::string& sample) const;
    // Samples of the group in order of addition; empty after a message.
    std::vector<std::string> get_sample(const std::string& group) const;
    uint32_t group_num() const;
};

// A (name, value) pair ordered by ascending value, ties by ascending name.
struct Order {
    std::string name;
    double value;

    void set(const std::string& new_name, double new_value);
    bool operator<(const Order& other) const;
};

// Names of the study: probe identifier -> matrix row, sample name -> matrix
// column, group name -> group number (first appearance order), sample groups.
struct Data_description {
    ID_index probe_index;
    ID_index sample_index;
    ID_index group_index;
    Sample_group sample_group;
};

// Numbers of the study, P probes (rows) x N samples (columns), K covariables.
// logit holds ln(beta / (1 - beta)); valid holds 1 for a usable value and -1
// for an excluded one, one byte per value. covariable (N x K) is null when K
// is 0; continuous (N x 1) is null outside continuous mode. The matrices are
// allocated by the study reader and released by data_matrix_free.
struct Data_matrix {
    gsl_matrix* logit = nullptr;
    gsl_matrix_char* valid = nullptr;
    gsl_matrix* covariable = nullptr;
    gsl_matrix* continuous = nullptr;
};

// Releases every matrix of the record and the record itself (null is fine).
void data_matrix_free(Data_matrix* matrix);

#endif
