// Every index kind's nearest search against a full sort over seeded uniform, clustered,
// duplicate-heavy and NaN-bearing point sets.
#include <algorithm>
#include <set>

#include <gtest/gtest.h>

#include "index/brute.hpp"
#include "index/grid.hpp"
#include "index/kdtree.hpp"
#include "index/rtree.hpp"
#include "index_oracle.hpp"
#include "stats/collector.hpp"

using namespace vardelin;

namespace {

struct BruteOf {
    static BruteForce make(const oracle::Points& p) { return BruteForce::over_points(p.xs, p.ys); }
};
struct GridOf {
    static UniformGrid make(const oracle::Points& p) { return UniformGrid::over_points(p.xs, p.ys); }
};
struct KdOf {
    static PackedKdTree make(const oracle::Points& p) { return PackedKdTree::over_points(p.xs, p.ys); }
};
struct KdWithHistogramOf {
    static PackedKdTree make(const oracle::Points& p) {
        PackedKdTree t = PackedKdTree::over_points(p.xs, p.ys);
        const auto stats = collect_points({view(p.xs), view(p.ys)});
        if (stats.histogram) t.attach_histogram(*stats.histogram);
        return t;
    }
};
struct RTreeOf {
    static PackedRTree make(const oracle::Points& p) { return PackedRTree::over_points({view(p.xs), view(p.ys)}); }
};

template <class F>
class IndexOracle : public ::testing::Test {};
using Kinds = ::testing::Types<BruteOf, GridOf, KdOf, KdWithHistogramOf, RTreeOf>;
TYPED_TEST_SUITE(IndexOracle, Kinds);

// Range sets are compared with NumPy in every index mode from Python and between the kinds by
// the index fuzzer; the full rankings, with the NaN points the kinds treat differently, here.
TYPED_TEST(IndexOracle, NearestDistancesEqualAFullSort) {
    const oracle::Points none{"empty", make_shared_array(Buffer<double>()), make_shared_array(Buffer<double>())};
    EXPECT_TRUE(TypeParam::make(none).nearest(0, 0, 5).empty());
    for (const auto& pts : oracle::all_sets(2000, 21)) {
        const auto index = TypeParam::make(pts);
        // A NaN query point matches nothing, whatever the other coordinate.
        std::vector<Neighbor> none_found;
        index.nearest(oracle::kNaN, 50, pts.size(), none_found);
        index.nearest(50, oracle::kNaN, 5, none_found);
        EXPECT_TRUE(none_found.empty()) << pts.name;
        // Every kind lists the points at +inf (the NaN ones) last, in ascending id.
        std::vector<u64> infinite;
        for (std::size_t i = 0; i < pts.size(); ++i) {
            if (!std::isfinite(oracle::dist2(pts, i, 0, 0))) infinite.push_back(i);
        }
        std::vector<Neighbor> buf;
        for (const auto& [x, y] : oracle::query_points(pts, 9, 25)) {
            const auto expected = oracle::sorted_dist2(pts, x, y);
            for (u64 k : {u64{1}, u64{5}, u64{37}, u64{pts.size()}, u64{pts.size() + 10}}) {
                const auto ids = index.nearest(x, y, k);
                const std::size_t want = std::min<std::size_t>(k, pts.size());
                ASSERT_EQ(ids.size(), want) << pts.name << " k=" << k;
                EXPECT_EQ(std::set<u64>(ids.begin(), ids.end()).size(), ids.size());
                std::vector<double> got;
                for (u64 id : ids) got.push_back(oracle::dist2(pts, id, x, y));
                EXPECT_EQ(got, std::vector<double>(expected.begin(), expected.begin() + static_cast<long>(want)))
                    << pts.name << " query " << x << "," << y << " k=" << k;
                const std::size_t tail = want - std::min(want, pts.size() - infinite.size());
                EXPECT_EQ(std::vector<u64>(ids.end() - static_cast<long>(tail), ids.end()),
                          std::vector<u64>(infinite.begin(), infinite.begin() + static_cast<long>(tail)));
                // The buffer form appends the same ids with their squared distances.
                buf.assign(1, Neighbor{99, -1.0});
                index.nearest(x, y, k, buf);
                ASSERT_EQ(buf.size(), want + 1);
                for (std::size_t i = 0; i < want; ++i) {
                    if (std::isfinite(got[i])) {
                        EXPECT_EQ(buf[i + 1].dist2, got[i]);
                    }
                }
            }
        }
    }
}

}  // namespace
