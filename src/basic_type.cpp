#include "basic_type.h"

#include "time_out.h"

// One search per map: registering the 865,000 probes of an EPIC array is on
// the path of every run.
bool ID_index::add(const std::string& id, uint32_t index) {
    if (id.empty()) {
        message("Error: NULL probe id\n");
        return false;
    }
    auto slot = index_to_id.lower_bound(index);
    if (slot != index_to_id.end() && slot->first == index) {
        message("Error: duplicated probe index %u\n", index);
        return false;
    }
    auto [found, inserted] = id_to_index.try_emplace(id, index);
    if (!inserted) {
        message("Warning: duplicated probe id %s, overwrite old one\n", id.c_str());
        found->second = index;
    }
    index_to_id.emplace_hint(slot, index, id);
    return true;
}

uint32_t ID_index::get(const std::string& id) const {
    auto found = id_to_index.find(id);
    if (found == id_to_index.end()) {
        message("Error: no such probe %s\n", id.c_str());
        return 0;
    }
    return found->second;
}

std::string ID_index::get(uint32_t index) const {
    auto found = index_to_id.find(index);
    if (found == index_to_id.end()) {
        message("Error: wrong probe index %u\n", index);
        return std::string();
    }
    return found->second;
}

bool ID_index::find(const std::string& id, uint32_t& index) const {
    auto found = id_to_index.find(id);
    if (found == id_to_index.end()) return false;
    index = found->second;
    return true;
}

uint32_t ID_index::size() const { return static_cast<uint32_t>(id_to_index.size()); }

bool Sample_group::add(const std::string& sample, const std::string& group) {
    if (sample.empty()) {
        message("Error: NULL sample name\n");
        return false;
    }
    if (group.empty()) {
        message("Error: NULL group name\n");
        return false;
    }
    if (sample_to_group.count(sample) != 0) {
        message("Error: duplicate sample name %s\n", sample.c_str());
        return false;
    }
    sample_to_group.emplace(sample, group);
    group_to_samples[group].push_back(sample);
    return true;
}

std::string Sample_group::get_group(const std::string& sample) const {
    auto found = sample_to_group.find(sample);
    if (found == sample_to_group.end()) {
        message("Error: no group found of  sample %s\n", sample.c_str());
        return std::string();
    }
    return found->second;
}

std::vector<std::string> Sample_group::get_sample(const std::string& group) const {
    auto found = group_to_samples.find(group);
    if (found == group_to_samples.end()) {
        message("Error: no sample found of group %s\n", group.c_str());
        return std::vector<std::string>();
    }
    return found->second;
}

uint32_t Sample_group::group_num() const { return static_cast<uint32_t>(group_to_samples.size()); }

void Order::set(const std::string& new_name, double new_value) {
    name = new_name;
    value = new_value;
}

// Values first; equal values, and values that do not compare (NaN), are
// ordered by name.
bool Order::operator<(const Order& other) const {
    if (value < other.value) return true;
    if (value > other.value) return false;
    return name < other.name;
}

void data_matrix_free(Data_matrix* matrix) {
    if (matrix == nullptr) return;
    if (matrix->logit != nullptr) gsl_matrix_free(matrix->logit);
    if (matrix->valid != nullptr) gsl_matrix_char_free(matrix->valid);
    if (matrix->covariable != nullptr) gsl_matrix_free(matrix->covariable);
    if (matrix->continuous != nullptr) gsl_matrix_free(matrix->continuous);
    delete matrix;
}
