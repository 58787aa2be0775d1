#include "engine/polygon_distance_joins.hpp"

#include "core/error.hpp"
#include "core/memory.hpp"
#include "core/offsets.hpp"
#include "engine/indexes.hpp"
#include "index/search.hpp"
#include "planner/selector.hpp"
#include "query/batch/flipped_polygon_query.hpp"
#include "query/batch/points_near_polygon.hpp"
#include "query/batch/polygon_within_distance.hpp"

namespace vardelin {

namespace {

struct DistanceJoinPlan {
    IndexKind kind;
    bool flipped;
};

// The query-side run's kind: "auto" weighs the R-tree, build included, against the scan.
DistanceJoinPlan plan_distance_join(const Engine& e, double d, u64 nq, u64 q) noexcept {
    const QueryShape shape = QueryShape::within(d);
    const IndexKind kind = plan_index_with(e, shape, q, IndexKind::RTree);
    // The flip is decided on this call's own query count: it builds nothing that outlives it.
    return {kind, point_polygon_orientation(e, shape, nq, kind, d)};
}

// What the caller's query polygon arrays index, for the offset refusals.
constexpr OffsetsRole kQueryRingOffsets{"poly_ring_offsets", "ring", "coordinate count"};
constexpr OffsetsRole kQueryPartOffsets{"poly_offsets", "part", "ring count"};

PolygonLayout checked_query_polygon(const QueryPolygonArrays& arrays) {
    const auto xs = arrays.xs.get();
    const auto ys = arrays.ys.get();
    const auto rings = arrays.ring_offsets.get();
    const auto parts = arrays.poly_offsets.get();
    if (xs.size() != ys.size()) throw Error("poly_xs and poly_ys must have the same length");
    const u64 ring_count = rings.size() < 2 ? 0 : rings.size() - 1;
    // Without two entries poly_offsets names no part and nothing reads it.
    const bool has_parts = parts.size() >= 2;
    check_offset_ends(rings, xs.size(), kQueryRingOffsets);
    if (has_parts) check_offset_ends(parts, ring_count, kQueryPartOffsets);
    check_offset_order(rings, kQueryRingOffsets);
    if (has_parts) check_offset_order(parts, kQueryPartOffsets);
    return {xs, ys, rings, parts};
}

}  // namespace

Metered<Buffer<u32>> batch_within_distance_to_polygons(Engine& e, const PointSpans& queries, double d,
                                                            std::optional<u64> total_q_count, RunUnlocked unlocked) {
    require_dataset(e, DatasetKind::Polygons, Operation::BatchWithinDistanceToPolygons);
    MeteredCall call(e, Operation::BatchWithinDistanceToPolygons);
    const DistanceJoinPlan plan = plan_distance_join(e, d, queries.size(), total_q_count.value_or(queries.size()));
    const PolygonLayout layout = e.layout();
    const std::span<const u32> part_poly = view(e.part_poly);
    Buffer<u32> pairs;
    if (plan.flipped) {
        call.set_column(column_of(IndexKind::Grid));
        unlocked([&] {
            const FlippedPolygonQuery query(queries, layout, part_poly, e.logical_count, d);
            pairs = flipped_within_distance_pairs(query);
        });
    } else {
        const IndexUse use = call.build(plan.kind);
        unlocked([&] {
            e.indexes.visit_parts(use.served, [&](const auto& index) {
                pairs = within_distance_pairs(index, layout, part_poly, queries, d);
            });
        });
    }
    const u64 rows = pairs.size() / 2;
    return {std::move(call), std::move(pairs), rows};
}

Metered<CompactAgg> batch_within_distance_to_polygons_aggregate(Engine& e, const PointSpans& queries, double d,
                                                       const AggColumns& columns, RunUnlocked unlocked) {
    require_dataset(e, DatasetKind::Polygons, Operation::BatchWithinDistanceToPolygonsAggregate);
    // A state or result beyond the machine fails here, before anything is built or counted.
    ensure_allocatable(GroupedAgg::peak_bytes(e.logical_count, e.layout().part_count(), columns.size()));
    MeteredCall call(e, Operation::BatchWithinDistanceToPolygonsAggregate);
    const DistanceJoinPlan plan = plan_distance_join(e, d, queries.size(), queries.size());
    const PolygonLayout layout = e.layout();
    const std::span<const u32> part_poly = view(e.part_poly);
    GroupedAgg state;
    if (plan.flipped) {
        call.set_column(column_of(IndexKind::Grid));
        unlocked([&] {
            const FlippedPolygonQuery query(queries, layout, part_poly, e.logical_count, d);
            state = flipped_within_distance_aggregate(query, columns);
        });
    } else {
        const IndexUse use = call.build(plan.kind);
        unlocked([&] {
            e.indexes.visit_parts(use.served, [&](const auto& index) {
                state = within_distance_aggregate(index, layout, part_poly, e.logical_count, queries, d, columns);
            });
        });
    }
    return compact_aggregate(std::move(call), std::move(state), unlocked);
}

Metered<std::vector<u64>> points_within_distance_of_polygon(Engine& e, const QueryPolygonArrays& arrays, double d,
                                                            RunUnlocked unlocked) {
    require_dataset(e, DatasetKind::Points, Operation::PointsWithinDistanceOfPolygon);
    const PolygonLayout polygon = checked_query_polygon(arrays);
    MeteredCall call(e, Operation::PointsWithinDistanceOfPolygon);
    // On points every kind answers a box search, the k-d tree and the grid included.
    const IndexKind candidate = e.stats.n >= kMinIndexedItems ? IndexKind::RTree : IndexKind::BruteForce;
    const IndexUse use = call.plan_and_build(QueryShape::within(d), 1, candidate);
    std::vector<u64> ids;
    if (distance_matches_some(d) && polygon.part_count() > 0) {
        unlocked([&] {
            std::vector<PointHit> candidates;
            const Box box = polygon_reach_box(polygon, d);
            e.indexes.visit(use.served, [&](const auto& index) { point_range_into(index, box, candidates); });
            ids = points_near_polygon(candidates, polygon, d);
        });
    }
    const u64 rows = ids.size();
    return {std::move(call), std::move(ids), rows};
}

}  // namespace vardelin
