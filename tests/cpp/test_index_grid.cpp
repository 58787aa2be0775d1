#include <algorithm>

#include <gtest/gtest.h>

#include "index/grid.hpp"
#include "index_oracle.hpp"

using namespace vardelin;

namespace {

UniformGrid grid_of(Buffer<double> xs, Buffer<double> ys) {
    return UniformGrid::build(make_shared_array(std::move(xs)), make_shared_array(std::move(ys)));
}

TEST(UniformGrid, SideAndBytes) {
    EXPECT_EQ(grid_of({}, {}).side(), 1u);
    EXPECT_EQ(grid_of({}, {}).bytes(), 8u);  // cell_start = [0, 0]
    EXPECT_EQ(grid_of({1}, {1}).side(), 1u);
    EXPECT_EQ(grid_of({1, 2}, {1, 2}).side(), 2u);
    EXPECT_EQ(grid_of({1, 2, 3, 4}, {1, 2, 3, 4}).side(), 2u);
    const auto ten = grid_of(Buffer<double>(10, 1.0), Buffer<double>(10, 2.0));
    EXPECT_EQ(ten.side(), 4u);
    EXPECT_EQ(ten.bytes(), 4u * (17 + 10));
}

TEST(UniformGrid, RangeComesOutCellByCellIdsAscending) {
    // side 2, cells of 0.5: (1,1) is cell 3, (0,0) cell 0, (1,0) cell 1, (0,1) cell 2.
    EXPECT_EQ(grid_of({1, 0, 1, 0}, {1, 0, 0, 1}).range({0, 0, 1, 1}), (std::vector<u64>{1, 2, 3, 0}));
    EXPECT_EQ(grid_of({1, 0, 0, 1}, {1, 0, 0, 1}).range({0, 0, 1, 1}), (std::vector<u64>{1, 2, 0, 3}));
}

TEST(UniformGrid, PointOnTheMaximumEdgeIsFound) {
    // side 2, cell width 1.5: x = 3 lands in the last column.
    const auto g = grid_of({0, 1, 2, 3}, {5, 5, 5, 5});
    EXPECT_EQ(g.range({3, 5, 3, 5}), (std::vector<u64>{3}));
    EXPECT_EQ(g.range({-1, 0, 10, 10}).size(), 4u);
    EXPECT_TRUE(g.range({4, 0, 10, 10}).empty());
}

TEST(UniformGrid, FlatAndInfiniteExtentsStayExact) {
    const auto line = oracle::make_points("uniform", 200, 8);
    Buffer<double> xs(200, 7.0);
    const oracle::Points vertical{"line", make_shared_array(std::move(xs)), line.ys};
    const auto g = UniformGrid::build(vertical.xs, vertical.ys);
    for (const Box& q : oracle::query_boxes(3, 20)) {
        auto got = g.range(q);
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, oracle::range(vertical, q));
    }
    const auto far = oracle::sorted_dist2(vertical, 50, 50);
    std::vector<double> got;
    for (u64 id : g.nearest(50, 50, 5)) got.push_back(oracle::dist2(vertical, id, 50, 50));
    EXPECT_EQ(got, std::vector<double>(far.begin(), far.begin() + 5));

    // An infinite coordinate makes the cells infinitely wide; answers stay exact.
    const auto inf = grid_of({1, 2, 3, 4, 5, oracle::kInf}, {1, 2, 3, 4, -oracle::kInf, 6});
    EXPECT_EQ(inf.nearest(4.5, 3.0, 3), (std::vector<u64>{3, 2, 1}));
    auto in = inf.range({0, 0, 10, 10});
    std::sort(in.begin(), in.end());
    EXPECT_EQ(in, (std::vector<u64>{0, 1, 2, 3}));
}

TEST(UniformGrid, NaNQueryPointStillGivesKIds) {
    const auto pts = oracle::make_points("uniform", 400, 5);
    const auto g = UniformGrid::build(pts.xs, pts.ys);
    EXPECT_EQ(g.nearest(oracle::kNaN, 5, 7).size(), 7u);
    EXPECT_EQ(g.nearest(oracle::kNaN, oracle::kNaN, 500).size(), 400u);
}

}  // namespace
