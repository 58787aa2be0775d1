#include <atomic>
#include <cmath>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include <boost/geometry.hpp>
#include <boost/geometry/geometries/point_xy.hpp>
#include <boost/geometry/geometries/polygon.hpp>
#include <gtest/gtest.h>

#include "core/error.hpp"
#include "polygon_fixture.hpp"
#include "query/geometry/part_contains_point.hpp"
#include "query/geometry/prepared_polygons.hpp"

using namespace vardelin;
using namespace vardelin::testing;
namespace bg = boost::geometry;

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

// A square of side 10 with a square hole, every side cut into `cuts` collinear edges so that
// the part has enough edges for bands; a closed ring repeats its first vertex.
Rings subdivided_square_with_hole(int cuts, bool closed) {
    auto ring = [cuts, closed](double x0, double y0, double side) {
        Ring r;
        const double corners[5][2] = {{x0, y0}, {x0 + side, y0}, {x0 + side, y0 + side}, {x0, y0 + side}, {x0, y0}};
        for (int c = 0; c < 4; ++c) {
            for (int k = 0; k < cuts; ++k) {
                const double t = static_cast<double>(k) / cuts;
                r.push_back({corners[c][0] + t * (corners[c + 1][0] - corners[c][0]),
                             corners[c][1] + t * (corners[c + 1][1] - corners[c][1])});
            }
        }
        if (closed) r.push_back(r.front());
        return r;
    };
    return {ring(0, 0, 10), ring(4, 4, 2)};
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

using BgPoint = bg::model::d2::point_xy<double>;
using BgPolygon = bg::model::polygon<BgPoint>;

BgPolygon to_boost(const Rings& part) {
    BgPolygon poly;
    for (std::size_t r = 0; r < part.size(); ++r) {
        auto& ring = r == 0 ? poly.outer() : (poly.inners().emplace_back(), poly.inners().back());
        for (auto [x, y] : part[r]) ring.push_back(BgPoint(x, y));
    }
    bg::correct(poly);
    return poly;
}

}  // namespace

TEST(PreparedPolygons, BoundaryRuleMatchesPipRawOnOpenAndClosedRings) {
    Layout l;
    l.add(subdivided_square_with_hole(10, false));
    l.add(subdivided_square_with_hole(10, true));
    const PreparedPolygons p = all_banded(l);
    const double probes[][3] = {
        {0, 5, 1}, {0, 0, 1}, {5, 0, 1},    // left and bottom edges: inside
        {10, 5, 0}, {5, 10, 0}, {10, 10, 0}, {10, 0, 0}, {0, 10, 0},
        {4, 5, 0}, {5, 4, 0},               // hole's left and bottom edges: in the hole
        {6, 5, 1}, {5, 6, 1},               // hole's right and top edges: in the part
        {5, 5, 0}, {1, 1, 1}, {-1, 5, 0}, {5, 11, 0}, {5, -1, 0}, {5, kNaN, 0}, {kNaN, 5, 0},
    };
    for (u64 part : {0u, 1u}) {
        for (const auto& pr : probes) {
            EXPECT_EQ(banded_contains(p, l, part, pr[0], pr[1]), pr[2] == 1) << part << " " << pr[0] << "," << pr[1];
            EXPECT_EQ(raw(l, part, pr[0], pr[1]), pr[2] == 1) << part << " " << pr[0] << "," << pr[1];
        }
    }
    EXPECT_EQ(bands_of(p, l, 0).band_of(kNaN), 0u);
}

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

TEST(PreparedPolygons, RandomPolygonsWithHolesAgreeWithPipRawAndBoost) {
    std::mt19937_64 rng(20261206);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Layout l;
    std::vector<Rings> parts;
    for (int p = 0; p < 150; ++p) {
        const int vertices = 8 + static_cast<int>(unit(rng) * (p % 3 == 0 ? 20 : 400));
        parts.push_back(random_polygon(rng, unit(rng) * 1000, unit(rng) * 1000, 1 + unit(rng) * 50, vertices,
                                       static_cast<int>(unit(rng) * 5)));
        l.add(parts.back());
    }
    std::vector<std::uint8_t> flags(l.parts(), 1);
    const PreparedPolygons prepared(flags);
    std::size_t inside = 0, checked = 0;
    for (u64 part = 0; part < l.parts(); ++part) {
        const BgPolygon poly = to_boost(parts[part]);
        const auto box = bg::return_envelope<bg::model::box<BgPoint>>(poly);
        const double x0 = box.min_corner().x(), y0 = box.min_corner().y();
        const double w = box.max_corner().x() - x0, h = box.max_corner().y() - y0;
        for (int i = 0; i < 300; ++i) {
            const double x = x0 - 0.1 * w + 1.2 * w * unit(rng), y = y0 - 0.1 * h + 1.2 * h * unit(rng);
            const bool want = bg::within(BgPoint(x, y), poly);
            ASSERT_EQ(raw(l, part, x, y), want) << part << " " << x << "," << y;
            ASSERT_EQ(banded_contains(prepared, l, part, x, y), want) << part << " " << x << "," << y;
            inside += want;
            ++checked;
        }
        // Boundary probes, where only the crossing rule decides: vertices, edge midpoints and
        // points on the horizontal lines through vertices.
        for (const Ring& ring : parts[part]) {
            for (std::size_t k = 0; k < ring.size(); ++k) {
                const auto [xa, ya] = ring[k];
                const auto [xb, yb] = ring[(k + 1) % ring.size()];
                const double probes[3][2] = {{xa, ya}, {0.5 * (xa + xb), 0.5 * (ya + yb)}, {x0 + w * unit(rng), ya}};
                for (const auto& q : probes) {
                    ASSERT_EQ(banded_contains(prepared, l, part, q[0], q[1]), raw(l, part, q[0], q[1]))
                        << part << " " << q[0] << "," << q[1];
                }
            }
        }
    }
    // The random points are not all on one side.
    EXPECT_GT(inside, checked / 5);
    EXPECT_LT(inside, checked);
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
    EXPECT_THROW(banded_contains(p, l, 1, 0.5, 0.5), InternalError);
    EXPECT_EQ(p.built_bands(1), nullptr);
    // A ring past the coordinates reads as empty, as everywhere else: nothing is inside.
    Layout broken = l;
    broken.ring_offsets.back() = 50;
    const PreparedPolygons q = all_banded(broken);
    EXPECT_FALSE(banded_contains(q, broken, 0, 0.5, 0.5));
}
