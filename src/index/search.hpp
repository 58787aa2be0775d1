#pragma once
#include <vector>

#include "core/box.hpp"
#include "core/numeric.hpp"
#include "index/brute.hpp"
#include "index/rtree.hpp"
#include "index/spatial_index.hpp"

namespace vardelin {

// One call shape for the searches of all four index types, for kernels that are templates over
// the index type (see IndexSlots::visit). The R-tree borrows this thread's scratch, so a
// search allocates nothing of its own; the other indexes need none.

// visit(u32 id) for every item meeting the closed box, in the index's own order.
template <class Index, class Visit>
void for_each_in_range(const Index& index, const Box& box, Visit&& visit) {
    index.for_each_in_range(box, visit);
}
template <class Visit>
void for_each_in_range(const PackedRTree& index, const Box& box, Visit&& visit) {
    const SearchQueueLease queue;
    index.for_each_in_range(box, *queue, visit);
}

// visit(u32 id, const Box& box) for every item meeting the closed box, in the index's own order,
// with the box the index holds: a search for a group of nearby points, sorted out per point
// by its box, gives each point the items its own search would, in the same order. Indexes of
// boxes only (brute force, R-tree).
template <class Index, class Visit>
void for_each_box_in_range(const Index& index, const Box& box, Visit&& visit) {
    index.for_each_box_in_range(box, visit);
}
template <class Visit>
void for_each_box_in_range(const PackedRTree& index, const Box& box, Visit&& visit) {
    const SearchQueueLease queue;
    index.for_each_box_in_range(box, *queue, visit);
}

// Appends the ids of the items meeting the closed box, in the index's own order.
template <class Index>
void range_into(const Index& index, const Box& box, std::vector<u64>& out) {
    index.range(box, out);
}
inline void range_into(const PackedRTree& index, const Box& box, std::vector<u64>& out) {
    for_each_in_range(index, box, [&](u32 id) { out.push_back(id); });
}

// Point indexes: appends the points inside the closed box with the coordinates the search read.
template <class Index>
void point_range_into(const Index& index, const Box& box, std::vector<PointHit>& out) {
    index.point_range(box, out);
}
inline void point_range_into(const BruteForce& index, const Box& box, std::vector<PointHit>& out) {
    index.for_each_point_in_range(box, [&](u32 id, double x, double y) { out.push_back(PointHit{id, x, y}); });
}
inline void point_range_into(const PackedRTree& index, const Box& box, std::vector<PointHit>& out) {
    const SearchQueueLease queue;
    index.for_each_point_in_range(box, *queue, [&](u32 id, double x, double y) { out.push_back(PointHit{id, x, y}); });
}

// Appends at most k (id, squared distance) pairs, nearest first by the squared form's keys
// (make_ranking_exact in exact_ranking.hpp makes the answer exact where they leave its range).
template <class Index>
void nearest_into(const Index& index, double x, double y, u64 k, std::vector<Neighbor>& out) {
    index.nearest(x, y, k, out);
}
inline void nearest_into(const PackedRTree& index, double x, double y, u64 k, std::vector<Neighbor>& out) {
    const NeighborQueueLease heap;
    index.nearest(x, y, k, out, *heap);
}

}  // namespace vardelin
