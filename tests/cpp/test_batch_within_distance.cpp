// The within-distance kernels over the four index types and from the query side, checked pair
// for pair against a plain double loop, so that the sanitizer builds walk the gather of runs.
// NaN and negative distances, geographic and flipped, are checked in every mode from Python.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/point_spans.hpp"
#include "index/brute.hpp"
#include "index/grid.hpp"
#include "index/kdtree.hpp"
#include "index/rtree.hpp"
#include "index_oracle.hpp"
#include "query/batch/flipped_within_distance.hpp"
#include "query/batch/within_distance.hpp"

using namespace vardelin;

namespace {

using Pairs = std::vector<std::pair<u32, u32>>;

Pairs as_pairs(const Buffer<u32>& flat) {
    Pairs out;
    for (std::size_t i = 0; i + 1 < flat.size(); i += 2) out.emplace_back(flat[i], flat[i + 1]);
    return out;
}

Pairs sorted(Pairs p) {
    std::sort(p.begin(), p.end());
    return p;
}

Pairs plain_loop(const PointSpans& queries, const PointSpans& data, double d) {
    Pairs out;
    for (std::size_t q = 0; q < queries.size(); ++q) {
        for (std::size_t e = 0; e < data.size(); ++e) {
            const double dx = data.x(e) - queries.x(q), dy = data.y(e) - queries.y(q);
            if (dx * dx + dy * dy <= d * d) out.emplace_back(static_cast<u32>(q), static_cast<u32>(e));
        }
    }
    return out;
}

template <class Index>
void check_direct(const Index& index, const PointSpans& queries, double d, const Pairs& want) {
    const Pairs got = as_pairs(within_distance_planar(index, queries, d));
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end(), [](auto& a, auto& b) { return a.first < b.first; }));
    EXPECT_EQ(sorted(got), want);
}

}  // namespace

TEST(BatchWithinDistance, EveryIndexAndTheFlippedFormAgreeWithAPlainLoop) {
    for (const oracle::Points& set : oracle::all_sets(1200, 41)) {
        const PointSpans data(view(set.xs), view(set.ys));
        const oracle::Points q = oracle::make_points("nan", 1500, 7);
        const PointSpans queries(view(q.xs), view(q.ys));
        for (const double d : {0.0, 1.5, 6.0}) {
            SCOPED_TRACE(set.name + " d=" + std::to_string(d));
            const Pairs want = plain_loop(queries, data, d);
            check_direct(BruteForce::over_points(set.xs, set.ys), queries, d, want);
            check_direct(UniformGrid::over_points(set.xs, set.ys), queries, d, want);
            check_direct(PackedKdTree::over_points(set.xs, set.ys), queries, d, want);
            check_direct(PackedRTree::over_points(data), queries, d, want);
            const Pairs flipped = as_pairs(par_within_distance_flipped(queries, data, d, false));
            EXPECT_TRUE(std::is_sorted(flipped.begin(), flipped.end(),
                                       [](auto& a, auto& b) { return a.second < b.second; }));
            EXPECT_EQ(sorted(flipped), want);
        }
    }
}
