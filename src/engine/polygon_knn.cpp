#include "engine/polygon_knn.hpp"

#include <algorithm>
#include <type_traits>

#include "core/error.hpp"
#include "core/memory.hpp"
#include "engine/indexes.hpp"
#include "index/part_boxes.hpp"
#include "planner/cost.hpp"
#include "query/batch/polygon_knn.hpp"

namespace vardelin {

namespace {

void require_polygons(const Engine& e, const char* message) {
    if (!e.is_polygons()) throw Error(message);
}

// The kind rule of both joins; built indexes are not weighed. "auto" builds the R-tree only
// when its build and searches cost strictly less than scanning every part per query.
IndexKind polygon_knn_kind(const Engine& e, u64 k, u64 q) noexcept {
    switch (e.index_mode.tag) {
        case IndexMode::Tag::Explicit: return e.index_mode.kind;
        case IndexMode::Tag::None: return IndexKind::BruteForce;
        case IndexMode::Tag::Eager: return IndexKind::RTree;
        case IndexMode::Tag::Auto: break;
    }
    const QueryShape shape = QueryShape::knn(k, 0.0, 0.0);
    const CostModel cost(e.cost_factors, e.stats.n, q, selectivity(e.stats, shape), true);
    return cost.scan() > cost.total(IndexKind::RTree) ? IndexKind::RTree : IndexKind::BruteForce;
}

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
    e.indexes.visit(served, [&]<class Index>(const Index& index) {
        if constexpr (std::is_same_v<Index, BruteForce> || std::is_same_v<Index, PackedRTree>) {
            kernel(index, in);
        } else {
            throw InternalError("polygon kNN searches only the brute-force index or the R-tree");
        }
    });
}

}  // namespace

Metered<PolygonKnnBlocks> batch_knn_to_polygons(Engine& e, const PointSpans& queries, u64 k,
                                                std::optional<u64> total_q_count, RunUnlocked unlocked) {
    require_polygons(e, "batch_knn_to_polygons requires a polygon dataset");
    const u64 slots = checked_mul(queries.size(), k);
    ensure_allocatable(checked_mul(slots, sizeof(u32) + sizeof(double)));
    MeteredCall call(e, Operation::BatchKnnToPolygons);
    const IndexUse use = call.build(polygon_knn_kind(e, k, total_q_count.value_or(queries.size())));
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
    require_polygons(e, "batch_knn_to_polygons_sorted requires a polygon dataset");
    // The sorted runs and the arrays they merge into are alive together.
    const u64 most = checked_mul(queries.size(), results_per_query(e, k));
    ensure_allocatable(checked_mul(most, 2 * sizeof(KnnTriple)));
    MeteredCall call(e, Operation::BatchKnnToPolygonsSorted);
    const IndexUse use = call.build(polygon_knn_kind(e, k, queries.size()));
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
