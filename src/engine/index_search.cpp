#include "engine/index_search.hpp"

namespace vardelin {

void range_in(const Engine& engine, IndexKind kind, const Box& box, std::vector<u64>& out) {
    if (engine.is_polygons()) throw InternalError("point search on a polygon dataset");
    switch (kind) {
        case IndexKind::BruteForce:
            if (engine.brute_force) return engine.brute_force->range(box, out);
            break;
        case IndexKind::RTree:
            if (engine.r_tree) {
                const SearchQueueLease queue;
                return engine.r_tree->for_each_in_range(box, *queue, [&](u32 id) { out.push_back(id); });
            }
            break;
        case IndexKind::KdTree:
            if (engine.kd_tree) return engine.kd_tree->range(box, out);
            break;
        case IndexKind::Grid:
            if (engine.grid) return engine.grid->range(box, out);
            break;
    }
    throw InternalError("range search on an index that was not built");
}

void point_range_in(const Engine& engine, IndexKind kind, const Box& box, std::vector<PointHit>& out) {
    if (engine.is_polygons()) throw InternalError("point search on a polygon dataset");
    const auto take = [&](u32 id, double x, double y) { out.push_back(PointHit{id, x, y}); };
    switch (kind) {
        case IndexKind::BruteForce:
            if (engine.brute_force) return engine.brute_force->for_each_point_in_range(box, take);
            break;
        case IndexKind::RTree:
            if (engine.r_tree) {
                const SearchQueueLease queue;
                return engine.r_tree->for_each_point_in_range(box, *queue, take);
            }
            break;
        case IndexKind::KdTree:
            if (engine.kd_tree) return engine.kd_tree->point_range(box, out);
            break;
        case IndexKind::Grid:
            if (engine.grid) return engine.grid->point_range(box, out);
            break;
    }
    throw InternalError("range search on an index that was not built");
}

void nearest_in(const Engine& engine, IndexKind kind, double x, double y, u64 k, std::vector<Neighbor>& out) {
    switch (kind) {
        case IndexKind::BruteForce:
            if (engine.brute_force) return engine.brute_force->nearest(x, y, k, out);
            break;
        case IndexKind::RTree:
            if (engine.r_tree) {
                const NeighborQueueLease heap;
                return engine.r_tree->nearest(x, y, k, out, *heap);
            }
            break;
        case IndexKind::KdTree:
            if (engine.kd_tree) return engine.kd_tree->nearest(x, y, k, out);
            break;
        case IndexKind::Grid:
            if (engine.grid) return engine.grid->nearest(x, y, k, out);
            break;
    }
    throw InternalError("nearest search on an index that was not built");
}

}  // namespace vardelin
