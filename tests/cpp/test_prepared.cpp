// The prepared bands' own rules: built lazily, capped, safe on flat parts and long edges, built
// once under concurrent first use, and what they make of invalid rings. Their answers on valid
// polygons, the boundary included, are compared with the ring-by-ring test and with shapely
// through the public joins.
#include <atomic>
#include <cmath>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "polygon_fixture.hpp"
#include "query/geometry/part_contains_point.hpp"
#include "query/geometry/prepared_polygons.hpp"

using namespace vardelin;
using namespace vardelin::testing;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kPi = 3.141592653589793;

// Every part banded, so that contains always goes through the bands.
PreparedPolygons all_banded(const Layout& l) { return PreparedPolygons(std::vector<std::uint8_t>(l.parts(), 1)); }

bool banded_contains(const PreparedPolygons& p, const Layout& l, u64 part, double x, double y) {
    return p.contains(part, l.part_layout(), x, y);
}

bool raw(const Layout& l, u64 part, double x, double y) {
    return part_contains_point(l.part_layout(), part, x, y);
}

const PartBands& bands_of(const PreparedPolygons& p, const Layout& l, u64 part) {
    return p.bands(part, l.part_layout());
}

// A random valid polygon with holes: a star-shaped exterior whose vertices keep at least 0.7 of
// the radius with angular gaps small enough that it holds the disc of radius 0.58, and up to
// four star-shaped holes inside that disc, apart from each other.
Rings random_polygon(std::mt19937_64& rng, double cx, double cy, double radius, int exterior_vertices, int holes) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Rings part;
    Ring ext;
    for (int i = 0; i < exterior_vertices; ++i) {
        const double a = 2 * kPi * (i + 0.5 * unit(rng)) / exterior_vertices;
        const double r = radius * (0.7 + 0.3 * unit(rng));
        ext.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
    }
    part.push_back(ext);
    const double hole_radius = radius * std::min(0.15, 0.35 * std::sin(kPi / std::max(holes, 2)));
    for (int h = 0; h < holes; ++h) {
        const double a = 2 * kPi * h / holes;
        const double hx = cx + 0.4 * radius * std::cos(a), hy = cy + 0.4 * radius * std::sin(a);
        const int m = 3 + static_cast<int>(unit(rng) * 40);
        Ring hole;
        for (int i = 0; i < m; ++i) {
            const double b = -2 * kPi * (i + 0.5 * unit(rng)) / m;  // clockwise
            const double r = hole_radius * (0.5 + 0.5 * unit(rng));
            hole.push_back({hx + r * std::cos(b), hy + r * std::sin(b)});
        }
        part.push_back(hole);
    }
    return part;
}

}  // namespace

TEST(PreparedPolygons, BandsAreBuiltLazilyCappedAndSafeOnFlatParts) {
    auto polygon_with = [](int n) {
        Ring r;
        for (int i = 0; i < n; ++i) r.push_back({std::cos(2 * kPi * i / n), std::sin(2 * kPi * i / n)});
        return r;
    };
    Ring flat;  // no height: one band holds every edge, and no division by zero
    for (int i = 0; i < 40; ++i) flat.push_back({static_cast<double>(i), 3.0});
    Layout l;
    l.add({polygon_with(32)});
    l.add({polygon_with(100000)});
    l.add({polygon_with(40), {{0, 0}}});  // a ring of one coordinate adds no edge
    l.add({flat});
    const PreparedPolygons p = all_banded(l);
    EXPECT_EQ(p.built_bands(0), nullptr);
    EXPECT_EQ(bands_of(p, l, 0).band_count(), 4u);
    EXPECT_EQ(p.built_bands(0), &bands_of(p, l, 0));
    EXPECT_EQ(bands_of(p, l, 1).band_count(), 1024u);
    EXPECT_EQ(bands_of(p, l, 2).edges.size(), 80u);
    const PartBands& one = bands_of(p, l, 3);
    EXPECT_EQ(one.inv_h, 0.0);
    EXPECT_EQ(one.band_of(3.0), 0u);
    EXPECT_EQ(one.band_offsets[1] - one.band_offsets[0], 40u);
    EXPECT_FALSE(banded_contains(p, l, 3, 5, 3));
}

