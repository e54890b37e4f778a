#include "basic_type.h"

#include <sys/mman.h>

#include <algorithm>
#include <functional>

#include "spill_file.h"
#include "time_out.h"

bool ID_index::add(std::string_view id, uint32_t index) {
    if (id.empty()) {
        message("Error: NULL probe id\n");
        return false;
    }
    if (index < by_index_.size() && by_index_[index] != none) {
        message("Error: duplicated probe index %u\n", index);
        return false;
    }
    uint32_t entry = entry_of(id);
    if (entry != none) {
        message("Warning: duplicated probe id %.*s, overwrite old one\n", static_cast<int>(id.size()), id.data());
        entries_[entry].newest = index;
    } else {
        entry = static_cast<uint32_t>(entries_.size());
        entries_.push_back({text_.size(), static_cast<uint32_t>(id.size()), index});
        text_.append(id);
        slots_.insert(id, entry, [this](uint32_t e) { return text_of(entries_[e]); });
    }
    if (index >= by_index_.size()) by_index_.resize(static_cast<size_t>(index) + 1, none);
    by_index_[index] = entry;
    ++registered_;
    return true;
}

uint32_t ID_index::get(std::string_view id) const {
    uint32_t index = 0;
    if (find(id, index)) return index;
    message("Error: no such probe %.*s\n", static_cast<int>(id.size()), id.data());
    return 0;
}

std::string ID_index::get(uint32_t index) const {
    if (index >= by_index_.size() || by_index_[index] == none) {
        message("Error: wrong probe index %u\n", index);
        return std::string();
    }
    return std::string(name(index));
}

bool ID_index::find(std::string_view id, uint32_t& index) const {
    const uint32_t entry = entry_of(id);
    if (entry == none) return false;
    index = entries_[entry].newest;
    return true;
}

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

void advise_huge_pages(void* data, size_t bytes) {
    constexpr uintptr_t huge_page = uintptr_t(2) << 20;
    const uintptr_t begin = reinterpret_cast<uintptr_t>(data), end = begin + bytes;
    const uintptr_t first = (begin + huge_page - 1) & ~(huge_page - 1), last = end & ~(huge_page - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void data_matrix_free(Data_matrix* matrix) {
    if (matrix == nullptr) return;
    if (matrix->logit != nullptr) gsl_matrix_free(matrix->logit);
    if (matrix->covariable != nullptr) gsl_matrix_free(matrix->covariable);
    if (matrix->continuous != nullptr) gsl_matrix_free(matrix->continuous);
    if (matrix->quantiles != nullptr) gsl_matrix_free(matrix->quantiles);
    if (matrix->reference != nullptr) gsl_vector_free(matrix->reference);
    spill_free(matrix->spill);
    delete matrix;
}
