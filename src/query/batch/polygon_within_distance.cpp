#include "query/batch/polygon_within_distance.hpp"

#include "core/parallel.hpp"
#include "index/search.hpp"
#include "query/batch/aggregate_chunks.hpp"

namespace vardelin {

namespace {

// emit(g) once for every logical polygon within d of (x, y), at its first matching part in the
// index's candidate order. `seen` is the caller's scratch, emptied here.
template <class Index, class Emit>
void for_each_polygon_within(const Index& index, const PolygonLayout& layout, std::span<const u32> part_poly,
                             double x, double y, double d, std::vector<u32>& seen, Emit&& emit) {
    if (!distance_matches_some(d) || nan_query(x, y)) return;
    seen.clear();
    for_each_in_range(index, reach_box(x, y, d), [&](u32 p) {
        if (!part_within(layout, p, x, y, d)) return;
        const u32 g = polygon_of(part_poly, p);
        if (!part_poly.empty()) {
            for (const u32 s : seen) {
                if (s == g) return;
            }
            seen.push_back(g);
        }
        emit(g);
    });
}

// Rows per parallel task: enough to amortise a task, few enough that skewed rows spread over
// the workers.
constexpr std::size_t kDistanceRowsPerTask = 256;

// Each task collects the pairs of its rows; the tasks' vectors are joined in row order.
template <class Index>
std::vector<u32> pairs_over(const Index& index, const PolygonLayout& layout, std::span<const u32> part_poly,
                            const PointSpans& queries, double d) {
    if (!distance_matches_some(d)) return {};
    return concat_ordered(map_chunks(queries.size(), kDistanceRowsPerTask, [&](std::size_t, std::size_t b, std::size_t e) {
        std::vector<u32> out;
        std::vector<u32> seen;
        for (std::size_t q = b; q < e; ++q) {
            for_each_polygon_within(index, layout, part_poly, queries.x(q), queries.y(q), d, seen, [&](u32 g) {
                out.push_back(static_cast<u32>(q));
                out.push_back(g);
            });
        }
        return out;
    }));
}

template <class Index>
GroupedAgg aggregate_over(const Index& index, const PolygonLayout& layout, std::span<const u32> part_poly, u64 groups,
                          const PointSpans& queries, double d, const AggColumns& columns) {
    if (!distance_matches_some(d)) {
        columns.require_rows(queries.size());
        return GroupedAgg(groups, columns.size());
    }
    return aggregate_chunks(queries.size(), groups, columns, [&](u32 row, GroupSink& sink) {
        // The sink counts a polygon once per row itself, so no seen list is kept here.
        const double x = queries.x(row), y = queries.y(row);
        if (nan_query(x, y)) return;
        for_each_in_range(index, reach_box(x, y, d), [&](u32 p) {
            if (part_within(layout, p, x, y, d)) sink.emit(polygon_of(part_poly, p));
        });
    });
}

}  // namespace

std::vector<u32> within_distance_pairs(const BruteForce& index, const PolygonLayout& layout,
                                       std::span<const u32> part_poly, const PointSpans& queries, double d) {
    return pairs_over(index, layout, part_poly, queries, d);
}

std::vector<u32> within_distance_pairs(const PackedRTree& index, const PolygonLayout& layout,
                                       std::span<const u32> part_poly, const PointSpans& queries, double d) {
    return pairs_over(index, layout, part_poly, queries, d);
}

GroupedAgg within_distance_aggregate(const BruteForce& index, const PolygonLayout& layout,
                                     std::span<const u32> part_poly, u64 groups, const PointSpans& queries, double d,
                                     const AggColumns& columns) {
    return aggregate_over(index, layout, part_poly, groups, queries, d, columns);
}

GroupedAgg within_distance_aggregate(const PackedRTree& index, const PolygonLayout& layout,
                                     std::span<const u32> part_poly, u64 groups, const PointSpans& queries, double d,
                                     const AggColumns& columns) {
    return aggregate_over(index, layout, part_poly, groups, queries, d, columns);
}

}  // namespace vardelin
