// The spill file: memory sizes as users write them, and columns written one
// by one coming back as row blocks of every size, the last one short.
#include "spill_file.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "test_util.h"

TEST(memory_budget, sizes_with_and_without_suffix) {
    uint64_t bytes = 0;
    EXPECT_TRUE(parse_memory_size("1", bytes));
    EXPECT_EQ(1u, bytes);
    EXPECT_TRUE(parse_memory_size("128M", bytes));
    EXPECT_EQ(128ull << 20, bytes);
    EXPECT_TRUE(parse_memory_size("8g", bytes));
    EXPECT_EQ(8ull << 30, bytes);
    EXPECT_TRUE(parse_memory_size("512MB", bytes));
    EXPECT_EQ(512ull << 20, bytes);
    EXPECT_TRUE(parse_memory_size("2T", bytes));
    EXPECT_EQ(2ull << 40, bytes);
    for (const char* bad : {"", "0", "M", "12 G", "1.5G", "-4G", "4X", "4GG", "99999999999999999999", "16777216T"})
        EXPECT_FALSE(parse_memory_size(bad, bytes)) << bad;
}

TEST(memory_budget, environment_or_half_the_available_memory) {
    uint64_t bytes = 0;
    std::string error;
    setenv("CIMBREL_MEMORY", "3K", 1);
    EXPECT_TRUE(memory_budget(bytes, error));
    EXPECT_EQ(3072u, bytes);
    setenv("CIMBREL_MEMORY", "lots", 1);
    EXPECT_FALSE(memory_budget(bytes, error));
    EXPECT_NE(std::string::npos, error.find("\"lots\""));
    unsetenv("CIMBREL_MEMORY");
    EXPECT_TRUE(memory_budget(bytes, error));
    EXPECT_GT(bytes, 0u);
}

TEST(spill_file, columns_come_back_as_row_blocks_of_any_size) {
    std::mt19937 random(test_seed());
    Temp_dir dir;
    setenv("TMPDIR", dir.path().c_str(), 1);
    const uint32_t probes = 37, samples = 21;
    std::vector<std::vector<double>> columns(samples, std::vector<double>(probes));
    for (auto& column : columns)
        for (double& value : column) value = random() % 5 == 0 ? NAN : static_cast<double>(random()) / 7.0;
    for (uint32_t block_rows : {1u, 5u, 36u, 37u, 1000u}) {
        std::string error;
        Matrix_spill* spill = spill_create(probes, samples, block_rows, error);
        ASSERT_NE(nullptr, spill) << error;
        for (uint32_t c = 0; c < samples; ++c) ASSERT_TRUE(spill_write_column(*spill, c, columns[c].data(), error));
        uint32_t rows_seen = 0;
        std::vector<double> scratch;
        for (uint32_t b = 0; b < spill_block_count(*spill); ++b) {
            const uint32_t first = spill_block_first(*spill, b), rows = spill_block_size(*spill, b);
            EXPECT_EQ(rows_seen, first);
            gsl_matrix* block = gsl_matrix_alloc(rows, samples);
            ASSERT_TRUE(spill_read_block(*spill, b, block, scratch, error)) << error;
            for (uint32_t r = 0; r < rows; ++r)
                for (uint32_t c = 0; c < samples; ++c) {
                    const double expected = columns[c][first + r], got = gsl_matrix_get(block, r, c);
                    ASSERT_TRUE(got == expected || (std::isnan(got) && std::isnan(expected)));
                }
            gsl_matrix_free(block);
            rows_seen += rows;
        }
        EXPECT_EQ(probes, rows_seen) << block_rows;
        spill_free(spill);
    }
    unsetenv("TMPDIR");
    // Each file was unlinked when it was made: nothing is left behind.
    DIR* folder = opendir(dir.path().c_str());
    ASSERT_NE(nullptr, folder);
    int entries = 0;
    while (dirent* entry = readdir(folder)) entries += entry->d_name[0] != '.';
    closedir(folder);
    EXPECT_EQ(0, entries);
}

TEST(spill_file, an_unwritable_folder_is_reported) {
    setenv("TMPDIR", "/nonexistent/folder", 1);
    std::string error;
    Matrix_spill* spill = spill_create(10, 10, 5, error);
    unsetenv("TMPDIR");
    EXPECT_EQ(nullptr, spill);
    EXPECT_NE(std::string::npos, error.find("/nonexistent/folder/cimbrel_spill_"));
}
