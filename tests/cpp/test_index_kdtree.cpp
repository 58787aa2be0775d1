#include <algorithm>
#include <set>

#include <gtest/gtest.h>

#include "index/kdtree.hpp"
#include "index/kdtree_batch.hpp"
#include "index_oracle.hpp"

using namespace vardelin;

namespace {

PackedKdTree tree_of(Buffer<double> xs, Buffer<double> ys) {
    return PackedKdTree::over_points(make_shared_array(std::move(xs)), make_shared_array(std::move(ys)));
}

TEST(PackedKdTree, WideIdsFrom65536PointsAnswerExactly) {
    for (std::size_t n : {std::size_t{65535}, std::size_t{65536}}) {  // ids widen to 4 bytes at 65536
        const auto pts = oracle::make_points("clustered", n, 6);
        const auto t = PackedKdTree::over_points(pts.xs, pts.ys);
        for (const Box& q : oracle::query_boxes(2, 5)) {
            auto got = t.range(q);
            std::sort(got.begin(), got.end());
            EXPECT_EQ(got, oracle::range(pts, q));
        }
        const auto ids = t.nearest(50, 50, 100);
        const auto expected = oracle::sorted_dist2(pts, 50, 50);
        for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(oracle::dist2(pts, ids[i], 50, 50), expected[i]);
    }
}

TEST(PackedKdTree, AreaIgnoresNaNAndNeedsAFiniteMinimumX) {
    // Each axis skips its own NaNs: the point with a NaN x still widens y.
    EXPECT_EQ(tree_of({0, 4, oracle::kNaN}, {0, 2, 100}).area(), 400.0);
    EXPECT_EQ(tree_of({0, 4, 1}, {0, 2, oracle::kNaN}).area(), 8.0);
    EXPECT_EQ(tree_of({0, 4, 8}, {1, 1, 1}).area(), 0.0);
    EXPECT_EQ(tree_of({-oracle::kInf, 4}, {0, 3}).area(), 0.0);
    EXPECT_EQ(tree_of({}, {}).area(), 0.0);
}

TEST(PackedKdTree, NearestBeyondTheRadiusCapAndNaNQueries) {
    // The point at 1e16 lies past the last radius pass and the NaN one is never reported: they
    // follow the points found, as a full ranking orders them.
    const auto t = tree_of({0, 1e16, oracle::kNaN, 5}, {0, 0, 0, 1});
    EXPECT_EQ(t.nearest(0, 0, 4), (std::vector<u64>{0, 3, 1, 2}));
    EXPECT_EQ(t.nearest(0, 0, 3), (std::vector<u64>{0, 3, 1}));
    // A line of points has no area: the first radius is 1.5 * sqrt(k / pi) and grows from there.
    Buffer<double> xs, ys;
    for (int i = 0; i < 500; ++i) xs.push_back(i * 1000.0), ys.push_back(0.0);
    EXPECT_EQ(tree_of(std::move(xs), std::move(ys)).nearest(-5e6, 0, 2), (std::vector<u64>{0, 1}));
}

TEST(PackedKdTree, AllEqualAndAllNaNPoints) {
    const auto same = tree_of(Buffer<double>(1000, 2.0), Buffer<double>(1000, 3.0));
    EXPECT_EQ(same.range({2, 3, 2, 3}).size(), 1000u);
    const auto ids = same.nearest(0, 0, 1000);
    EXPECT_EQ(std::set<u64>(ids.begin(), ids.end()).size(), 1000u);
    const auto nan = tree_of(Buffer<double>(300, oracle::kNaN), Buffer<double>(300, 1.0));
    EXPECT_TRUE(nan.range({-oracle::kInf, -oracle::kInf, oracle::kInf, oracle::kInf}).empty());
    EXPECT_EQ(nan.nearest(0, 1, 5), (std::vector<u64>{0, 1, 2, 3, 4}));
}

}  // namespace

namespace {

// The k nearest by squared distance, equal distances by ascending id, NaN distances last:
// the k-d tree's answer is exactly this list, whichever radius its passes ended on.
std::vector<u64> nearest_by_distance_then_id(const oracle::Points& p, double x, double y, std::size_t k) {
    std::vector<u64> ids(p.size());
    for (std::size_t i = 0; i < ids.size(); ++i) ids[i] = i;
    std::sort(ids.begin(), ids.end(), [&](u64 a, u64 b) {
        return nearer(Neighbor{static_cast<u32>(a), oracle::dist2(p, a, x, y)},
                      Neighbor{static_cast<u32>(b), oracle::dist2(p, b, x, y)});
    });
    ids.resize(std::min(k, ids.size()));
    return ids;
}

// A join's searches (span boxes, each query starting from the last one's answer) give the very
// same lists, query after query: far ones, near ones, on the points themselves.
TEST(PackedKdTree, NearestIsTheFirstKByDistanceThenIdWithTiesAndNaN) {
    for (const auto& pts : oracle::all_sets(3000, 31)) {
        const auto t = PackedKdTree::over_points(pts.xs, pts.ys);
        const KdTreeBatchNearest batch(t, pts.size());
        // Both sides of the heap's limit, and every point.
        for (std::size_t k : {std::size_t{1}, std::size_t{10}, std::size_t{100}, std::size_t{1024},
                              std::size_t{1025}, pts.size()}) {
            auto run = batch.run();
            for (const auto& [x, y] : oracle::query_points(pts, 8, 12)) {
                const auto expected = nearest_by_distance_then_id(pts, x, y, k);
                EXPECT_EQ(t.nearest(x, y, k), expected) << pts.name << " k=" << k;
                std::vector<Neighbor> found;
                run.nearest(x, y, k, found);
                EXPECT_EQ(ids_of(found), expected) << pts.name << " k=" << k << " in a batch";
            }
        }
    }
}

}  // namespace
