#pragma once
#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/packed_buffer.hpp"
#include "core/point_spans.hpp"
#include "index/part_boxes.hpp"
#include "index/spatial_index.hpp"

namespace vardelin {

// An entry of the best-first neighbour search: key = 2 * id + 1 for an item, 2 * (first child
// position) for a node.
struct NeighborNode {
    u64 key;
    double dist2;
};

// Heap order that puts the smallest distance on top, equal distances by ascending key; NaN last.
struct NeighborNodeAfter {
    bool operator()(const NeighborNode& a, const NeighborNode& b) const noexcept {
        if (nan_last_less(b.dist2, a.dist2)) return true;
        if (nan_last_less(a.dist2, b.dist2)) return false;
        return a.key > b.key;
    }
};

// Static R-tree packed in one contiguous buffer: an 8-byte header, the boxes of all nodes
// (min_x, min_y, max_x, max_y), then one id per node (2 bytes below 16384 nodes, else 4).
// Level 0 holds the items sorted along a Hilbert curve, each higher level one node per 16
// children (its box their union, its id the position of its first child), the root last.
class PackedRTree : public ListSearches<PackedRTree> {
public:
    using ListSearches::nearest;
    using ListSearches::range;

    static constexpr std::size_t kNodeSize = 16;

    // Nodes of a tree over `items`: the items, then ceil(entries / 16) per level while a level
    // has at least 2 entries. 0 -> 0, 1 -> 1, 100 -> 108.
    static u64 node_count(u64 items) noexcept;

    // Points as boxes (x, y, x, y). A point with a NaN coordinate matches no box and lies at an
    // infinite distance. A query box with a NaN coordinate matches no item, point or part.
    static PackedRTree over_points(const PointSpans& points);
    // One box per part (`part_box`), computed on the worker pool. A part without exterior
    // coordinates keeps the empty box but lies at +inf for `nearest`; a part with a non-finite
    // vertex, boxed with NaN, meets no box and lies at +inf too. Node boxes fold NaN away.
    static PackedRTree over_parts(const PolygonLayout& layout);

    std::size_t size() const noexcept { return n_; }
    std::size_t nodes() const noexcept { return nodes_; }
    u64 bytes() const noexcept { return buf_.size(); }

    // visit(u32 id) for every item whose box meets the closed query box, breadth-first, leaf
    // entries in Hilbert order. `queue` is the caller's scratch FIFO (emptied first).
    template <class Visit>
    void for_each_in_range(const Box& q, std::vector<u64>& queue, Visit&& visit) const {
        search_range(q, queue, [&](std::size_t pos, const Box&) { visit(id_at(pos)); });
    }

    // The same with each item's box as the leaf holds it: visit(u32 id, const Box& box).
    template <class Visit>
    void for_each_box_in_range(const Box& q, std::vector<u64>& queue, Visit&& visit) const {
        search_range(q, queue, [&](std::size_t pos, const Box& b) { visit(id_at(pos), b); });
    }

    // A tree over points only (the caller knows): visit(u32 id, double x, double y) for every
    // point inside the closed box, in the same order, with the coordinates the leaf holds.
    template <class Visit>
    void for_each_point_in_range(const Box& q, std::vector<u64>& queue, Visit&& visit) const {
        search_range(q, queue, [&](std::size_t pos, const Box& b) { visit(id_at(pos), b.min_x, b.min_y); });
    }

    // Best-first walk: visit(u32 id, double dist2) for the items in ascending squared distance
    // from (x, y) to their boxes, until it returns false or the items run out. Items at an
    // infinite distance are never visited. `heap` is the caller's scratch (emptied first).
    template <class Visit>
    void for_each_nearest(double x, double y, std::vector<NeighborNode>& heap, Visit&& visit) const {
        if (nodes_ == 0) return;
        const Box* boxes = buf_.at<Box>(kHeader);
        const NeighborNodeAfter after;
        heap.clear();
        std::size_t node = nodes_ - 1;
        for (;;) {
            const std::size_t end = std::min(node + kNodeSize, level_end(node));
            const u64 item = node < n_ ? 1 : 0;
            for (std::size_t pos = node; pos < end; ++pos) {
                const double d2 = item ? item_dist2(pos, x, y) : box_dist2(boxes[pos], x, y);
                if (d2 > std::numeric_limits<double>::max()) continue;
                heap.push_back(NeighborNode{2 * static_cast<u64>(id_at(pos)) + item, d2});
                std::push_heap(heap.begin(), heap.end(), after);
            }
            while (!heap.empty() && (heap.front().key & 1)) {
                const NeighborNode top = heap.front();
                std::pop_heap(heap.begin(), heap.end(), after);
                heap.pop_back();
                if (!visit(static_cast<u32>(top.key >> 1), top.dist2)) return;
            }
            if (heap.empty()) return;
            node = static_cast<std::size_t>(heap.front().key >> 1);
            std::pop_heap(heap.begin(), heap.end(), after);
            heap.pop_back();
        }
    }

