#include <algorithm>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "index/rtree.hpp"
#include "index_oracle.hpp"

using namespace vardelin;

namespace {

std::vector<u64> sorted(std::vector<u64> v) {
    std::sort(v.begin(), v.end());
    return v;
}

TEST(PackedRTree, NodeCountsSingleItemAndWideIds) {
    EXPECT_EQ(PackedRTree::node_count(0), 0u);
    EXPECT_EQ(PackedRTree::node_count(1), 1u);
    EXPECT_EQ(PackedRTree::node_count(16), 17u);
    EXPECT_EQ(PackedRTree::node_count(17), 20u);
    EXPECT_EQ(PackedRTree::node_count(4294967295ULL), 4294967295ULL + 268435456 + 16777216 + 1048576 + 65536 + 4096 + 256 + 16 + 1);

    const std::vector<double> xs{3}, ys{4};
    const auto one = PackedRTree::over_points({xs, ys});
    EXPECT_EQ(one.range({3, 4, 5, 5}), (std::vector<u64>{0}));
    EXPECT_TRUE(one.range({3.5, 4, 5, 5}).empty());
    EXPECT_EQ(one.nearest(100, -100, 9), (std::vector<u64>{0}));

    // 15500 items make 16535 nodes: ids are 4 bytes wide.
    const auto pts = oracle::make_points("clustered", 15500, 3);
    const auto t = PackedRTree::over_points({view(pts.xs), view(pts.ys)});
    for (const Box& q : oracle::query_boxes(6, 10)) EXPECT_EQ(sorted(t.range(q)), oracle::range(pts, q));
    const auto ids = t.nearest(50, 50, 50);
    const auto expected = oracle::sorted_dist2(pts, 50, 50);
    for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(oracle::dist2(pts, ids[i], 50, 50), expected[i]);
}

TEST(RTreeScratch, OneSearchPerThreadAtATime) {
    const auto pts = oracle::make_points("uniform", 2000, 9);
    const auto t = PackedRTree::over_points({view(pts.xs), view(pts.ys)});
    std::vector<u32> via_lease;
    {
        SearchQueueLease queue;
        EXPECT_THROW(SearchQueueLease{}, InternalError);
        NeighborQueueLease heap;  // the two containers are independent
        EXPECT_THROW(NeighborQueueLease{}, InternalError);
        t.for_each_in_range({10, 10, 30, 30}, *queue, [&](u32 id) { via_lease.push_back(id); });
        std::vector<Neighbor> found;
        t.nearest(50, 50, 10, found, *heap);
        EXPECT_EQ(found.size(), 10u);
    }
    SearchQueueLease again;  // released at the end of the scope
    EXPECT_EQ(std::vector<u64>(via_lease.begin(), via_lease.end()), t.range({10, 10, 30, 30}));
}

}  // namespace
