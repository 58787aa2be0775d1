#pragma once
#include <vector>

#include "core/error.hpp"
#include "engine/engine.hpp"
#include "index/brute.hpp"
#include "index/grid.hpp"
#include "index/kdtree.hpp"
#include "index/kind.hpp"
#include "index/rtree.hpp"

namespace vardelin {

// The searches of the index in one slot of the Engine, for callers that planned and built it
// (plan_and_build_index or use_index); an empty slot is a broken invariant, never a null read.
// The R-tree borrows this thread's scratch, so a search allocates nothing of its own.

// visit(u32 id) for every item of the slot's index meeting the closed box, in its own order.
template <class Visit>
void for_each_in_range(const Engine& engine, IndexKind kind, const Box& box, Visit&& visit) {
    switch (kind) {
        case IndexKind::BruteForce:
            if (engine.brute_force) return engine.brute_force->for_each_in_range(box, visit);
            break;
        case IndexKind::RTree:
            if (engine.r_tree) {
                const SearchQueueLease queue;
                return engine.r_tree->for_each_in_range(box, *queue, visit);
            }
            break;
        case IndexKind::KdTree:
            if (engine.kd_tree) return engine.kd_tree->for_each_in_range(box, visit);
            break;
        case IndexKind::Grid:
            if (engine.grid) return engine.grid->for_each_in_range(box, visit);
            break;
    }
    throw InternalError("range search on an index that was not built");
}

// Point datasets only: appends the ids of the points of the slot's index inside the closed
// box, in its own order.
void range_in(const Engine& engine, IndexKind kind, const Box& box, std::vector<u64>& out);

// Point datasets only: appends the points of the slot's index inside the closed box with the
// coordinates the search read, in its own order.
void point_range_in(const Engine& engine, IndexKind kind, const Box& box, std::vector<PointHit>& out);

// Appends min(k, items) (id, squared distance) pairs, nearest first, from the slot's index.
void nearest_in(const Engine& engine, IndexKind kind, double x, double y, u64 k, std::vector<Neighbor>& out);

}  // namespace vardelin