    template <class Visit>
    void for_each_in_range(const Box& q, Visit&& visit) const {
        std::vector<u64> queue;
        for_each_in_range(q, queue, visit);
    }
    void nearest(double x, double y, u64 k, std::vector<Neighbor>& out, std::vector<NeighborNode>& heap) const;
    void nearest(double x, double y, u64 k, std::vector<Neighbor>& out) const;

private:
    template <class BoxOf>
    static PackedRTree pack(std::size_t n, const BoxOf& box_of, bool points);

    // Breadth-first box search: on_leaf(position, box) for every leaf entry meeting the box.
    template <class OnLeaf>
    void search_range(const Box& q, std::vector<u64>& queue, OnLeaf&& on_leaf) const {
        // A NaN bound matches nothing, as in every index; the node tests below would let it
        // through on that side.
        if (nodes_ == 0 || has_nan(q)) return;
        const Box* boxes = buf_.at<Box>(kHeader);
        queue.clear();
        std::size_t head = 0;
        std::size_t node = nodes_ - 1;  // the root
        for (;;) {
            const std::size_t end = std::min(node + kNodeSize, level_end(node));
            if (node < n_) {
                // The kind of item is decided once per leaf, not per entry.
                if (points_) {
                    for (std::size_t pos = node; pos < end; ++pos) {
                        if (point_meets(boxes[pos], q)) on_leaf(pos, boxes[pos]);
                    }
                } else {
                    for (std::size_t pos = node; pos < end; ++pos) {
                        if (part_meets(boxes[pos], q)) on_leaf(pos, boxes[pos]);
                    }
                }
            } else {
                for (std::size_t pos = node; pos < end; ++pos) {
                    const Box& b = boxes[pos];
                    // Comparisons with NaN are false, so a NaN never prunes a node.
                    if (q.max_x < b.min_x || q.max_y < b.min_y || b.max_x < q.min_x || b.max_y < q.min_y) continue;
                    queue.push_back(id_at(pos));
                }
            }
            if (head == queue.size()) return;
            node = static_cast<std::size_t>(queue[head++]);
        }
    }

    std::size_t level_end(std::size_t node) const noexcept {
        for (std::size_t e : level_ends_) {
            if (node < e) return e;
        }
        return nodes_;
    }
    u32 id_at(std::size_t pos) const noexcept {
        return wide_ids_ ? buf_.at<u32>(ids_offset_)[pos] : buf_.at<std::uint16_t>(ids_offset_)[pos];
    }
    // Items match only with every comparison true: a point with a NaN coordinate, or a part
    // boxed with NaN (one with a non-finite vertex), meets no box, an infinite one included.
    static bool point_meets(const Box& b, const Box& q) noexcept { return point_in_box(b.min_x, b.min_y, q); }
    static bool part_meets(const Box& b, const Box& q) noexcept {
        return b.min_x <= q.max_x && b.min_y <= q.max_y && q.min_x <= b.max_x && q.min_y <= b.max_y;
    }
    // The item at leaf position pos. An empty part's box is the origin (so range searches offer it
    // to the exact tests, which reject it), but the part itself lies at +inf.
    double item_dist2(std::size_t pos, double x, double y) const noexcept {
        const Box& b = buf_.at<Box>(kHeader)[pos];
        const bool origin = b.min_x == 0.0 && b.min_y == 0.0 && b.max_x == 0.0 && b.max_y == 0.0;
        if (origin && std::binary_search(empty_parts_.begin(), empty_parts_.end(), id_at(pos))) return kInfinity;
        return box_dist2(b, x, y);
    }

    static constexpr std::size_t kHeader = 8;

    PackedBuffer buf_;
    std::size_t n_ = 0;
    std::size_t nodes_ = 0;
    std::size_t ids_offset_ = kHeader;
    bool wide_ids_ = false;
    bool points_ = false;
    std::vector<std::size_t> level_ends_;  // end position of each level, leaves first
    std::vector<u32> empty_parts_;          // ascending
};

// The per-thread scratch of the batch joins' searches, so a search per query point allocates
// nothing: each thread's FIFO of node positions and its neighbour heap, created empty on first
// use, kept until the thread ends, and held by one search at a time. Taking one that this
// thread already holds is an internal error.
class SearchQueueLease {
public:
    SearchQueueLease();
    ~SearchQueueLease();
    SearchQueueLease(const SearchQueueLease&) = delete;
    SearchQueueLease& operator=(const SearchQueueLease&) = delete;
    std::vector<u64>& operator*() const noexcept { return *queue_; }

private:
    std::vector<u64>* queue_;
};

class NeighborQueueLease {
public:
    NeighborQueueLease();
    ~NeighborQueueLease();
    NeighborQueueLease(const NeighborQueueLease&) = delete;
    NeighborQueueLease& operator=(const NeighborQueueLease&) = delete;
    std::vector<NeighborNode>& operator*() const noexcept { return *heap_; }

private:
    std::vector<NeighborNode>* heap_;
};

}  // namespace vardelin
