#include <algorithm>

#include <gtest/gtest.h>

#include "index/grid.hpp"
#include "index_oracle.hpp"

using namespace vardelin;

namespace {

UniformGrid grid_of(Buffer<double> xs, Buffer<double> ys) {
    return UniformGrid::over_points(make_shared_array(std::move(xs)), make_shared_array(std::move(ys)));
}

std::vector<u64> sorted(std::vector<u64> v) {
    std::sort(v.begin(), v.end());
    return v;
}

TEST(UniformGrid, RangeComesOutCellByCellIdsAscending) {
    // side 2, cells of 0.5: (1,1) is cell 3, (0,0) cell 0, (1,0) cell 1, (0,1) cell 2.
    EXPECT_EQ(grid_of({1, 0, 1, 0}, {1, 0, 0, 1}).range({0, 0, 1, 1}), (std::vector<u64>{1, 2, 3, 0}));
    EXPECT_EQ(grid_of({1, 0, 0, 1}, {1, 0, 0, 1}).range({0, 0, 1, 1}), (std::vector<u64>{1, 2, 0, 3}));
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

}  // namespace
