// Study model: identifier registries, sample groups, the (name, value) pair
// used to rank p-values, the study description and the beta matrix.
// Lookups never insert, so workers may call them concurrently.
#ifndef CIMBREL_BASIC_TYPE_H
#define CIMBREL_BASIC_TYPE_H

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include <gsl/gsl_matrix.h>
#include <gsl/gsl_vector.h>

// An open-addressing hash table of record numbers keyed by text that the
// records hold (text(record) gives it), kept at most half full. Each slot
// keeps the high 32 bits of its key's hash, so a search reads a record's text
// only on a likely match: the records are usually far apart in memory.
class Text_slots {
public:
    static constexpr uint32_t none = UINT32_MAX;

    // The record stored under key, or none.
    template <class Text>
    uint32_t find(std::string_view key, const Text& text) const {
        if (slots_.empty()) return none;
        const uint64_t hash = hash_of(key);
        const size_t mask = slots_.size() - 1;
        for (size_t s = hash & mask;; s = (s + 1) & mask) {
            const uint64_t slot = slots_[s];
            if (slot == 0) return none;
            const uint32_t record = static_cast<uint32_t>(slot) - 1;
            if ((slot >> 32) == (hash >> 32) && text(record) == key) return record;
        }
    }
    // Stores record (below none) under key, which must not be stored yet.
    template <class Text>
    void insert(std::string_view key, uint32_t record, const Text& text) {
        if (2 * (count_ + 1) > slots_.size()) {
            std::vector<uint64_t> old(std::max<size_t>(64, 2 * slots_.size()), 0);
            old.swap(slots_);
            for (uint64_t slot : old) {
                if (slot != 0) place(hash_of(text(static_cast<uint32_t>(slot) - 1)), static_cast<uint32_t>(slot) - 1);
            }
        }
        place(hash_of(key), record);
        ++count_;
    }
    size_t size() const { return count_; }
    // Sizes an empty table for records insertions without regrowing.
    void reserve(size_t records) {
        size_t size = 64;
        while (size < 2 * records) size *= 2;
        if (count_ == 0 && size > slots_.size()) slots_.assign(size, 0);
    }

private:
    static uint64_t hash_of(std::string_view key) { return std::hash<std::string_view>()(key); }
    void place(uint64_t hash, uint32_t record) {
        const size_t mask = slots_.size() - 1;
        size_t s = hash & mask;
        while (slots_[s] != 0) s = (s + 1) & mask;
        slots_[s] = (hash >> 32 << 32) | (static_cast<uint64_t>(record) + 1);
    }
    std::vector<uint64_t> slots_;  // 0 = empty; else hash high bits, record + 1
    size_t count_ = 0;
};

// Two-way registry between text identifiers and caller-chosen numbers.
// A repeated identifier resolves to its newest number; older numbers still
// resolve to the identifier. Messages say "probe" whatever is registered.
// Each distinct identifier is stored once, in one block of text; numbers
// and identifiers refer to it by position (a probe registry of 865,000
// identifiers takes about 30 MB, a tenth of two string-keyed maps).
class ID_index {
public:
    // Registers (id, index). False, with a message, for an empty id or an
    // index already taken; a repeated id draws a warning and is re-pointed.
    bool add(std::string_view id, uint32_t index);
    // Index of id; 0 after "Error: no such probe ..." when id is unknown.
    uint32_t get(std::string_view id) const;
    // Identifier under index; "" after "Error: wrong probe index ..." when unknown.
    std::string get(uint32_t index) const;
    // Silent lookups: true and the index when id is registered; the
    // identifier under index ("" when none), valid while the registry lives.
    bool find(std::string_view id, uint32_t& index) const;
    std::string_view name(uint32_t index) const {
        if (index >= by_index_.size() || by_index_[index] == none) return std::string_view();
        return text_of(entries_[by_index_[index]]);
    }
    // Number of distinct identifiers.
    uint32_t size() const { return static_cast<uint32_t>(entries_.size()); }
    // One past the largest registered index (0 when empty): indices below
    // it may be walked in order with name().
    uint32_t index_end() const { return static_cast<uint32_t>(by_index_.size()); }
    // Room for about count identifiers (a hint, not a limit): the lists do
    // not move while they fill; the hash table still grows as it fills.
    void reserve(size_t count) {
        entries_.reserve(count);
        by_index_.reserve(count);
    }
    // True when some identifier was registered under more than one index.
    bool has_repeats() const { return registered_ != entries_.size(); }

private:
    struct Entry {
        uint64_t offset;  // of the text in text_
        uint32_t length;
        uint32_t newest;  // index it resolves to
    };
    static constexpr uint32_t none = UINT32_MAX;
    std::string_view text_of(const Entry& entry) const {
        return std::string_view(text_.data() + entry.offset, entry.length);
    }
    // The entry of id, or none.
    uint32_t entry_of(std::string_view id) const {
        return slots_.find(id, [this](uint32_t e) { return text_of(entries_[e]); });
    }

    std::string text_;                 // every distinct identifier, back to back
    std::vector<Entry> entries_;       // one per distinct identifier
    Text_slots slots_;                 // identifier -> entry
    std::vector<uint32_t> by_index_;   // index -> entry (none when unregistered)
    size_t registered_ = 0;            // indices registered
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

struct Matrix_spill;

// Numbers of the study, P probes (rows) x N samples (columns), K covariables.
// logit holds ln(beta / (1 - beta)) of every usable value and NaN for every
// excluded one (failed detection, unreadable line, beta of 0 or 1, SNP probe
// under --nosnp): one double per value, the NaN being the "excluded" flag.
// covariable (N x K) is null when K is 0; continuous (N x 1) is null outside
// continuous mode. quantiles (15 x N), when not null, holds each sample's
// quantiles found by the reader for normalisation (NaN for a sample without
// usable values). When the matrix would exceed the memory budget, logit is
// null and the values live in a spill file by blocks of rows (spill_file.h);
// reference then holds the normalisation target applied as blocks load.
// Everything is released by data_matrix_free.
struct Data_matrix {
    gsl_matrix* logit = nullptr;
    gsl_matrix* covariable = nullptr;
    gsl_matrix* continuous = nullptr;
    gsl_matrix* quantiles = nullptr;
    gsl_vector* reference = nullptr;
    Matrix_spill* spill = nullptr;
    uint32_t probe_num = 0;
    uint32_t sample_num = 0;
};

// The value stored for an excluded observation, and the test for a usable one.
constexpr double excluded_value = std::numeric_limits<double>::quiet_NaN();
inline bool is_usable(double logit) { return logit == logit; }

// Asks the system for transparent huge pages under a large block of memory
// not touched yet: filling it then takes a few hundred page faults instead
// of one per 4 KB page, which costs much time on virtual machines. Where the
// system does not grant them this changes nothing.
void advise_huge_pages(void* data, size_t bytes);

// P and N of the record, whether the values are in memory or spilled.
inline uint32_t probe_count(const Data_matrix& matrix) {
    return matrix.logit != nullptr ? static_cast<uint32_t>(matrix.logit->size1) : matrix.probe_num;
}
inline uint32_t sample_count(const Data_matrix& matrix) {
    return matrix.logit != nullptr ? static_cast<uint32_t>(matrix.logit->size2) : matrix.sample_num;
}

// Releases every matrix of the record and the record itself (null is fine).
void data_matrix_free(Data_matrix* matrix);

#endif
