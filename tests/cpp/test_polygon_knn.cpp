// The exact polygon kNN search relies on its own box distances agreeing with the index's to the
// last bit (it tells the parts the index left out by distance alone); here both index kinds
// against the shared measure, on a lattice full of equal distances and parts with infinite or
// NaN vertices, which both rank at +inf. The search itself is checked against shapely in every
// index mode, on a lattice of ties and with NaN query points, through the public kNN joins.
#include <bit>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "index/brute.hpp"
#include "index/part_boxes.hpp"
#include "index/rtree.hpp"
#include "index/search.hpp"
#include "polygon_fixture.hpp"

using namespace vardelin;
using namespace vardelin::testing;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Squares with ties, empty parts and a hole (square_parts), then parts with infinite vertices
// and a part whose x coordinates are all NaN: all three nowhere.
Layout tricky_parts() {
    Layout l = square_parts(57);
    l.add({{{-kInf, 0.0}, {1.0, 0.0}, {1.0, 1.0}}});
    l.add({{{0.0, 5.0}, {kInf, 5.0}, {3.0, kInf}}});
    l.add({{{std::nan(""), 1.0}, {std::nan(""), 2.0}, {std::nan(""), 3.0}}});
    return l;
}

std::vector<std::pair<double, double>> probes() {
    std::mt19937_64 gen(4);
    std::uniform_real_distribution<double> u(-6.0, 46.0);
    std::vector<std::pair<double, double>> q{{kInf, 3.0}, {-kInf, -kInf}, {1.0, 1.0}, {2.0, 2.0}, {4.0, 8.0}};
    for (int i = 0; i < 200; ++i) q.emplace_back(u(gen), u(gen));
    // Lattice points and midpoints: many parts at exactly equal box and exact distances.
    for (int i = -1; i < 12; ++i) q.emplace_back(4.0 * i + 3.0, 2.0 * i + 1.0);
    return q;
}

template <class Index>
std::map<u32, double> all_dist2(const Index& index, double x, double y) {
    std::vector<Neighbor> found;
    nearest_into(index, x, y, index.size(), found);
    std::map<u32, double> out;
    for (const Neighbor& n : found) out[n.id] = n.dist2;
    return out;
}

TEST(PolygonKnn, BothIndexesRankPartsByTheSharedBoxDistance) {
    const Layout l = tricky_parts();
    const PolygonLayout layout = l.part_layout();
    const Buffer<Box> boxes = part_boxes_parallel(layout);
    const BruteForce brute = BruteForce::over_parts(layout);
    const PackedRTree tree = PackedRTree::over_parts(layout);
    for (const auto& [x, y] : probes()) {
        const auto a = all_dist2(brute, x, y), b = all_dist2(tree, x, y);
        ASSERT_EQ(a.size(), l.parts());
        ASSERT_EQ(b.size(), l.parts());
        for (u32 p = 0; p < l.parts(); ++p) {
            const double want = part_is_empty(layout, p) ? kInf : box_dist2(boxes[p], x, y);
            EXPECT_EQ(std::bit_cast<u64>(a.at(p)), std::bit_cast<u64>(want)) << p << " at " << x << "," << y;
            EXPECT_EQ(std::bit_cast<u64>(b.at(p)), std::bit_cast<u64>(want)) << p << " at " << x << "," << y;
        }
    }
}

}  // namespace
