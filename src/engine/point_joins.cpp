#include "engine/point_joins.hpp"

#include "core/memory.hpp"
#include "engine/delta.hpp"
#include "engine/indexes.hpp"
#include "index/part_boxes.hpp"
#include "planner/selector.hpp"
#include "query/batch/box_filter.hpp"
#include "query/batch/flipped_within_distance.hpp"
#include "query/batch/knn_join.hpp"
#include "query/batch/within_distance.hpp"
#include "query/geodesy.hpp"

namespace vardelin {

namespace {

// The join's own candidate, not the single queries' rule: the planning box below is sized, not
// placed, so a selectivity bar would judge a box at the origin rather than the queries.
IndexKind distance_join_candidate(const DatasetStats& stats) noexcept {
    if (stats.n < kMinIndexedItems) return IndexKind::BruteForce;
    return stats.distribution == Distribution::Uniform ? IndexKind::Grid : IndexKind::KdTree;
}

// One query's search: in the geographic system the degree box of the distance at the
// extent's middle latitude.
QueryShape distance_join_shape(const Engine& engine, double distance) noexcept {
    if (engine.coordinate_system != CoordinateSystem::Geographic) return QueryShape::within(distance);
    const std::optional<Box>& extent = engine.stats.extent;
    const double lat_mid = extent ? (extent->min_y + extent->max_y) * 0.5 : 0.0;
    const Box b = conservative_degree_box(lat_mid, distance);
    return QueryShape::sized(b.max_x - b.min_x, b.max_y - b.min_y);
}

}  // namespace

Metered<Buffer<u32>> batch_knn_join(Engine& engine, const PointSpans& queries, u64 k, std::optional<u64> total,
                                    RunUnlocked unlocked) {
    const u64 n = queries.size();
    // A result beyond the machine fails here, before anything is planned, built or counted; the
    // index holds at most every point (or part of a polygon dataset).
    ensure_allocatable(knn_join_bytes(n, knn_block_size(k, engine.stats.n, engine.delta().size())));
    MeteredCall call(engine, Operation::BatchKnnJoin);
    const IndexUse use = call.plan_and_build(QueryShape::knn(k, 0.0, 0.0), total.value_or(n));
    Buffer<u32> ids;
    unlocked([&] {
        const PointSpans waiting = engine.delta();
        // Polygon datasets rank parts by the box of their exterior ring.
        const Buffer<Box> boxes = engine.is_polygons() ? part_boxes_parallel(engine.layout()) : Buffer<Box>();
        const RankedItems items = engine.is_polygons() ? RankedItems::parts(engine.layout(), boxes)
                                                       : RankedItems::points(engine.points(), waiting);
        engine.indexes.visit(use.served, [&](const auto& index) { ids = par_knn_join(index, items, queries, k); });
        // No index is touched past here: a merge drops them all. Only point datasets hold
        // waiting points, and there the planned kind is the one that answered.
        if (!waiting.empty()) add_delta_work(engine, use.planned, sat_mul(n, waiting.size()));
    });
    const u64 rows = ids.size();
    return {std::move(call), std::move(ids), rows};
}

Metered<Buffer<u32>> batch_within_distance(Engine& engine, const PointSpans& queries, double distance, bool flipped,
                                           std::optional<u64> total_q_count, RunUnlocked unlocked) {
    MeteredCall call(engine, Operation::BatchWithinDistance);
    const bool geographic = engine.coordinate_system == CoordinateSystem::Geographic;
    const PointSpans dataset = engine.points();
    Buffer<u32> pairs;
    if (flipped) {
        unlocked([&] { pairs = par_within_distance_flipped(queries, dataset, distance, geographic); });
    } else {
        const IndexUse use = call.plan_and_build(distance_join_shape(engine, distance),
                                                 total_q_count.value_or(queries.size()),
                                                 distance_join_candidate(engine.stats));
        unlocked([&] {
            engine.indexes.visit(use.served, [&](const auto& index) {
                pairs = geographic ? within_distance_haversine(index, queries, distance)
                                   : within_distance_planar(index, queries, distance);
            });
        });
    }
    const u64 rows = pairs.size() / 2;
    return {std::move(call), std::move(pairs), rows};
}

Buffer<u64> batch_within(const PointSpans& queries, const Box& box, RunUnlocked unlocked) {
    Buffer<u64> positions;
    unlocked([&] { positions = par_bbox_filter(queries, box); });
    return positions;
}

}  // namespace vardelin
