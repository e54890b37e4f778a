// EPIC v2 replicate probes: which identifiers are replicates, the rows they
// form in each mode, and the values a merged row takes.
#include "replicates.h"

#include <gtest/gtest.h>

namespace {

TEST(replicates, rows_follow_the_first_replicate_and_values_merge) {
    std::vector<std::string> ids = {"cg1_TC11", "cg2", "cg1_BC12", "cg3_TO21", "cg1_TC13", "ch_x_TC", "cg4_BO1", "cg5"};
    EXPECT_EQ(replicate_base("cg1_TC11"), "cg1");
    EXPECT_EQ(replicate_base("ch_x_TC"), "ch_x_TC");  // no digits: not a replicate suffix
    EXPECT_EQ(replicate_base("cg1_TX11"), "cg1_TX11");

    Output_rows keep = plan_rows(ids, Replicates::keep, {"cg5"});
    EXPECT_EQ(keep.ids, std::vector<std::string>(ids.begin(), ids.end() - 1));
    EXPECT_EQ(keep.excluded, 1u);
    Output_rows mean = plan_rows(ids, Replicates::mean, {"cg4"});  // the base identifier excludes its replicates
    EXPECT_EQ(mean.ids, (std::vector<std::string>{"cg1", "cg2", "cg3", "ch_x_TC", "cg5"}));
    EXPECT_EQ(mean.members, (std::vector<uint32_t>{0, 2, 4, 1, 3, 5, 7}));
    EXPECT_EQ(mean.starts, (std::vector<uint32_t>{0, 3, 4, 5, 6, 7}));

    const double beta[] = {0.2, 0.5, 0.4, 0.9, 0.6, 0.3, 0.1, 0.7};
    const double p[] = {0.03, 0, 0.2, 0.5, 0.01, 0.3, 0, 0.01};
    uint8_t present[] = {1, 1, 1, 1, 1, 1, 1, 1};
    double b = 0, q = 0;
    ASSERT_TRUE(merge_row(Replicates::mean, &mean.members[0], 3, beta, p, present, b, q));
    EXPECT_DOUBLE_EQ(b, 0.4);  // the two detected replicates, 0.2 and 0.6
    EXPECT_EQ(q, 0.01);
    ASSERT_TRUE(merge_row(Replicates::best, &mean.members[0], 3, beta, p, present, b, q));
    EXPECT_EQ(b, 0.6);
    const uint32_t failing[] = {2, 3};
    ASSERT_TRUE(merge_row(Replicates::mean, failing, 2, beta, p, present, b, q));
    EXPECT_DOUBLE_EQ(b, 0.65);  // none detected: the mean of all, the largest p-value
    EXPECT_EQ(q, 0.5);
    const uint32_t tied[] = {1, 6};
    ASSERT_TRUE(merge_row(Replicates::best, tied, 2, beta, p, present, b, q));
    EXPECT_EQ(b, 0.5);  // equal p-values: the first in manifest order
    present[1] = present[6] = 0;
    EXPECT_FALSE(merge_row(Replicates::mean, tied, 2, beta, p, present, b, q));
}

}  // namespace
