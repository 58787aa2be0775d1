// The exact polygon kNN search relies on its own box distances agreeing with the index's to the
// last bit (it tells the parts the index left out by distance alone); here both index kinds
// against the shared measure, and the search over both against a full ranking, on a lattice
// full of equal distances.
#include <algorithm>
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
#include "query/batch/polygon_knn.hpp"
#include "query/geometry/polygon_access.hpp"

using namespace vardelin;
using namespace vardelin::testing;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Squares with ties, empty parts and a hole (square_parts), then parts reaching to infinity and
// a part whose x coordinates are all NaN.
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

// The k smallest exact distances over every part, per logical polygon (parts p and p + 1 of
// each even p share polygon p / 2 here).
std::vector<double> ranked_distances(const PolygonKnnInput& in, double x, double y, u64 k) {
    std::map<u32, double> best;
    for (u64 p = 0; p < in.part_count(); ++p) {
        const double d = query::geometry::point_to_polygon_distance(in.layout, p, x, y);
        const u32 id = in.polygon_of(p);
        if (!best.count(id) || d < best[id]) best[id] = d;
    }
    std::vector<double> out;
    for (const auto& [id, d] : best) out.push_back(d);
    std::sort(out.begin(), out.end());
    out.resize(std::min<std::size_t>(out.size(), k));
    return out;
}

TEST(PolygonKnn, SearchOverEitherIndexFindsTheExactNearest) {
    const Layout l = tricky_parts();
    const PolygonLayout layout = l.part_layout();
    const Buffer<Box> boxes = part_boxes_parallel(layout);
    std::vector<u32> part_poly(l.parts());
    for (u32 p = 0; p < part_poly.size(); ++p) part_poly[p] = p / 2;
    const BruteForce brute = BruteForce::over_parts(layout);
    const PackedRTree tree = PackedRTree::over_parts(layout);
    KnnScratch s = KnnScratch::with_capacity(l.parts(), l.parts());
    for (const u64 k : {u64{1}, u64{2}, u64{5}, u64{17}, u64{l.parts()}}) {
        const PolygonKnnInput in{layout, boxes, part_poly, k, (l.parts() + 1) / 2};
        for (const auto& [x, y] : probes()) {
            if (!std::isfinite(x) || !std::isfinite(y)) continue;
            const std::vector<double> want = ranked_distances(in, x, y, k);
            std::vector<std::vector<NearestPolygon>> got;
            knn_polys_exact(brute, in, s, x, y);
            got.push_back(s.best);
            knn_polys_exact(tree, in, s, x, y);
            got.push_back(s.best);
            for (const auto& best : got) {
                ASSERT_EQ(best.size(), want.size()) << k << " at " << x << "," << y;
                for (std::size_t i = 0; i < want.size(); ++i) {
                    EXPECT_EQ(best[i].distance, want[i]) << k << " at " << x << "," << y << " slot " << i;
                    // The entry's own polygon is at that distance, by its nearer part.
                    const double d0 = query::geometry::point_to_polygon_distance(layout, 2 * best[i].id, x, y);
                    const double d1 = query::geometry::point_to_polygon_distance(layout, 2 * best[i].id + 1, x, y);
                    EXPECT_EQ(std::fmin(d0, d1), best[i].distance);
                }
            }
        }
    }
    // A NaN query point is searched for nothing.
    const PolygonKnnInput in{layout, boxes, part_poly, 3, (l.parts() + 1) / 2};
    knn_polys_exact(tree, in, s, std::nan(""), 1.0);
    EXPECT_TRUE(s.best.empty());
}

}  // namespace
