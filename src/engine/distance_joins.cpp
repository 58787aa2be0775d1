#include "engine/distance_joins.hpp"

#include "core/error.hpp"
#include "engine/indexes.hpp"
#include "planner/selector.hpp"
#include "query/batch/flipped_within_distance.hpp"
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

}  // namespace vardelin