// On invalid rings the two answers part: part_contains_point (and an unbanded part) goes ring by ring,
// the bands count crossings over all rings at once.
TEST(PreparedPolygons, DegenerateRingsRawAndBanded) {
    Layout d;
    d.add({square(0, 0, 10), square(2, 2, 4), square(4, 4, 4)});  // overlapping holes
    d.add({square(0, 0, 10), square(20, 20, 2)});                 // hole outside the exterior
    d.add({{{0, 0}, {10, 10}}, square(4, 4, 2)});                 // exterior of 2 coordinates
    d.add({square(0, 0, 10), {{4, 4}, {6, 6}}});                  // hole of 2 coordinates
    d.add({});                                                    // no rings
    const PreparedPolygons unbanded(std::vector<std::uint8_t>(5, 0));
    const PreparedPolygons banded = all_banded(d);
    const double probes[][5] = {  // part, x, y, part_contains_point, banded (-1: where a ray meets the point itself)
        {0, 5, 5, 0, 1}, {0, 3, 3, 0, 0}, {0, 7, 7, 0, 0}, {0, 9, 1, 1, 1}, {1, 21, 21, 0, 1}, {1, 5, 5, 1, 1},
        {2, 5, 5, 0, 1}, {2, 0.5, 0.5, 0, -1}, {2, 9.5, 9.5, 0, -1}, {3, 5, 5, 1, -1}, {4, 0, 0, 0, 0}};
    for (const auto& q : probes) {
        const auto part = static_cast<u64>(q[0]);
        EXPECT_EQ(raw(d, part, q[1], q[2]), q[3] == 1) << q[0] << " " << q[1] << "," << q[2];
        EXPECT_EQ(banded_contains(unbanded, d, part, q[1], q[2]), q[3] == 1) << q[0] << " " << q[1] << "," << q[2];
        if (q[4] >= 0) {
            EXPECT_EQ(banded_contains(banded, d, part, q[1], q[2]), q[4] == 1) << q[0] << " " << q[1] << "," << q[2];
        }
    }
    EXPECT_EQ(unbanded.built_bands(0), nullptr);
}

TEST(PreparedPolygons, LongEdgesFallBackToFewerBandsWithTheSameAnswers) {
    // A comb: every edge spans the whole height, so 1024 bands would store each edge 1024 times.
    Ring comb;
    for (int i = 0; i < 4500; ++i) {
        comb.push_back({2.0 * i, 0.0});
        comb.push_back({2.0 * i + 1, 100.0});
    }
    Layout l;
    l.add({comb});
    const PreparedPolygons p = all_banded(l);
    const PartBands& b = bands_of(p, l, 0);
    EXPECT_TRUE(b.band_count() >= 1 && b.band_count() < 1024u);
    EXPECT_LE(b.band_edges.size(), 9000u * kMaxBandEntriesPerEdge);
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> ux(-5, 9005), uy(-5, 105);
    for (int i = 0; i < 1000; ++i) {
        const double x = ux(rng), y = uy(rng);
        EXPECT_EQ(banded_contains(p, l, 0, x, y), raw(l, 0, x, y)) << x << "," << y;
    }
}

TEST(PreparedPolygons, ConcurrentFirstUseBuildsOnce) {
    std::mt19937_64 rng(3);
    Layout l;
    l.add(random_polygon(rng, 0, 0, 10, 600, 3));
    const PreparedPolygons p = all_banded(l);
    constexpr int kThreads = 8;
    std::vector<const PartBands*> seen(kThreads, nullptr);
    std::atomic<int> ready{0}, wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
            }
            for (int i = 0; i < 200; ++i) {
                const double x = -12 + 24.0 * ((i * 37 + t * 11) % 200) / 200, y = -12 + 24.0 * ((i * 53) % 200) / 200;
                if (banded_contains(p, l, 0, x, y) != raw(l, 0, x, y)) wrong.fetch_add(1);
            }
            seen[static_cast<std::size_t>(t)] = p.built_bands(0);
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
    for (const PartBands* s : seen) EXPECT_EQ(s, seen[0]);
    EXPECT_NE(seen[0], nullptr);
}

TEST(PreparedPolygons, OutOfRangePartIsAnInternalError) {
    Layout l;
    l.add({square(0, 0, 1)});
    const PreparedPolygons p = all_banded(l);
    // A NaN coordinate takes band 0 and lies in no part.
    EXPECT_EQ(bands_of(p, l, 0).band_of(kNaN), 0u);
    EXPECT_FALSE(banded_contains(p, l, 0, 0.5, kNaN) || banded_contains(p, l, 0, kNaN, 0.5));
    EXPECT_THROW(banded_contains(p, l, 1, 0.5, 0.5), InternalError);
    EXPECT_EQ(p.built_bands(1), nullptr);
    // A ring past the coordinates reads as empty, as everywhere else: nothing is inside.
    Layout broken = l;
    broken.ring_offsets.back() = 50;
    const PreparedPolygons q = all_banded(broken);
    EXPECT_FALSE(banded_contains(q, broken, 0, 0.5, 0.5));
}
