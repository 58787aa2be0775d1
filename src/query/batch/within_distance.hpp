#pragma once
#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "core/box.hpp"
#include "core/numeric.hpp"
#include "core/parallel.hpp"
#include "core/point_spans.hpp"
#include "core/shared_array.hpp"
#include "index/search.hpp"
#include "index/spatial_index.hpp"
#include "query/batch/query_tiles.hpp"
#include "query/geodesy.hpp"
#include "query/radius.hpp"

namespace vardelin {

// Within-distance point joins: every (query row, dataset point) pair at most `distance` apart,
// as flat u32 pairs [q0, e0, q1, e1, ...]. The direct form searches the dataset's index once
// per query point; the flipped form (flipped_within_distance.hpp) indexes the query points.
// Both forms share the centre rules of radius.hpp (PlanarReach, HaversineReach), so a centre's
// search box and keep test are the same whichever side it comes from, and a point that reaches
// nothing (NaN, infinite, off the sphere) is not searched from either side.

// True when no pair can pass the test: a NaN or negative distance (-0.0 still finds the
// coinciding points). Such a join costs nothing: a NaN distance would otherwise search the
// whole sphere around every geographic centre only to drop every candidate.
inline bool reaches_nothing(double distance) noexcept { return std::isnan(distance) || distance < 0.0; }

// The matched ids of every row of a join's searching side, as the chunks of a walk over the
// rows found them: chunk c covers walk positions [c * chunk, (c + 1) * chunk) and holds the
// runs of those rows one after the other.
struct RowRuns {
    std::span<const u32> walk;  // the rows in the order they were searched
    std::size_t chunk;
    std::vector<std::vector<u32>> ids;
    Buffer<u32> counts;  // per row, the length of its run
};

// search(row, ids, hits) appends the ids a row matches, in its index's order, to `ids`; `hits`
// is the chunk's scratch for index searches, reused from row to row. The rows are searched
// along `walk`, a permutation of the rows (a curve order keeps neighbouring searches in
// cache), in parallel chunks of `chunk` positions.
template <class Search>
RowRuns search_rows(std::span<const u32> walk, std::size_t chunk, const Search& search) {
    RowRuns runs{walk, chunk, {}, {}};
    runs.counts.resize(walk.size());
    u32* counts = runs.counts.data();
    runs.ids = map_chunks(walk.size(), chunk, [&](std::size_t, std::size_t b, std::size_t e) {
        std::vector<u32> ids;
        std::vector<PointHit> hits;
        for (std::size_t i = b; i < e; ++i) {
            const std::size_t before = ids.size();
            search(walk[i], ids, hits);
            counts[walk[i]] = static_cast<u32>(ids.size() - before);
        }
        return ids;
    });
    return runs;
}

// The runs as pairs by ascending row, each run in its search order: (row, id) when the rows
// are the query side, (id, row) when they are the dataset side. One buffer sized once, filled
// on the pool.
Buffer<u32> pairs_by_row(const RowRuns& runs, bool row_first);

// The pairs (0, id) of the hits of a lone query point (points of its search box) that the test
// keeps, in hit order; the tests run on the worker pool when there are many.
Buffer<u32> single_query_pairs(const std::vector<PointHit>& hits, const RadiusTest& test, const Box& search);

// Query rows per unit of parallel work: a few hundred searches amortise a task.
inline constexpr std::size_t kQueryChunk = 512;

// The direct form over any of the four index types: one box search per query point, along the
// queries' Morton order, gathered by ascending query row. A single query point tests its
// candidates on the worker pool instead, with the same pairs in the same order. A query point
// that reaches nothing is not searched: the geographic box of a NaN or off-sphere point would
// be the whole sphere.
template <class Reach, class Index>
Buffer<u32> within_distance(const Index& index, const PointSpans& queries, const Reach& reach) {
    if (reaches_nothing(reach.distance) || queries.empty()) return {};
    if (queries.size() == 1) {
        const double x = queries.x(0), y = queries.y(0);
        if (!reach.centre_reaches(x, y)) return {};
        const Box search = reach.search_box(x, y);
        std::vector<PointHit> hits;
        point_range_into(index, search, hits);
        return single_query_pairs(hits, reach.test(x, y), search);
    }
    const auto search = [&](u32 q, std::vector<u32>& ids, std::vector<PointHit>& hits) {
        const double x = queries.x(q), y = queries.y(q);
        if (!reach.centre_reaches(x, y)) return;
        hits.clear();
        const Box box = reach.search_box(x, y);
        point_range_into(index, box, hits);
        // Every hit is written and the count advances by its test: the outcome is not
        // predictable, and a branch on it would cost more than the test.
        const std::size_t base = ids.size();
        ids.resize(base + hits.size());
        std::size_t k = base;
        reach.keep_over(reach.test(x, y), box, [&](const auto& keep) {
            for (const PointHit& h : hits) {
                ids[k] = h.id;
                k += std::size_t{keep(h.x, h.y)};
            }
        });
        ids.resize(k);
    };
    const std::vector<u32> walk = morton_order(queries.xs(), queries.ys());
    return pairs_by_row(search_rows(walk, kQueryChunk, search), true);
}

template <class Index>
Buffer<u32> within_distance_planar(const Index& index, const PointSpans& queries, double distance) {
    return within_distance(index, queries, PlanarReach{distance});
}

template <class Index>
Buffer<u32> within_distance_haversine(const Index& index, const PointSpans& queries, double distance) {
    return within_distance(index, queries, HaversineReach{distance});
}

}  // namespace vardelin
