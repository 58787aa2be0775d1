#include <algorithm>
#include <cmath>
#include <numeric>

#include <gtest/gtest.h>

#include "index/grid.hpp"
#include "index_oracle.hpp"

using namespace vardelin;

namespace {

std::vector<u64> sorted(std::vector<u64> v) {
    std::sort(v.begin(), v.end());
    return v;
}

TEST(UniformGrid, FlatExtents) {
    // All x equal: zero-width cells; answers stay exact.
    const auto line = oracle::make_points("uniform", 200, 8);
    const oracle::Points vertical{"line", make_shared_array(Buffer<double>(200, 7.0)), line.ys};
    const auto g = UniformGrid::over_points(vertical.xs, vertical.ys);
    for (const Box& q : oracle::query_boxes(3, 20)) EXPECT_EQ(sorted(g.range(q)), oracle::range(vertical, q));
    const auto far = oracle::sorted_dist2(vertical, 50, 50);
    std::vector<double> got;
    for (u64 id : g.nearest(50, 50, 5)) got.push_back(oracle::dist2(vertical, id, 50, 50));
    EXPECT_EQ(got, std::vector<double>(far.begin(), far.begin() + 5));
}

// The grid builds in parallel and must come out exactly as the sequential description builds
// it, whatever the number of worker threads (the k-d tree's build is compared on one thread
// and on all from Python): several chunks of the counting sort, NaN coordinates and duplicates.
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

}  // namespace
