// The grid and the k-d tree build in parallel; both must come out exactly as the sequential
// description builds them, whatever the number of worker threads.
#include <algorithm>
#include <cmath>
#include <numeric>

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include "index/grid.hpp"
#include "index/kdtree.hpp"
#include "index_oracle.hpp"

using namespace vardelin;

namespace {

// Several chunks of the grid's counting sort and several parallel halves of the k-d tree;
// a few NaN coordinates and exact duplicates on top.
oracle::Points big_points(const std::string& kind) {
    const auto base = oracle::make_points(kind, 300'000, 21);
    Buffer<double> xs(base.xs->begin(), base.xs->end()), ys(base.ys->begin(), base.ys->end());
    for (std::size_t i = 0; i < xs.size(); i += 9973) xs[i] = oracle::kNaN;
    for (std::size_t i = 5; i < ys.size(); i += 7919) ys[i] = oracle::kNaN;
    for (std::size_t i = 1000; i < 2000; ++i) xs[i] = xs[999], ys[i] = ys[999];
    return {kind, make_shared_array(std::move(xs)), make_shared_array(std::move(ys))};
}

const Box kEverything{-oracle::kInf, -oracle::kInf, oracle::kInf, oracle::kInf};

TEST(ParallelBuilds, GridStoresIdsAsOneSequentialCountingSortByCell) {
    for (const char* kind : {"uniform", "clustered"}) {
        const auto pts = big_points(kind);
        const auto g = UniformGrid::over_points(pts.xs, pts.ys);
        const std::size_t n = pts.size(), side = g.side();
        double min_x = oracle::kInf, min_y = oracle::kInf, max_x = -oracle::kInf, max_y = -oracle::kInf;
        for (std::size_t i = 0; i < n; ++i) {
            min_x = std::fmin(min_x, (*pts.xs)[i]), max_x = std::fmax(max_x, (*pts.xs)[i]);
            min_y = std::fmin(min_y, (*pts.ys)[i]), max_y = std::fmax(max_y, (*pts.ys)[i]);
        }
        const double w = (max_x - min_x) / static_cast<double>(side), h = (max_y - min_y) / static_cast<double>(side);
        const auto cell = [&](double v, double lo, double size) {
            const double c = std::floor((v - lo) / size);
            return !(c > 0.0) ? std::size_t{0} : std::min(static_cast<std::size_t>(c), side - 1);
        };
        std::vector<u64> expected(n);
        std::iota(expected.begin(), expected.end(), u64{0});
        std::stable_sort(expected.begin(), expected.end(), [&](u64 a, u64 b) {
            return cell((*pts.ys)[a], min_y, h) * side + cell((*pts.xs)[a], min_x, w) <
                   cell((*pts.ys)[b], min_y, h) * side + cell((*pts.xs)[b], min_x, w);
        });
        std::vector<u64> stored;
        g.bbox_cell_range(kEverything, [&](u32 id) { stored.push_back(id); });
        EXPECT_EQ(stored, expected) << kind;
        // Wrong cell bounds would lose points of the cells under a box.
        for (const Box& q : oracle::query_boxes(4, 50)) {
            std::vector<u64> got = g.range(q);
            std::sort(got.begin(), got.end());
            EXPECT_EQ(got, oracle::range(pts, q)) << kind;
        }
    }
}

TEST(ParallelBuilds, KdTreeIsTheSameOnOneThreadAndOnAll) {
    const auto pts = big_points("clustered");
    const auto all = PackedKdTree::over_points(pts.xs, pts.ys);
    const auto one = [&] {
        tbb::global_control single(tbb::global_control::max_allowed_parallelism, 1);
        return PackedKdTree::over_points(pts.xs, pts.ys);
    }();
    ASSERT_EQ(all.bytes(), one.bytes());
    // Range answers come in walk order, which spells out the whole layout.
    EXPECT_EQ(all.range(kEverything), one.range(kEverything));
    for (const Box& q : oracle::query_boxes(5, 50)) EXPECT_EQ(all.range(q), one.range(q));
    EXPECT_EQ(all.nearest(50, 50, 100), one.nearest(50, 50, 100));
}

}  // namespace
