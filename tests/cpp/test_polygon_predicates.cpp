#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "polygon_fixture.hpp"
#include "query/geometry/part_contains_point.hpp"
#include "query/geometry/part_meets_box.hpp"

using namespace vardelin;
using namespace vardelin::testing;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

bool pip(const Layout& l, u64 part, double x, double y) {
    return part_contains_point(l.part_layout(), part, x, y);
}

bool meets(const Layout& l, u64 part, double min_x, double min_y, double max_x, double max_y) {
    return part_meets_box(l.part_layout(), part, Box{min_x, min_y, max_x, max_y});
}

}  // namespace

// The boundary rule and invalid rings are checked in test_prepared.cpp beside the bands.
// Broken offsets read as a part without rings (the layout's one rule), never past the arrays.
TEST(PipRaw, BrokenOffsetsContainAndMeetNothing) {
    Layout l;
    l.add({square(0, 0, 1)});
    EXPECT_TRUE(pip(l, 0, 0.5, 0.5));
    EXPECT_FALSE(pip(l, 1, 0.5, 0.5));
    EXPECT_FALSE(pip(l, ~u64{0}, 0.5, 0.5));
    Layout past_coords = l;
    past_coords.ring_offsets.back() = 99;
    Layout past_rings = l;
    past_rings.poly_offsets.back() = 5;
    Layout negative = l;
    negative.ring_offsets.front() = -1;
    Layout decreasing = l;
    decreasing.poly_offsets = {1, 0};
    for (const Layout* broken : {&past_coords, &past_rings, &negative, &decreasing}) {
        EXPECT_FALSE(pip(*broken, 0, 0.5, 0.5));
        EXPECT_FALSE(meets(*broken, 0, 0, 0, 1, 1));
    }
}

TEST(BoxPredicate, StagesAndHoles) {
    Layout l;
    l.add({square(0, 0, 10), square(4, 4, 2)});
    EXPECT_TRUE(meets(l, 0, 4.5, 4.5, 5.5, 5.5));  // inside the hole: holes are ignored
    EXPECT_TRUE(meets(l, 0, 1, 1, 2, 2));          // inside the exterior: corner test
    EXPECT_TRUE(meets(l, 0, -5, -5, 15, 15));      // polygon inside the box: vertex test
    EXPECT_TRUE(meets(l, 0, -1, 2, 1, 3));         // thin box across the left edge: edge test
    EXPECT_TRUE(meets(l, 0, 10, 3, 12, 4));        // touches the right edge from outside
    // A zero-width box lying on an edge: its only crossing edges are parallel to the ring's.
    EXPECT_FALSE(meets(l, 0, 10, 3, 10, 4));
    EXPECT_FALSE(meets(l, 0, 11, 11, 12, 12));
    EXPECT_FALSE(meets(l, 0, kNaN, kNaN, kNaN, kNaN));

    Layout diamond;
    diamond.add({{{0, -1}, {1, 0}, {0, 1}, {-1, 0}}});
    EXPECT_TRUE(meets(diamond, 0, 0.5, 0.5, 2, 2));  // box corner on an edge only
    EXPECT_FALSE(meets(diamond, 0, 0.51, 0.51, 2, 2));
    EXPECT_TRUE(meets(diamond, 0, 0.4, -0.7, 0.6, 0.7));  // crossed by edges, no vertex or corner inside
}

TEST(BoxPredicate, PointsSegmentsAndTheParallelGuard) {
    Layout l;
    l.add({{{3, 3}}});            // one coordinate: a point
    l.add({{{0, 0}, {10, 10}}});  // two: a segment
    l.add({{}});                  // an empty exterior
    l.add({});                    // no rings
    EXPECT_TRUE(meets(l, 0, 3, 3, 3, 3));
    EXPECT_FALSE(meets(l, 0, 3.5, 3.5, 4, 4));
    EXPECT_TRUE(meets(l, 1, 4, 4.5, 4.6, 6));  // crossed, no vertex inside
    EXPECT_TRUE(meets(l, 1, 4, 6, 6, 6.5));    // touches the box corner (6, 6)
    EXPECT_FALSE(meets(l, 1, 4, 5.5, 4.4, 6));
    EXPECT_FALSE(meets(l, 2, -1, -1, 1, 1));
    EXPECT_FALSE(meets(l, 3, -1, -1, 1, 1));

    // The same crossing at two scales: below 2^-52 the cross product makes the edges count as
    // parallel, so the tiny one is missed.
    Layout big, tiny;
    big.add({{{-2, 0}, {2, 0}}});
    tiny.add({{{-2e-9, 0}, {2e-9, 0}}});
    EXPECT_TRUE(meets(big, 0, -1, -1, 1, 1));
    EXPECT_FALSE(meets(tiny, 0, -1e-9, -1e-9, 1e-9, 1e-9));
    // An infinite bound makes the box's zero components NaN (inf - inf), and a NaN edge
    // crosses nothing: the segment through this half-open box is not found by the edge test.
    EXPECT_FALSE(meets(big, 0, -1, -kInf, 1, 5));
    EXPECT_TRUE(meets(big, 0, -1, -5, 1, 5));
}
