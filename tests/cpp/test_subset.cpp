// The offsets and part map of a subset, which Python only sees through queries.
#include <vector>

#include <gtest/gtest.h>

#include "engine/construction.hpp"
#include "polygon_fixture.hpp"
#include "subset/subset.hpp"

using namespace vardelin;
using vardelin::testing::Layout;
using vardelin::testing::shared;
using vardelin::testing::square;

namespace {

template <class T>
std::vector<T> values(const SharedArray<T>& a) {
    return a ? std::vector<T>(a->begin(), a->end()) : std::vector<T>{};
}

}  // namespace

TEST(Subset, LogicalPolygonsAndEmptyPolygons) {
    // part 0: square at 0 with a hole; part 1: no rings; parts 2 and 3: squares at 10 and 20.
    // Polygon 0 = parts 0 and 3, polygon 2 = part 2, polygon 4 = part 1; 1 and 3 have no parts.
    Layout l;
    l.add({square(0, 0, 4), square(1, 1, 1)});
    l.add({});
    l.add({square(10, 0, 1)});
    l.add({square(20, 0, 1)});
    const Engine src = new_polygons(shared(l.xs), shared(l.ys), shared(l.ring_offsets), shared(l.poly_offsets),
                                    shared(std::vector<u32>{0, 4, 2, 0}), 5);
    const std::vector<u32> idx{0, 1, 4, 0};
    const Engine sub = subset(src, idx);
    EXPECT_EQ(sub.logical_count, 4u);
    EXPECT_EQ(values(sub.part_poly), (std::vector<u32>{0, 0, 2, 3, 3}));
    EXPECT_EQ(values(sub.poly_offsets), (std::vector<i64>{0, 2, 3, 3, 5, 6}));
    EXPECT_EQ(values(sub.ring_offsets), (std::vector<i64>{0, 4, 8, 12, 16, 20, 24}));
    EXPECT_EQ(sub.xs->size(), 24u);
    EXPECT_EQ((*sub.xs)[8], 20.0);

    const Engine none = subset(src, {});
    ASSERT_TRUE(none.part_poly);  // present and empty, as the source had one
    EXPECT_TRUE(none.part_poly->empty());
    EXPECT_EQ(none.logical_count, 0u);
    EXPECT_EQ(values(none.poly_offsets), (std::vector<i64>{0}));
    EXPECT_EQ(values(none.ring_offsets), (std::vector<i64>{0}));

    // Polygons without parts only: logical polygons but no part.
    const Engine hollow = subset(src, std::vector<u32>{1, 3});
    EXPECT_EQ(hollow.logical_count, 2u);
    EXPECT_TRUE(hollow.part_poly && hollow.part_poly->empty());
    EXPECT_EQ(hollow.stats.n, 0u);
}

TEST(Subset, OffsetsNeedNotStartAtZeroInTheSource) {
    // Vertices before the first ring belong to no ring and are not copied.
    Layout l;
    l.xs = {99, 99, 0, 1, 1};
    l.ys = {99, 99, 0, 0, 1};
    l.ring_offsets = {2, 5};
    l.poly_offsets = {0, 1};
    const Engine src = vardelin::testing::polygon_engine(l);
    const Engine sub = subset(src, std::vector<u32>{0});
    EXPECT_FALSE(sub.part_poly);
    EXPECT_EQ(values(sub.xs), (std::vector<double>{0, 1, 1}));
    EXPECT_EQ(values(sub.ring_offsets), (std::vector<i64>{0, 3}));
}
