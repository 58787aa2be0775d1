// The disc searches of the grid and the k-d tree keep exactly the points of point_range that the
// disc's test keeps, in point_range's order, also where the grid's cell rule rounds: points on
// cell borders and on the circle, coordinates far from the origin, cells below one ulp, NaN and
// infinite coordinates and centres, degenerate and overflowing distances.
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "index/grid.hpp"
#include "index/kdtree.hpp"
#include "index_oracle.hpp"
#include "query/radius.hpp"

using namespace vardelin;

namespace {

struct Query {
    double cx, cy, d;
};

oracle::Points points(const std::string& name, Buffer<double> xs, Buffer<double> ys) {
    return {name, make_shared_array(std::move(xs)), make_shared_array(std::move(ys))};
}

// Lattices of 961 points (so 31 x 31 cells) whose extent is 31 steps on both axes: every point
// lies on cell borders, exactly for a step of 1 and rounded either way for a step of 0.1.
std::vector<oracle::Points> adversarial_sets() {
    std::vector<oracle::Points> sets;
    for (const double step : {1.0, 0.1}) {
        Buffer<double> xs, ys;
        for (int i = 0; i < 960; ++i) xs.push_back((i % 32) * step), ys.push_back((i / 32) * step);
        xs.push_back(0.0), ys.push_back(31 * step);
        sets.push_back(points("lattice", std::move(xs), std::move(ys)));
    }
    std::mt19937_64 rng(7);
    for (const double offset : {1e9, -1e15}) {
        for (const double spread : {1e-3, 100.0}) {
            std::uniform_real_distribution<double> u(offset, offset + spread);
            Buffer<double> xs, ys;
            for (int i = 0; i < 2000; ++i) xs.push_back(u(rng)), ys.push_back(u(rng));
            xs[5] = ys[6] = xs[7];  // a duplicate coordinate across the axes
            sets.push_back(points("offset", std::move(xs), std::move(ys)));
        }
    }
    Buffer<double> hx, hy;
    std::uniform_real_distribution<double> huge(-1e300, 1e300);
    for (int i = 0; i < 900; ++i) hx.push_back(huge(rng)), hy.push_back(huge(rng));
    hx.insert(hx.end(), {oracle::kInf, -oracle::kInf, 1e308, oracle::kNaN});
    hy.insert(hy.end(), {0.0, oracle::kInf, -1e308, 1.0});
    sets.push_back(points("huge and infinite", std::move(hx), std::move(hy)));
    Buffer<double> sx, sy;
    for (int i = 0; i < 400; ++i) sx.push_back((i % 20) * 5e-324), sy.push_back((i / 20) * 5e-324);
    sets.push_back(points("subnormal", std::move(sx), std::move(sy)));
    return sets;
}

// Centres on points and cell corners, distances that reach points and corners exactly, and the
// degenerate ones.
std::vector<Query> queries(const oracle::Points& p, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::vector<Query> out{{0, 0, oracle::kNaN}, {oracle::kNaN, 1, 5}, {1, 1, -1}, {oracle::kInf, 1, 5},
                           {1, 1, oracle::kInf}, {1, 1, 1e200}, {0, 0, 0}};
    const std::size_t n = p.size();
    for (int i = 0; i < 60; ++i) {
        const double cx = (*p.xs)[rng() % n], cy = (*p.ys)[rng() % n];
        const double tx = (*p.xs)[rng() % n], ty = (*p.ys)[rng() % n];
        const double reach = std::sqrt((tx - cx) * (tx - cx) + (ty - cy) * (ty - cy));
        out.push_back({cx, cy, reach});
        out.push_back({cx, cy, std::nextafter(reach, 0.0)});
        out.push_back({(cx + tx) / 2, cy, reach * 0.5});
        out.push_back({cx, cy, reach * std::ldexp(1.0, -static_cast<int>(rng() % 40))});
    }
    return out;
}

template <class Index>
void expect_filtered_point_range(const Index& index, const oracle::Points& p, const std::vector<Query>& qs) {
    for (const Query& q : qs) {
        const Box box{q.cx - q.d, q.cy - q.d, q.cx + q.d, q.cy + q.d};
        const RadiusTest test = RadiusTest::planar(q.cx, q.cy, q.d);
        std::vector<PointHit> hits;
        index.point_range(box, hits);
        std::vector<u64> want;
        for (const PointHit& h : hits) {
            if (test.keeps_planar(h.x, h.y)) want.push_back(h.id);
        }
        std::vector<u64> got;
        index.disc_range(box, Disc{test.cx, test.cy, test.limit}, got);
        ASSERT_EQ(got, want) << p.name << " centre " << q.cx << ", " << q.cy << " distance " << q.d;
        // Membership against brute force, independently of the index.
        std::vector<u64> brute;
        for (u64 id : oracle::range(p, box)) {
            if (test.keeps_planar((*p.xs)[id], (*p.ys)[id])) brute.push_back(id);
        }
        std::sort(got.begin(), got.end());
        ASSERT_EQ(got, brute) << p.name;
    }
}

TEST(DiscRange, GridAndKdTreeKeepPointRangesHitsInTheDiscInOrder) {
    std::vector<oracle::Points> sets = oracle::all_sets(3000, 51);
    for (oracle::Points& p : adversarial_sets()) sets.push_back(std::move(p));
    unsigned seed = 1;
    for (const oracle::Points& p : sets) {
        const std::vector<Query> qs = queries(p, seed++);
        expect_filtered_point_range(UniformGrid::over_points(p.xs, p.ys), p, qs);
        expect_filtered_point_range(PackedKdTree::over_points(p.xs, p.ys), p, qs);
    }
}

}  // namespace
