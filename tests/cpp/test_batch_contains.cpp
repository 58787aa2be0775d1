#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "index/brute.hpp"
#include "index/rtree.hpp"
#include "index/search.hpp"
#include "polygon_fixture.hpp"
#include "query/batch/contains.hpp"

using namespace vardelin;
using namespace vardelin::testing;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Overlapping squares of random sizes, some with a hole, and the fixture's empty parts: many
// parts meet each point, so the order within a row shows.
Layout overlapping_parts(std::mt19937_64& gen) {
    Layout l = square_parts(40);
    std::uniform_real_distribution<double> at(0.0, 40.0), side(0.5, 12.0);
    for (int i = 0; i < 400; ++i) {
        const double x = at(gen), y = at(gen), s = side(gen);
        Rings part{square(x, y, s)};
        if (i % 3 == 0) part.push_back(square(x + s / 4, y + s / 4, s / 2));
        l.add(part);
    }
    return l;
}

// Points clustered and spread, with NaN and infinite coordinates among them.
std::vector<double> coordinates(std::mt19937_64& gen, std::size_t n) {
    std::uniform_real_distribution<double> spread(-5.0, 50.0);
    std::normal_distribution<double> near(20.0, 0.5);
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = i % 3 == 0 ? near(gen) : spread(gen);
    for (std::size_t i = 5; i < n; i += 101) v[i] = kNaN;
    for (std::size_t i = 9; i < n; i += 211) v[i] = i % 2 ? kInf : -kInf;
    return v;
}

// The join's rule written out per point: the index's own search at the point, each part tested
// exactly, each polygon once in first-found order.
template <class Index>
std::vector<u32> one_by_one(const Index& index, const ContainmentSide& side, const PointSpans& q) {
    std::vector<u32> out;
    for (std::size_t row = 0; row < q.size(); ++row) {
        const std::size_t first = out.size();
        side.for_each_containing_part(index, q.x(row), q.y(row), [&](u32 part) {
            const u32 g = side.polygon_of(part);
            for (std::size_t k = first + 1; k < out.size(); k += 2) {
                if (out[k] == g) return;
            }
            out.push_back(static_cast<u32>(row));
            out.push_back(g);
        });
    }
    return out;
}

}  // namespace

// The points are searched in groups along a curve; each row must still get exactly the
// polygons of its own search, in the index's order, whatever the order of the rows.
TEST(ContainsPairs, GroupSearchGivesEachRowItsOwnSearch) {
    std::mt19937_64 gen(11);
    const Layout l = overlapping_parts(gen);
    const PolygonLayout layout = l.part_layout();
    std::vector<u32> part_poly(l.parts());
    for (std::size_t p = 0; p < part_poly.size(); ++p) part_poly[p] = static_cast<u32>(p % 97);
    const auto xs = coordinates(gen, 20000), ys = coordinates(gen, 20000);
    const PointSpans queries(xs, ys);
    const PackedRTree tree = PackedRTree::over_parts(layout);
    const BruteForce brute = BruteForce::over_parts(layout);
    for (const bool grouped : {false, true}) {
        const ContainmentSide side(layout, nullptr, grouped ? std::span<const u32>(part_poly) : std::span<const u32>());
        const Buffer<u32> from_tree = contains_pairs(tree, side, queries);
        const Buffer<u32> from_brute = contains_pairs(brute, side, queries);
        EXPECT_EQ(std::vector<u32>(from_tree.begin(), from_tree.end()), one_by_one(tree, side, queries));
        EXPECT_EQ(std::vector<u32>(from_brute.begin(), from_brute.end()), one_by_one(brute, side, queries));
        EXPECT_GT(from_tree.size(), 20000u);
    }
}

TEST(ContainsPairs, RowMatchesOfAStretchOfRows) {
    std::mt19937_64 gen(12);
    const Layout l = overlapping_parts(gen);
    const PolygonLayout layout = l.part_layout();
    const auto xs = coordinates(gen, 5000), ys = coordinates(gen, 5000);
    const PointSpans queries(xs, ys);
    const PackedRTree tree = PackedRTree::over_parts(layout);
    const ContainmentSide side(layout, nullptr, {});
    const RowMatches whole = find_row_matches(tree, side, queries, 0, 5000);
    const RowMatches part = find_row_matches(tree, side, queries, 1200, 3700);
    ASSERT_EQ(part.rows(), 2500u);
    for (std::size_t i = 0; i < part.rows(); ++i) {
        const auto a = part.of(i), b = whole.of(1200 + i);
        EXPECT_EQ(std::vector<u32>(a.begin(), a.end()), std::vector<u32>(b.begin(), b.end()));
    }
    EXPECT_THROW(find_row_matches(tree, side, queries, 10, 5001), InternalError);
    EXPECT_THROW(find_row_matches(tree, ContainmentSide(layout, nullptr, {}), PointSpans(xs, ys), 3, 2), InternalError);
}

TEST(ContainsPairs, RefusesAnIndexOrMapOfAnotherLayout) {
    const Layout l = square_parts(20), other = square_parts(21);
    const std::vector<u32> short_map(19, 0);
    EXPECT_THROW(ContainmentSide(l.part_layout(), nullptr, short_map), InternalError);
    const ContainmentSide side(l.part_layout(), nullptr, {});
    const std::vector<double> x{1.0};
    EXPECT_THROW(contains_pairs(PackedRTree::over_parts(other.part_layout()), side, PointSpans(x, x)), InternalError);
}
