#include <gtest/gtest.h>

#include "polygon_fixture.hpp"
#include "query/range.hpp"

using namespace vardelin;
using namespace vardelin::testing;

namespace {

bool pip(const Layout& l, u64 part, double x, double y) {
    return pip_raw(l.part_layout(), part, x, y);
}

bool meets(const Layout& l, u64 part, double min_x, double min_y, double max_x, double max_y) {
    return polygon_intersects_bbox_raw(l.part_layout(), part, Box{min_x, min_y, max_x, max_y});
}

}  // namespace

// The point and box tests' answers, the boundary rule and every stage of the box test, are
// checked from Python in every index mode, invalid rings in test_prepared.cpp. Here the offsets
// no constructor accepts: they read as a part without rings (the layout's one rule), never past
// the arrays.
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
