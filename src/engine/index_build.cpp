#include "engine/index_build.hpp"

#include <memory>

#include "core/timing.hpp"
#include "engine/part_layout.hpp"
#include "index/brute.hpp"
#include "index/grid.hpp"
#include "index/kdtree.hpp"
#include "index/rtree.hpp"

namespace vardelin {

namespace {

bool is_built(const Engine& e, IndexKind kind) noexcept {
    switch (kind) {
        case IndexKind::BruteForce: return e.brute_force != nullptr;
        case IndexKind::RTree: return e.r_tree != nullptr;
        case IndexKind::KdTree: return e.kd_tree != nullptr;
        case IndexKind::Grid: return e.grid != nullptr;
    }
    return true;
}

// The k-d tree and the grid index points only: on a polygon dataset (reachable through the
// explicit modes alone) their items are the vertices.
void build(Engine& e, IndexKind kind) {
    switch (kind) {
        case IndexKind::BruteForce:
            e.brute_force = std::make_shared<const BruteForce>(e.is_polygons() ? BruteForce::over_parts(part_layout(e))
                                                                                : BruteForce::over_points(e.xs, e.ys));
            return;
        case IndexKind::RTree:
            e.r_tree = std::make_shared<const PackedRTree>(e.is_polygons() ? PackedRTree::build_polygons(part_layout(e))
                                                                            : PackedRTree::over_points(e.x(), e.y()));
            return;
        case IndexKind::KdTree: {
            PackedKdTree tree = PackedKdTree::build(e.xs, e.ys);
            if (e.stats.histogram) tree.attach_histogram(*e.stats.histogram);
            e.kd_tree = std::make_shared<const PackedKdTree>(std::move(tree));
            return;
        }
        case IndexKind::Grid: e.grid = std::make_shared<const UniformGrid>(UniformGrid::build(e.xs, e.ys)); return;
    }
}

}  // namespace

u64 build_index_if_needed(Engine& engine, IndexKind kind) {
    if (is_built(engine, kind)) return 0;
    const Stopwatch clock;
    build(engine, kind);
    const auto ns = clock.elapsed();
    engine.metrics.build_of(kind).record(ns);
    return ns.value_or(0);
}

u64 index_bytes(const Engine& engine) {
    u64 total = 0;
    if (engine.brute_force) total = sat_add(total, engine.brute_force->bytes());
    if (engine.r_tree) total = sat_add(total, engine.r_tree->bytes());
    if (engine.kd_tree) total = sat_add(total, engine.kd_tree->bytes());
    if (engine.grid) total = sat_add(total, engine.grid->bytes());
    return total;
}

}  // namespace vardelin
