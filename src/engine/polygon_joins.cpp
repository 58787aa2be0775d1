#include "engine/polygon_joins.hpp"

#include <algorithm>
#include <utility>

#include "core/error.hpp"
#include "core/memory.hpp"
#include "core/offsets.hpp"
#include "engine/indexes.hpp"
#include "index/part_boxes.hpp"
#include "index/search.hpp"
#include "planner/selector.hpp"
#include "query/batch/contains.hpp"
#include "query/batch/contains_aggregate.hpp"
#include "query/batch/flipped_polygon_query.hpp"
#include "query/batch/points_near_polygon.hpp"
#include "query/batch/polygon_knn.hpp"
#include "query/batch/polygon_within_distance.hpp"
#include "query/batch/self_join.hpp"

namespace vardelin {

namespace {

// The index and the prepared polygons, their builds left out of the call's time. Both
// containment joins weigh q point lookups on the R-tree against scanning every part box per point.
IndexUse prepare_containment(MeteredCall& call, Engine& engine, u64 q) {
    const IndexUse use = call.plan_and_build(QueryShape::point(0.0, 0.0), q, IndexKind::RTree);
    call.leave_out(build_prepared_if_needed(engine));
    return use;
}

ContainmentSide containment_side(const Engine& engine) {
    return ContainmentSide(engine.layout(), engine.prepared_polygons.get(), view(engine.part_poly));
}

// Runs a within-distance join to polygons from the side the planner picks, for `q` queries (nq
// in this call) of distance d: `flipped(query)` over a grid of the query points built inside the
// timed stretch, counted in the column "grid", or `direct(index)` over the part index the
// query-side kind is served by, "auto" weighing the R-tree, build included, against the scan.
// The flip is decided on this call's own query count: it builds nothing that outlives it.
template <class Flipped, class Direct>
void run_distance_join(MeteredCall& call, const Engine& e, const PointSpans& queries, double d, u64 q,
                       RunUnlocked unlocked, Flipped&& flipped, Direct&& direct) {
    const QueryShape shape = QueryShape::within(d);
    const IndexKind kind = plan_index_with(e, shape, q, IndexKind::RTree);
    if (point_polygon_orientation(e, shape, queries.size(), kind, d)) {
        call.set_column(column_of(IndexKind::Grid));
        unlocked([&] { flipped(FlippedPolygonQuery(queries, e.layout(), e.part_map(), e.logical_count, d)); });
        return;
    }
    const IndexUse use = call.build(kind);
    unlocked([&] { e.indexes.visit_parts(use.served, direct); });
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

// The kNN joins' planning: kNN queries with the R-tree as candidate.
IndexUse prepare_polygon_knn(MeteredCall& call, u64 k, u64 q) {
    return call.plan_and_build(QueryShape::knn(k, 0.0, 0.0), q, IndexKind::RTree);
}

// The most results one query can have: k clamped to the parts and to the logical polygons.
u64 results_per_query(const Engine& e, u64 k) noexcept {
    return std::min({k, static_cast<u64>(e.layout().part_count()), e.logical_count});
}

// Runs a kNN kernel on the served index with the call's inputs; the part boxes are the index's
// own, computed afresh without the interpreter lock.
template <class Kernel>
void run_polygon_knn(const Engine& e, IndexKind served, u64 k, Kernel&& kernel) {
    const PolygonLayout layout = e.layout();
    const Buffer<Box> boxes = part_boxes_parallel(layout);
    const PlainParts plain_parts(layout.part_count());
    PolygonKnnInput in{layout, boxes, e.part_map(), std::min<u64>(k, layout.part_count()), e.logical_count,
                       &plain_parts};
    e.indexes.visit_parts(served, [&](const auto& index) { kernel(index, in); });
}

}  // namespace

Metered<Buffer<u32>> batch_contains(Engine& engine, const PointSpans& queries, std::optional<u64> total_q_count,
                                    RunUnlocked unlocked) {
    require_dataset(engine, DatasetKind::Polygons, Operation::BatchContains);
    MeteredCall call(engine, Operation::BatchContains);
    const IndexUse use = prepare_containment(call, engine, total_q_count.value_or(queries.size()));
    const ContainmentSide side = containment_side(engine);
    Buffer<u32> pairs;
    unlocked([&] {
        engine.indexes.visit_parts(use.served, [&](const auto& index) { pairs = contains_pairs(index, side, queries); });
    });
    const u64 rows = pairs.size() / 2;
    return {std::move(call), std::move(pairs), rows};
}

Metered<CompactAgg> batch_contains_aggregate(Engine& engine, const PointSpans& queries, const AggColumns& columns,
                                             RunUnlocked unlocked) {
    require_dataset(engine, DatasetKind::Polygons, Operation::BatchContainsAggregate);
    // A state or result beyond the machine fails here, before anything is built or counted.
    ensure_allocatable(GroupedAgg::peak_bytes(engine.logical_count, engine.layout().part_count(), columns.size()));
    MeteredCall call(engine, Operation::BatchContainsAggregate);
    const IndexUse use = prepare_containment(call, engine, queries.size());
    const ContainmentSide side = containment_side(engine);
    GroupedAgg state;
    unlocked([&] {
        engine.indexes.visit_parts(use.served, [&](const auto& index) {
            state = contains_aggregate(index, side, queries, columns, engine.logical_count);
        });
    });
    return compact_aggregate(std::move(call), std::move(state), unlocked);
}

Metered<Buffer<u32>> batch_within_distance_to_polygons(Engine& e, const PointSpans& queries, double d,
                                                       std::optional<u64> total_q_count, RunUnlocked unlocked) {
    require_dataset(e, DatasetKind::Polygons, Operation::BatchWithinDistanceToPolygons);
    MeteredCall call(e, Operation::BatchWithinDistanceToPolygons);
    Buffer<u32> pairs;
    run_distance_join(
        call, e, queries, d, total_q_count.value_or(queries.size()), unlocked,
        [&](const FlippedPolygonQuery& query) { pairs = flipped_within_distance_pairs(query); },
        [&](const auto& index) { pairs = within_distance_pairs(index, e.layout(), e.part_map(), queries, d); });
    const u64 rows = pairs.size() / 2;
    return {std::move(call), std::move(pairs), rows};
}

Metered<CompactAgg> batch_within_distance_to_polygons_aggregate(Engine& e, const PointSpans& queries, double d,
                                                                const AggColumns& columns, RunUnlocked unlocked) {
    require_dataset(e, DatasetKind::Polygons, Operation::BatchWithinDistanceToPolygonsAggregate);
    // A state or result beyond the machine fails here, before anything is built or counted.
    ensure_allocatable(GroupedAgg::peak_bytes(e.logical_count, e.layout().part_count(), columns.size()));
    MeteredCall call(e, Operation::BatchWithinDistanceToPolygonsAggregate);
    GroupedAgg state;
    run_distance_join(
        call, e, queries, d, queries.size(), unlocked,
        [&](const FlippedPolygonQuery& query) { state = flipped_within_distance_aggregate(query, columns); },
        [&](const auto& index) {
            state = within_distance_aggregate(index, e.layout(), e.part_map(), e.logical_count, queries, d,
                                              columns);
        });
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

Metered<PolygonKnnBlocks> batch_knn_to_polygons(Engine& e, const PointSpans& queries, u64 k,
                                                std::optional<u64> total_q_count, RunUnlocked unlocked) {
    require_dataset(e, DatasetKind::Polygons, Operation::BatchKnnToPolygons);
    const u64 slots = checked_mul(queries.size(), k);
    ensure_allocatable(checked_mul(slots, sizeof(u32) + sizeof(double)));
    MeteredCall call(e, Operation::BatchKnnToPolygons);
    const IndexUse use = prepare_polygon_knn(call, k, total_q_count.value_or(queries.size()));
    PolygonKnnBlocks out;
    unlocked([&] {
        out.ids.resize(slots);
        out.distances.resize(slots);
        if (slots == 0) return;
        run_polygon_knn(e, use.served, k, [&](const auto& index, const PolygonKnnInput& in) {
            knn_polygon_blocks(index, in, queries, k, out.ids, out.distances);
        });
    });
    // Polygons without parts (empty geometries) are never found: with no part at all every
    // slot is padding and no row is output.
    const u64 polygons = e.layout().part_count() == 0 ? 0 : e.logical_count;
    const u64 rows = sat_mul(queries.size(), std::min(k, polygons));
    return {std::move(call), std::move(out), rows};
}

Metered<PolygonKnnSorted> batch_knn_to_polygons_sorted(Engine& e, const PointSpans& queries, u64 k,
                                                       RunUnlocked unlocked) {
    require_dataset(e, DatasetKind::Polygons, Operation::BatchKnnToPolygonsSorted);
    // The sorted runs and the arrays they merge into are alive together.
    const u64 most = checked_mul(queries.size(), results_per_query(e, k));
    ensure_allocatable(checked_mul(most, 2 * sizeof(KnnTriple)));
    MeteredCall call(e, Operation::BatchKnnToPolygonsSorted);
    const IndexUse use = prepare_polygon_knn(call, k, queries.size());
    PolygonKnnSorted out;
    unlocked([&] {
        if (results_per_query(e, k) == 0 || queries.empty()) return;
        std::vector<std::vector<KnnTriple>> runs;
        run_polygon_knn(e, use.served, k, [&](const auto& index, const PolygonKnnInput& in) {
            runs = knn_polygon_runs(index, in, queries);
        });
        std::size_t total = 0;
        for (const auto& r : runs) total += r.size();
        out.queries.resize(total);
        out.targets.resize(total);
        out.distances.resize(total);
        kway_merge_each(runs, [&](std::size_t i, const KnnTriple& t) {
            out.queries[i] = t.query;
            out.targets[i] = t.target;
            out.distances[i] = t.distance;
        });
    });
    const u64 rows = out.queries.size();
    return {std::move(call), std::move(out), rows};
}

Metered<Buffer<u32>> polygon_intersects_self_join(Engine& engine, RunUnlocked unlocked) {
    require_dataset(engine, DatasetKind::Polygons, Operation::PolygonIntersectsSelfJoin);
    MeteredCall call(engine, Operation::PolygonIntersectsSelfJoin);
    // Every part searches once: n point-selective queries over n items.
    const IndexUse use = call.plan_and_build(QueryShape::point(0.0, 0.0), engine.stats.n, IndexKind::RTree);
    const PolygonLayout layout = engine.layout();
    Buffer<u32> pairs;
    unlocked([&] {
        engine.indexes.visit_parts(use.served, [&](const auto& index) {
            pairs = par_polygon_intersects_join(index, layout);
        });
    });
    if (engine.part_poly) pairs = logical_pairs(std::move(pairs), view(engine.part_poly));
    const u64 rows = pairs.size() / 2;
    return {std::move(call), std::move(pairs), rows};
}

}  // namespace vardelin
