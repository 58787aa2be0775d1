#pragma once
#include <cmath>
#include <vector>

#include "core/box.hpp"
#include "core/numeric.hpp"
#include "core/squares.hpp"
#include "index/search.hpp"
#include "index/spatial_index.hpp"
#include "query/geodesy.hpp"
#include "stats/types.hpp"

namespace vardelin {

// Whether a point lies within a distance of a centre: planar (coordinate units) or haversine
// metres (x longitude, y latitude in degrees). Both tests are inclusive and a NaN anywhere
// keeps nothing. A negative distance keeps nothing either: its search box is inverted and
// finds no point, and the delta scan must agree with the index. Planar, a point or centre with
// an infinite coordinate is within no distance; geographic, one off the sphere's ranges.
struct RadiusTest {
    double cx = 0, cy = 0;
    double limit = 0;    // the distance
    double limit2 = -1;  // planar: the squared distance the disc's fast path compares
    double cos_cy = 0;  // geographic: cos of the centre's latitude, computed once per call
    bool geographic = false;

    static RadiusTest planar(double cx, double cy, double distance) noexcept {
        const Disc disc = Disc::around(cx, cy, distance);
        return {cx, cy, disc.r, disc.r2, 0.0, false};
    }
    static RadiusTest haversine(double cx, double cy, double distance) noexcept {
        const double limit = on_the_sphere(cx, cy) ? distance : -1.0;
        return {cx, cy, limit, -1.0, std::cos(cy * kDegToRad), true};
    }

    // Planar: the disc the test keeps.
    Disc disc() const noexcept { return {cx, cy, limit, limit2}; }
    // Whether any point can pass: a centre that reaches nothing needs no search.
    bool keeps_some() const noexcept { return geographic ? limit >= 0.0 : disc().holds_some(); }
    bool keeps_planar(double px, double py) const noexcept { return disc().holds(px, py); }
    bool keeps_haversine(double px, double py) const noexcept {
        return on_the_sphere(px, py) && haversine_m_cos1(cx, cy, cos_cy, px, py) <= limit;
    }
    bool keeps(double px, double py) const noexcept {
        return geographic ? keeps_haversine(px, py) : keeps_planar(px, py);
    }

    // body(keep), keep(px, py) the answer of `keeps` for every point of the centre's search box
    // (PlanarReach's or HaversineReach's; points outside it are the caller's to drop), with the
    // range checks that hold for the whole box made once here. Planar: the disc's plain
    // comparison where the box allows it. Geographic: no check of the sphere's ranges, which
    // the box never leaves, and no scaled form when the limit keeps every point that needs it.
    template <class Body>
    void keep_over(const Box& search, Body&& body) const {
        if (!geographic) {
            disc().over(search, body);
        } else if (limit >= kHaversinePlainLimit) {
            body([this](double px, double py) { return HaversineTerms(cx, cy, cos_cy, px, py).metres_plain() <= limit; });
        } else {
            body([this](double px, double py) { return HaversineTerms(cx, cy, cos_cy, px, py).metres() <= limit; });
        }
    }
};

// The rule of a centre, shared by radius_query and both forms of the within-distance join, so
// that a centre's search box and keep test are the same whichever side it comes from.

// Planar: a square box around the centre that holds the whole disc, then the disc's test.
struct PlanarReach {
    double distance;
    double reach;  // the search box's half side
    bool plain;    // every search box's points are decided by the plain comparison

    explicit PlanarReach(double d) noexcept
        : distance(d), reach(disc_reach(d)), plain(Disc::plain_in_reach(d)) {}

    bool centre_reaches(double x, double y) const noexcept { return finite_point(x, y); }
    Box search_box(double x, double y) const noexcept { return {x - reach, y - reach, x + reach, y + reach}; }
    RadiusTest test(double x, double y) const noexcept { return RadiusTest::planar(x, y, distance); }
    // body(keep), keep(px, py) the test's answer for every point of the search box `box` of the
    // test's centre: the disc's plain comparison where the radius, or else the box, allows it.
    template <class Body>
    void keep_over(const RadiusTest& t, const Box& box, Body&& body) const {
        const Disc disc = t.disc();
        if (plain) body([&disc](double px, double py) { return disc.holds_plainly(px, py); });
        else t.keep_over(box, body);
    }
};

// Haversine metres (x longitude, y latitude in degrees): the degree box that holds the whole
// haversine circle, then the haversine test with the centre's cosine computed once.
struct HaversineReach {
    double distance;

    bool centre_reaches(double x, double y) const noexcept { return on_the_sphere(x, y); }
    Box search_box(double x, double y) const noexcept { return geographic_search_box(x, y, distance); }
    RadiusTest test(double x, double y) const noexcept { return RadiusTest::haversine(x, y, distance); }
    template <class Body>
    void keep_over(const RadiusTest& t, const Box& box, Body&& body) const {
        t.keep_over(box, body);
    }
};

// Ids of the candidates (points of the search box `search`) that the test keeps, in candidate
// order. Large candidate sets are filtered on the worker pool, small ones where the call runs,
// since waking the pool costs more than testing a few thousand points.
std::vector<u64> par_radius(const std::vector<PointHit>& candidates, const RadiusTest& test, const Box& search);

// Indexes with a search of their own for the points of a box that a planar disc holds.
template <class Index>
concept DiscSearch = requires(const Index& index, const Box& box, const Disc& disc, std::vector<u64>& out) {
    index.disc_range(box, disc, out);
};

// Ids of the points of a point index inside the closed search box that the test keeps, in the
// index's point_range order (the box test first, then the distance). A planar test goes to the
// index's disc search where it has one: the grid's loads no coordinate of a cell wholly inside
// the circle, the k-d tree's tests the distance where it reads the point, and neither gathers
// the candidates first.
template <class Index>
std::vector<u64> radius_hits(const Index& index, const Box& search, const RadiusTest& test) {
    if constexpr (DiscSearch<Index>) {
        if (!test.geographic) {
            std::vector<u64> hits;
            index.disc_range(search, test.disc(), hits);
            return hits;
        }
    }
    std::vector<PointHit> candidates;
    point_range_into(index, search, candidates);
    return par_radius(candidates, test, search);
}

}  // namespace vardelin
