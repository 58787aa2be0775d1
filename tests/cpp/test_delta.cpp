#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "core/parallel_concat.hpp"
#include "engine/delta.hpp"

using namespace vardelin;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

Engine points(std::vector<double> xs, std::vector<double> ys) {
    return engine_from_points(xs, ys);
}

// Index types are only declared here; the slots are filled with non-null handles that are
// never dereferenced, so the test sees whether a merge drops them.
template <class T>
std::shared_ptr<const T> placeholder(const std::shared_ptr<int>& keep) {
    return std::shared_ptr<const T>(keep, reinterpret_cast<const T*>(keep.get()));
}

void fill_index_slots(Engine& e, const std::shared_ptr<int>& keep) {
    e.brute_force = placeholder<BruteForce>(keep);
    e.r_tree = placeholder<PackedRTree>(keep);
    e.kd_tree = placeholder<PackedKdTree>(keep);
    e.grid = placeholder<UniformGrid>(keep);
}

}  // namespace

TEST(DeltaThreshold, TenthOfMainRoundedDownAtLeastOne) {
    EXPECT_EQ(delta_flush_threshold(0), 1u);
    EXPECT_EQ(delta_flush_threshold(9), 1u);
    EXPECT_EQ(delta_flush_threshold(19), 1u);
    EXPECT_EQ(delta_flush_threshold(20), 2u);
    EXPECT_EQ(delta_flush_threshold(100), 10u);
    EXPECT_EQ(delta_flush_threshold(12345), 1234u);
    EXPECT_EQ(delta_flush_threshold(kU32Max), 429496729u);
    for (u64 n = 0; n < 100000; n += 7) EXPECT_EQ(delta_flush_threshold(n), std::max<u64>(n / 10, 1)) << n;
}

TEST(DeltaBuffer, PolygonDatasetIsRefusedAndUnchanged) {
    Engine e = points({0.0, 1.0, 1.0}, {0.0, 0.0, 1.0});
    e.ring_offsets = make_shared_array(Buffer<i64>{0, 3});
    e.poly_offsets = make_shared_array(Buffer<i64>{0, 1});
    const std::vector<double> x{5.0};
    try {
        append_delta(e, x, x);
        FAIL() << "append_delta accepted a polygon dataset";
    } catch (const Error& err) {
        EXPECT_STREQ(err.what(), "delta buffer is not supported for polygon datasets");
    }
    EXPECT_THROW(require_delta_support(e), Error);
    EXPECT_TRUE(e.delta_xs.empty());
    EXPECT_EQ(e.x().size(), 3u);
}

TEST(DeltaMerge, DropsIndexesZeroesWorkAndKeepsOldArrays) {
    Engine e = points({0.0, 1.0}, {2.0, 3.0});
    const auto keep = std::make_shared<int>(0);
    fill_index_slots(e, keep);
    e.delta_scan_work = 17;
    e.metrics.statistics_ns = 99;
    const SharedArray<double> old_x = e.xs;

    const std::vector<double> x{4.0}, y{5.0};
    append_delta(e, x, y);  // threshold 1: stays buffered
    EXPECT_EQ(e.delta_xs.size(), 1u);
    EXPECT_TRUE(e.brute_force && e.r_tree && e.kd_tree && e.grid);
    EXPECT_EQ(e.delta_scan_work, 17u);

    merge_delta(e);
    EXPECT_EQ(std::vector<double>(e.x().begin(), e.x().end()), (std::vector<double>{0.0, 1.0, 4.0}));
    EXPECT_EQ(std::vector<double>(e.y().begin(), e.y().end()), (std::vector<double>{2.0, 3.0, 5.0}));
    EXPECT_EQ(e.stats.n, 3u);
    EXPECT_TRUE(e.delta_xs.empty() && e.delta_ys.empty());
    EXPECT_EQ(e.delta_scan_work, 0u);
    EXPECT_FALSE(e.brute_force || e.r_tree || e.kd_tree || e.grid);
    EXPECT_EQ(e.metrics.statistics_ns, 99u);
    EXPECT_NE(e.xs, old_x);
    EXPECT_EQ(old_x->size(), 2u);
}

TEST(DeltaMerge, EmptyBufferTouchesNothing) {
    Engine e = points({0.0, 1.0}, {2.0, 3.0});
    const auto keep = std::make_shared<int>(0);
    fill_index_slots(e, keep);
    e.delta_scan_work = 5;
    const auto* before = e.xs.get();
    merge_delta(e);
    EXPECT_EQ(e.xs.get(), before);
    EXPECT_EQ(e.delta_scan_work, 5u);
    EXPECT_TRUE(e.brute_force && e.r_tree && e.kd_tree && e.grid);
}

TEST(DeltaRange, ClosedBoxAsGivenWithIdsAfterMain) {
    Engine e = points(std::vector<double>(30, 0.0), std::vector<double>(30, 0.0));
    const std::vector<double> x{1.0, kNaN, 2.0, 5.0, 1.5}, y{1.0, 1.0, 2.0, 5.0, kNaN};
    append_delta(e, x, y);
    ASSERT_TRUE(e.delta_xs.empty());  // five points pass the threshold 3 of 30: merged
    EXPECT_TRUE(delta_range(e, 0, 0, 10, 10).empty());

    Engine f = points(std::vector<double>(100, 0.0), std::vector<double>(100, 0.0));
    append_delta(f, x, y);
    ASSERT_EQ(f.delta_xs.size(), 5u);
    EXPECT_EQ(delta_range(f, 1.0, 1.0, 2.0, 2.0), (std::vector<u32>{100, 102}));
    EXPECT_EQ(delta_range(f, -10, -10, 10, 10), (std::vector<u32>{100, 102, 103}));
    EXPECT_TRUE(delta_range(f, 2.0, 2.0, 1.0, 1.0).empty());
    EXPECT_TRUE(delta_range(f, kNaN, 0, 10, 10).empty());
    EXPECT_EQ(delta_range(f, 5.0, 5.0, 5.0, 5.0), (std::vector<u32>{103}));
}

TEST(ParallelConcat, SplitsAcrossChunks) {
    for (std::size_t head_n : {std::size_t{0}, std::size_t{1}, std::size_t{65535}, std::size_t{65536},
                               std::size_t{200000}}) {
        for (std::size_t tail_n : {std::size_t{0}, std::size_t{3}, std::size_t{70000}}) {
            std::vector<double> head(head_n), tail(tail_n);
            for (std::size_t i = 0; i < head_n; ++i) head[i] = static_cast<double>(i);
            for (std::size_t i = 0; i < tail_n; ++i) tail[i] = -static_cast<double>(i) - 1.0;
            const auto out = parallel_concat<double>(head, tail);
            ASSERT_EQ(out.size(), head_n + tail_n);
            for (std::size_t i = 0; i < out.size(); ++i) {
                const double want = i < head_n ? head[i] : tail[i - head_n];
                ASSERT_EQ(out[i], want) << head_n << " " << tail_n << " " << i;
            }
        }
    }
}
