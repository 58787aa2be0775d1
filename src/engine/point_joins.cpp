#include "engine/point_joins.hpp"

#include "core/memory.hpp"
#include "engine/delta.hpp"
#include "index/part_boxes.hpp"
#include "planner/query_shape.hpp"
#include "query/batch/box_filter.hpp"
#include "query/batch/knn_join.hpp"

namespace vardelin {

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

Buffer<u64> batch_within(const PointSpans& queries, const Box& box, RunUnlocked unlocked) {
    Buffer<u64> positions;
    unlocked([&] { positions = par_bbox_filter(queries, box); });
    return positions;
}

}  // namespace vardelin
