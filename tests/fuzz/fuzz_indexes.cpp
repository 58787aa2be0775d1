// Builds every index kind over arbitrary points (NaN, infinities, duplicates) and arbitrary
// polygon offsets, and checks that all kinds return the same range sets, nearest distances and
// within-distance pairs as the brute force, and that the disc searches agree with the point
// searches. Any difference or out-of-bounds read aborts.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "index/brute.hpp"
#include "index/exact_ranking.hpp"
#include "index/grid.hpp"
#include "index/kdtree.hpp"
#include "index/rtree.hpp"
#include "query/batch/flipped_within_distance.hpp"
#include "query/batch/within_distance.hpp"

using namespace vardelin;

namespace {

struct Reader {
    const std::uint8_t* data;
    std::size_t size, pos = 0;
    std::uint8_t byte() { return pos < size ? data[pos++] : 0; }
    bool more() const { return pos < size; }
    // Mostly small lattice values so that ties and touching boxes are common.
    double coord() {
        const std::uint8_t a = byte(), b = byte();
        switch (a) {
            case 250: return std::numeric_limits<double>::quiet_NaN();
            case 251: return std::numeric_limits<double>::infinity();
            case 252: return -std::numeric_limits<double>::infinity();
            case 253: return 1e300;
            case 254: return -1e-300;
            default: return static_cast<double>(a % 16) + static_cast<double>(b) / 64.0;
        }
    }
};

void check(bool ok) {
    if (!ok) std::abort();
}

template <class T>
std::vector<T> sorted(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    return v;
}

template <class Flat>
std::vector<std::pair<u32, u32>> pair_set(const Flat& flat) {
    std::vector<std::pair<u32, u32>> pairs;
    for (std::size_t i = 0; i + 1 < flat.size(); i += 2) pairs.emplace_back(flat[i], flat[i + 1]);
    return sorted(std::move(pairs));
}

// What every kind must agree on: the distances in order and the ids at +inf, which come last
// in ascending id (finite ties are each index's own).
std::vector<double> ranking(const std::vector<Neighbor>& found) {
    std::vector<double> d;
    for (const Neighbor& n : found) {
        d.push_back(n.dist2);
        if (!std::isfinite(n.dist2)) d.push_back(static_cast<double>(n.id));
    }
    return d;
}

void fuzz_points(Reader& in) {
    const std::size_t n = in.byte() * 4u + in.byte() % 4;
    Buffer<double> xs, ys;
    for (std::size_t i = 0; i < n && in.more(); ++i) xs.push_back(in.coord()), ys.push_back(in.coord());
    auto X = make_shared_array(std::move(xs)), Y = make_shared_array(std::move(ys));
    const auto brute = BruteForce::over_points(X, Y);
    const auto grid = UniformGrid::over_points(X, Y);
    const auto kd = PackedKdTree::over_points(X, Y);
    const auto rtree = PackedRTree::over_points({view(X), view(Y)});
    for (int q = 0; q < 8 && in.more(); ++q) {
        const Box box{in.coord(), in.coord(), in.coord(), in.coord()};
        const auto expected = brute.range(box);
        check(sorted(grid.range(box)) == expected);
        check(sorted(kd.range(box)) == expected);
        check(sorted(rtree.range(box)) == expected);
        // The visiting searches and the point searches agree with the appending ones, and
        // hand over the dataset's own coordinates.
        std::vector<u64> visited;
        grid.for_each_in_range(box, [&](u32 id) { visited.push_back(id); });
        check(visited == grid.range(box));
        std::vector<PointHit> gp, kp;
        grid.point_range(box, gp);
        kd.point_range(box, kp);
        for (const auto* found : {&gp, &kp}) {
            std::vector<u64> ids;
            for (const PointHit& h : *found) {
                check(std::memcmp(&h.x, &(*X)[h.id], 8) == 0 && std::memcmp(&h.y, &(*Y)[h.id], 8) == 0);
                ids.push_back(h.id);
            }
            check(sorted(ids) == expected);
        }
        // The disc searches keep the points of point_range that the disc holds, in its order,
        // whichever cells the grid takes without reading their points.
        const double cx = in.coord(), cy = in.coord(), d = in.coord();
        const Box around{cx - d, cy - d, cx + d, cy + d};
        const Disc disc = Disc::around(cx, cy, d);
        const auto held = [&](const auto& index) {
            std::vector<PointHit> hits;
            index.point_range(around, hits);
            std::vector<u64> ids;
            for (const PointHit& h : hits) {
                if (disc.holds(h.x, h.y)) ids.push_back(h.id);
            }
            std::vector<u64> got;
            index.disc_range(around, disc, got);
            return got == ids;
        };
        check(held(grid) && held(kd));
        const double x = in.coord(), y = in.coord();
        const u64 k = in.byte() % 40;
        std::vector<Neighbor> b, g, t, r;
        brute.nearest(x, y, k, b);
        grid.nearest(x, y, k, g);
        kd.nearest(x, y, k, t);
        rtree.nearest(x, y, k, r);
        check(b.size() == (nan_query(x, y) ? 0 : std::min<u64>(k, brute.size())));
        const auto want = ranking(b);
        check(ranking(g) == want && ranking(t) == want && ranking(r) == want);
        // The within-distance join over every kind, and from the query side, pairs as the brute force.
        const std::vector<double> qx{x, cx}, qy{y, cy};
        const PointSpans queries(qx, qy);
        const auto pairs = pair_set(within_distance_planar(brute, queries, d));
        check(pair_set(within_distance_planar(grid, queries, d)) == pairs &&
              pair_set(within_distance_planar(kd, queries, d)) == pairs &&
              pair_set(within_distance_planar(rtree, queries, d)) == pairs &&
              pair_set(par_within_distance_flipped(queries, PointSpans(view(X), view(Y)), d, false)) == pairs);
        // Made exact, every kind ranks as a ranking of every point does, however far the squares
        // overflow (1e300) or underflow (1e-300).
        if (nan_query(x, y)) continue;
        const RankedItems items = RankedItems::points(PointSpans(view(X), view(Y)));
        const auto keys = [&](std::vector<Neighbor> found) {
            make_ranking_exact(items, x, y, found.size(), found, 0);
            std::vector<SquareKey> sums;
            for (const Neighbor& n : found) sums.push_back(square_key_to_box(items.box(n.id), x, y));
            return sums;
        };
        std::vector<Neighbor> all;
        rank_exactly(items, x, y, b.size(), all, 0);
        const auto exact = keys(all);
        check(keys(b) == exact && keys(g) == exact && keys(t) == exact && keys(r) == exact);
    }
}

void fuzz_polygons(Reader& in) {
    std::vector<double> xs, ys;
    const std::size_t coords = in.byte();
    for (std::size_t i = 0; i < coords && in.more(); ++i) xs.push_back(in.coord()), ys.push_back(in.coord());
    std::vector<i64> rings, parts;
    const auto offset = [&] { return static_cast<i64>(static_cast<std::int8_t>(in.byte())); };
    for (std::size_t i = 0, r = in.byte() % 32; i < r; ++i) rings.push_back(offset());
    for (std::size_t i = 0, p = in.byte() % 32; i < p; ++i) parts.push_back(offset());
    const PolygonLayout layout{xs, ys, rings, parts};
    const auto brute = BruteForce::over_parts(layout);
    const auto rtree = PackedRTree::over_parts(layout);
    check(brute.size() == layout.part_count() && rtree.size() == layout.part_count());
    for (int q = 0; q < 8 && in.more(); ++q) {
        const Box box{in.coord(), in.coord(), in.coord(), in.coord()};
        check(sorted(rtree.range(box)) == brute.range(box));
        const double x = in.coord(), y = in.coord();
        std::vector<Neighbor> b, r;
        brute.nearest(x, y, 10, b);
        rtree.nearest(x, y, 10, r);
        check(ranking(r) == ranking(b));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in{data, size};
    if (in.byte() & 1) fuzz_polygons(in);
    else fuzz_points(in);
    return 0;
}
