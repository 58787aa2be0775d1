// Subsets are compared with NumPy slicing and shapely from Python, polygons without parts and
// parts without rings included; here a source whose offsets do not start at zero.
#include <vector>

#include <gtest/gtest.h>

#include "engine/construction.hpp"
#include "polygon_fixture.hpp"

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
