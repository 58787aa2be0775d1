#pragma once
#include <cmath>
#include <cstddef>
#include <vector>

#include "core/box.hpp"
#include "core/numeric.hpp"
#include "core/parallel.hpp"
#include "core/point_spans.hpp"
#include "index/search.hpp"
#include "index/spatial_index.hpp"
#include "query/geodesy.hpp"
#include "query/radius.hpp"

namespace vardelin {

// Within-distance point joins: every (query row, dataset point) pair at most `distance` apart,
// as flat u32 pairs [q0, e0, q1, e1, ...]. The direct form searches the dataset's index once
// per query point; the flipped form (flipped_within_distance.hpp) indexes the query points.
// Both forms share the two rules below, so a centre's search box and keep test are the same
// whichever side it comes from.

// Planar: the square box around the centre, then the squared-distance test.
struct PlanarReach {
    double distance;

    Box search_box(double x, double y) const noexcept {
        return {x - distance, y - distance, x + distance, y + distance};
    }
    RadiusTest test(double x, double y) const noexcept { return RadiusTest::planar(x, y, distance); }
    static bool keeps(const RadiusTest& t, double px, double py) noexcept { return t.keeps_planar(px, py); }
};

// Haversine metres (x longitude, y latitude in degrees): the degree box that holds the whole
// haversine circle, then the haversine test with the centre's cosine computed once.
struct HaversineReach {
    double distance;

    Box search_box(double x, double y) const noexcept { return geographic_search_box(x, y, distance); }
    RadiusTest test(double x, double y) const noexcept { return RadiusTest::haversine(x, y, distance); }
    static bool keeps(const RadiusTest& t, double px, double py) noexcept { return t.keeps_haversine(px, py); }
};

// True when no pair can pass the test: a NaN or negative distance (-0.0 still finds the
// coinciding points). Such a join costs nothing: a NaN distance would otherwise search the
// whole sphere around every geographic centre only to drop every candidate.
inline bool reaches_nothing(double distance) noexcept { return std::isnan(distance) || distance < 0.0; }

// Query rows per unit of parallel work: a few hundred searches amortise a task, and the
// output order is the chunk order whatever the thread count.
inline constexpr std::size_t kDistanceJoinChunk = 512;

// Appends (q, id) for every hit the test keeps, in hit order. Every hit is written and the
// count advances by its test: the outcome is not predictable, a branch on it costs more.
template <class Reach>
void keep_pairs(u32 q, const std::vector<PointHit>& hits, const RadiusTest& test, std::vector<u32>& out) {
    const std::size_t base = out.size();
    out.resize(base + 2 * hits.size());
    u32* dst = out.data() + base;
    std::size_t k = 0;
    for (const PointHit& h : hits) {
        dst[k] = q;
        dst[k + 1] = h.id;
        k += 2 * std::size_t{Reach::keeps(test, h.x, h.y)};
    }
    out.resize(base + k);
}

// The pairs (0, id) of the hits of a lone query point that the test keeps, in hit order; the
// tests run on the worker pool when there are many.
std::vector<u32> single_query_pairs(const std::vector<PointHit>& hits, const RadiusTest& test);

// The direct form over any of the four index types, one box search per query point. A single
// query point tests its candidates on the worker pool instead, with the same pairs in the same
// order. A NaN query point matches nothing and is not searched: its geographic box would be
// the whole sphere.
template <class Reach, class Index>
std::vector<u32> within_distance(const Index& index, const PointSpans& queries, const Reach& reach) {
    if (reaches_nothing(reach.distance)) return {};
    const std::size_t nq = queries.size();
    if (nq == 1) {
        const double x = queries.x(0), y = queries.y(0);
        if (nan_query(x, y)) return {};
        std::vector<PointHit> hits;
        point_range_into(index, reach.search_box(x, y), hits);
        return single_query_pairs(hits, reach.test(x, y));
    }
    return concat_ordered(map_chunks(nq, kDistanceJoinChunk, [&](std::size_t, std::size_t b, std::size_t e) {
        std::vector<u32> out;
        std::vector<PointHit> hits;
        for (std::size_t q = b; q < e; ++q) {
            const double x = queries.x(q), y = queries.y(q);
            if (nan_query(x, y)) continue;
            hits.clear();
            point_range_into(index, reach.search_box(x, y), hits);
            keep_pairs<Reach>(static_cast<u32>(q), hits, reach.test(x, y), out);
        }
        return out;
    }));
}

template <class Index>
std::vector<u32> within_distance_planar(const Index& index, const PointSpans& queries, double distance) {
    return within_distance(index, queries, PlanarReach{distance});
}

template <class Index>
std::vector<u32> within_distance_haversine(const Index& index, const PointSpans& queries, double distance) {
    return within_distance(index, queries, HaversineReach{distance});
}

}  // namespace vardelin
