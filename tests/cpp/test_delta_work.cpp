#include <limits>

#include <gtest/gtest.h>

#include "engine/delta_work.hpp"

using namespace vardelin;

TEST(DeltaWorkThreshold, TreesPayNLogN) {
    for (IndexKind kind : {IndexKind::RTree, IndexKind::KdTree}) {
        EXPECT_EQ(delta_work_threshold(kind, 0), std::nullopt);
        EXPECT_EQ(delta_work_threshold(kind, 1), std::nullopt);
        EXPECT_EQ(delta_work_threshold(kind, 2), 2u);
        EXPECT_EQ(delta_work_threshold(kind, 3), 6u);
        EXPECT_EQ(delta_work_threshold(kind, 4), 8u);
        EXPECT_EQ(delta_work_threshold(kind, 5), 15u);
        EXPECT_EQ(delta_work_threshold(kind, 100), 700u);
        EXPECT_EQ(delta_work_threshold(kind, 1000), 10000u);
        EXPECT_EQ(delta_work_threshold(kind, 1024), 10240u);
        EXPECT_EQ(delta_work_threshold(kind, u64{1} << 62), std::numeric_limits<u64>::max());
    }
}

TEST(DeltaWorkThreshold, GridPaysNAndTheScanNever) {
    EXPECT_EQ(delta_work_threshold(IndexKind::Grid, 0), 0u);
    EXPECT_EQ(delta_work_threshold(IndexKind::Grid, 100), 100u);
    EXPECT_EQ(delta_work_threshold(IndexKind::BruteForce, 100), std::nullopt);
    EXPECT_EQ(delta_work_threshold(IndexKind::BruteForce, 0), std::nullopt);
}

TEST(DeltaWork, CountsSaturateAndMergeAtTheThreshold) {
    std::vector<double> xs(100, 1.0), ys(100, 2.0);
    Engine e = engine_from_points(xs, ys);
    e.delta_xs = {3.0};
    e.delta_ys = {4.0};
    EXPECT_FALSE(add_delta_work(e, IndexKind::BruteForce, std::numeric_limits<u64>::max()));
    EXPECT_FALSE(add_delta_work(e, IndexKind::BruteForce, 5));
    EXPECT_EQ(e.delta_scan_work, std::numeric_limits<u64>::max());
    EXPECT_TRUE(add_delta_work(e, IndexKind::Grid, 0));
    EXPECT_EQ(e.delta_scan_work, 0u);
    EXPECT_TRUE(e.delta_xs.empty());
    EXPECT_EQ(e.x().size(), 101u);
    EXPECT_EQ(e.x()[100], 3.0);
}
