// Registries of the study model: refusals leave them unchanged, duplicates
// are re-pointed, and lookups (which workers make concurrently) never insert.
#include "basic_type.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "test_util.h"

TEST(id_index, refuses_empty_id_and_taken_index) {
    ID_index index;
    EXPECT_EQ(0u, index.size());
    EXPECT_EQ("Error: NULL probe id\n", capture_stdout([&] { EXPECT_FALSE(index.add("", 3)); }));
    EXPECT_TRUE(index.add("cg1", 0));
    EXPECT_EQ("Error: duplicated probe index 0\n", capture_stdout([&] { EXPECT_FALSE(index.add("cg2", 0)); }));
    EXPECT_EQ("cg1", index.get(0));
    EXPECT_EQ(1u, index.size());
    EXPECT_EQ(1u, index.index_end());
}

TEST(id_index, repeated_id_points_to_its_newest_index) {
    ID_index index;
    index.add("cg1", 0);
    std::string out = capture_stdout([&] { EXPECT_TRUE(index.add("cg1", 5)); });
    EXPECT_EQ("Warning: duplicated probe id cg1, overwrite old one\n", out);
    EXPECT_EQ(5u, index.get("cg1"));
    EXPECT_EQ("cg1", index.get(0));
    EXPECT_EQ("cg1", index.get(5));
    EXPECT_EQ(1u, index.size());
}

TEST(id_index, failed_lookups_print_and_never_insert) {
    ID_index index;
    index.add("cg1", 7);
    uint32_t found = 99;
    EXPECT_EQ("Error: no such probe cg9\n", capture_stdout([&] { EXPECT_EQ(0u, index.get("cg9")); }));
    EXPECT_EQ("Error: wrong probe index 3000000000\n",
              capture_stdout([&] { EXPECT_EQ("", index.get(3000000000u)); }));
    EXPECT_EQ("", capture_stdout([&] { EXPECT_FALSE(index.find("cg9", found)); }));
    EXPECT_TRUE(index.find("cg1", found));
    EXPECT_EQ(7u, found);
    EXPECT_EQ(1u, index.size());
    EXPECT_EQ(8u, index.index_end());
    EXPECT_EQ("", index.name(3));
    EXPECT_EQ("cg1", index.name(7));
}

// The identifier text is held once whatever the number of lookups, and a
// registry of many identifiers finds every one (the table grows as it fills).
TEST(id_index, many_identifiers_each_found_at_its_index) {
    ID_index index;
    for (uint32_t i = 0; i < 20000; ++i) ASSERT_TRUE(index.add("cg" + std::to_string(i * 7919 % 100003), i));
    for (uint32_t i = 0; i < 20000; ++i) {
        uint32_t found = 0;
        const std::string id = "cg" + std::to_string(i * 7919 % 100003);
        ASSERT_TRUE(index.find(id, found)) << id;
        EXPECT_EQ(i, found);
        EXPECT_EQ(id, index.name(i));
    }
    EXPECT_EQ(20000u, index.size());
}

TEST(sample_group, refusals_keep_the_first_membership) {
    Sample_group groups;
    EXPECT_EQ(0u, groups.group_num());
    EXPECT_TRUE(groups.add("S1", "case"));
    EXPECT_EQ("Error: duplicate sample name S1\n", capture_stdout([&] { EXPECT_FALSE(groups.add("S1", "control")); }));
    EXPECT_EQ("Error: NULL group name\n", capture_stdout([&] { EXPECT_FALSE(groups.add("S2", "")); }));
    EXPECT_EQ("Error: NULL sample name\n", capture_stdout([&] { EXPECT_FALSE(groups.add("", "case")); }));
    EXPECT_EQ("case", groups.get_group("S1"));
    EXPECT_EQ(1u, groups.group_num());
    EXPECT_EQ(1u, groups.sample_to_group.size());
}

TEST(sample_group, samples_keep_their_order_and_lookups_never_insert) {
    Sample_group groups;
    groups.add("S9", "case");
    groups.add("S1", "case");
    EXPECT_EQ((std::vector<std::string>{"S9", "S1"}), groups.get_sample("case"));
    EXPECT_EQ("Error: no group found of  sample S5\n", capture_stdout([&] { EXPECT_EQ("", groups.get_group("S5")); }));
    EXPECT_EQ("Error: no sample found of group ctl\n",
              capture_stdout([&] { EXPECT_TRUE(groups.get_sample("ctl").empty()); }));
    EXPECT_EQ(2u, groups.sample_to_group.size());
    EXPECT_EQ(1u, groups.group_num());
}

TEST(order, sorts_by_value_then_by_name) {
    std::vector<Order> list(4);
    list[0].set("b", 0.5);
    list[1].set("z", 0.1);
    list[2].set("a", 0.5);
    list[3].set("c", NAN);
    std::sort(list.begin(), list.begin() + 3);
    EXPECT_EQ("z", list[0].name);
    EXPECT_EQ("a", list[1].name);
    EXPECT_EQ("b", list[2].name);
    EXPECT_TRUE(list[2] < list[3]);  // a NaN value is compared by name
    EXPECT_FALSE(list[3] < list[2]);
}

TEST(data_matrix, free_accepts_null_and_partly_filled_records) {
    data_matrix_free(nullptr);
    Data_matrix* matrix = new Data_matrix;
    matrix->quantiles = gsl_matrix_alloc(2, 3);
    data_matrix_free(matrix);  // the sanitizer build reports a leak or a bad free
}
