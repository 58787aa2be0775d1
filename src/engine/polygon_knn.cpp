#include "engine/polygon_knn.hpp"

#include <algorithm>

#include "core/error.hpp"
#include "core/memory.hpp"
#include "engine/indexes.hpp"
#include "index/part_boxes.hpp"
#include "query/batch/polygon_knn.hpp"

namespace vardelin {

namespace {

// The most results one query can have: k clamped to the parts and to the logical polygons.
u64 results_per_query(const Engine& e, u64 k) noexcept {
    return std::min({k, static_cast<u64>(e.layout().part_count()), e.logical_count});
}

// Runs the kernel on the served index with the call's inputs; the part boxes are the index's
// own, computed afresh without the interpreter lock.
template <class Kernel>
void run_polygon_knn(const Engine& e, IndexKind served, u64 k, Kernel&& kernel) {
    const PolygonLayout layout = e.layout();
    const Buffer<Box> boxes = part_boxes_parallel(layout);
    PolygonKnnInput in{layout, boxes, view(e.part_poly), std::min<u64>(k, layout.part_count()), e.logical_count};
    e.indexes.visit_parts(served, [&](const auto& index) { kernel(index, in); });
}

}  // namespace

Metered<PolygonKnnBlocks> batch_knn_to_polygons(Engine& e, const PointSpans& queries, u64 k,
                                                std::optional<u64> total_q_count, RunUnlocked unlocked) {
    require_dataset(e, DatasetKind::Polygons, Operation::BatchKnnToPolygons);
    const u64 slots = checked_mul(queries.size(), k);
    ensure_allocatable(checked_mul(slots, sizeof(u32) + sizeof(double)));
    MeteredCall call(e, Operation::BatchKnnToPolygons);
    const IndexUse use = call.plan_and_build(QueryShape::knn(k, 0.0, 0.0), total_q_count.value_or(queries.size()),
                                             IndexKind::RTree);
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
    const IndexUse use = call.plan_and_build(QueryShape::knn(k, 0.0, 0.0), queries.size(), IndexKind::RTree);
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

}  // namespace vardelin
