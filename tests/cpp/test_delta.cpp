#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "core/parallel.hpp"
#include "engine/construction.hpp"
#include "engine/delta.hpp"
#include "engine/indexes.hpp"

using namespace vardelin;

TEST(DeltaMerge, EmptyBufferKeepsIndexesAndWork) {
    Engine e = engine_from_points({std::vector<double>{0.0, 1.0}, std::vector<double>{2.0, 3.0}});
    build_index_if_needed(e, IndexKind::Grid);
    e.delta_scan_work = 5;
    const auto* before = e.xs.get();
    merge_delta(e);
    EXPECT_EQ(e.xs.get(), before);
    EXPECT_EQ(e.delta_scan_work, 5u);
    EXPECT_TRUE(e.indexes.built(IndexKind::Grid));
}

TEST(DeltaRange, ClosedBoxAsGivenWithIdsAfterMain) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Engine e = engine_from_points({std::vector<double>(100, 0.0), std::vector<double>(100, 0.0)});
    append_delta(e, {std::vector<double>{1.0, nan, 2.0, 5.0, 1.5}, std::vector<double>{1.0, 1.0, 2.0, 5.0, nan}});
    ASSERT_EQ(e.delta_xs.size(), 5u);
    EXPECT_EQ(delta_range(e, 1.0, 1.0, 2.0, 2.0), (std::vector<u32>{100, 102}));
    EXPECT_EQ(delta_range(e, 5.0, 5.0, 5.0, 5.0), (std::vector<u32>{103}));
    EXPECT_TRUE(delta_range(e, 2.0, 2.0, 1.0, 1.0).empty());
    EXPECT_TRUE(delta_range(e, nan, 0, 10, 10).empty());
}

TEST(DeltaWork, ThresholdsSaturateAndMergeWhenReached) {
    // Trees pay n ceil(log2 n), the grid n; the scan and a tree over one point never pay.
    const std::pair<u64, u64> trees[] = {{2, 2}, {3, 6}, {4, 8}, {5, 15}, {100, 700}, {1000, 10000}, {1024, 10240},
                                         {u64{1} << 62, std::numeric_limits<u64>::max()}};
    for (IndexKind kind : {IndexKind::RTree, IndexKind::KdTree}) {
        for (const auto& [n, work] : trees) EXPECT_EQ(delta_work_threshold(kind, n), work) << n;
        EXPECT_EQ(delta_work_threshold(kind, 0), std::nullopt);
        EXPECT_EQ(delta_work_threshold(kind, 1), std::nullopt);
    }
    EXPECT_EQ(delta_work_threshold(IndexKind::Grid, 100), 100u);
    EXPECT_EQ(delta_work_threshold(IndexKind::BruteForce, 0), std::nullopt);

    Engine e = engine_from_points({std::vector<double>(100, 1.0), std::vector<double>(100, 2.0)});
    e.delta_xs = {3.0};
    e.delta_ys = {4.0};
    EXPECT_FALSE(add_delta_work(e, IndexKind::BruteForce, std::numeric_limits<u64>::max()));
    EXPECT_FALSE(add_delta_work(e, IndexKind::BruteForce, 5));
    EXPECT_EQ(e.delta_scan_work, std::numeric_limits<u64>::max());
    EXPECT_TRUE(add_delta_work(e, IndexKind::Grid, 0));
    EXPECT_EQ(e.delta_scan_work, 0u);
    EXPECT_EQ(e.x().size(), 101u);
    EXPECT_EQ(e.x()[100], 3.0);
}

TEST(ParallelConcat, SplitsAcrossChunks) {
    for (std::size_t head_n : {std::size_t{0}, std::size_t{1}, std::size_t{65535}, std::size_t{65536}, std::size_t{200000}}) {
        for (std::size_t tail_n : {std::size_t{0}, std::size_t{3}, std::size_t{70000}}) {
            std::vector<double> head(head_n), tail(tail_n);
            for (std::size_t i = 0; i < head_n; ++i) head[i] = static_cast<double>(i);
            for (std::size_t i = 0; i < tail_n; ++i) tail[i] = -static_cast<double>(i) - 1.0;
            const auto out = parallel_concat<double>(head, tail);
            ASSERT_EQ(out.size(), head_n + tail_n);
            for (std::size_t i = 0; i < out.size(); ++i) {
                ASSERT_EQ(out[i], i < head_n ? head[i] : tail[i - head_n]) << head_n << " " << tail_n << " " << i;
            }
        }
    }
}
