#include "index/rtree.hpp"

#include <cmath>
#include <cstring>


#include "core/error.hpp"
#include "core/parallel.hpp"
#include "index/hilbert.hpp"

namespace vardelin {

static_assert(SpatialIndex<PackedRTree>);

namespace {

// Grid coordinate of a box centre; a NaN or infinite position saturates (NaN to 0).
inline u32 hilbert_cell(double centre, double origin, double width) noexcept {
    const double f = std::floor(static_cast<double>(kHilbertSide - 1) * (centre - origin) / width);
    return std::min(saturating_cast<u32>(f), kHilbertSide - 1);
}

struct Scratch {
    std::vector<u64> search_queue;
    bool search_queue_taken = false;
    std::vector<NeighborNode> neighbor_queue;
    bool neighbor_queue_taken = false;
};

thread_local Scratch thread_scratch;

}  // namespace

u64 PackedRTree::node_count(u64 items) noexcept {
    u64 total = items, level = items;
    while (level >= 2) {
        level = (level + kNodeSize - 1) / kNodeSize;
        total += level;
    }
    return total;
}

template <class BoxOf>
PackedRTree PackedRTree::pack(std::size_t n, const BoxOf& box_of, bool points) {
    PackedRTree t;
    t.n_ = n;
    t.points_ = points;
    t.nodes_ = static_cast<std::size_t>(node_count(n));
    for (std::size_t level = n, end = n;;) {
        t.level_ends_.push_back(end);
        if (level < 2) break;
        level = (level + kNodeSize - 1) / kNodeSize;
        end += level;
    }
    t.wide_ids_ = t.nodes_ >= 16384;
    t.ids_offset_ = static_cast<std::size_t>(checked_add(kHeader, checked_mul(t.nodes_, 32)));
    t.buf_ = PackedBuffer(
        static_cast<std::size_t>(checked_add(t.ids_offset_, checked_mul(t.nodes_, t.wide_ids_ ? 4 : 2))));
    std::uint8_t* header = t.buf_.at<std::uint8_t>(0);
    header[0] = 0xfb;  // marks the buffer as an R-tree
    header[1] = t.wide_ids_ ? 4 : 2;
    const std::uint16_t node_size = kNodeSize;
    const u32 count = static_cast<u32>(n);
    std::memcpy(header + 2, &node_size, 2);
    std::memcpy(header + 4, &count, 4);
    if (n == 0) return t;

    const Box ext = parallel_fold(
        n, 1 << 15, kFoldStart,
        [&](std::size_t b, std::size_t e, Box acc) {
            for (std::size_t i = b; i != e; ++i) acc = fold_boxes(acc, box_of(i));
            return acc;
        },
        fold_boxes);
    const double w = ext.max_x - ext.min_x > 0.0 ? ext.max_x - ext.min_x : 1.0;
    const double h = ext.max_y - ext.min_y > 0.0 ? ext.max_y - ext.min_y : 1.0;

    // Hilbert value in the high half, id in the low half: one sort of unique keys gives the
    // curve order with ties broken by id, the same on every run.
    Buffer<u64> keys;
    keys.resize(n);
    parallel_blocks(n, 1 << 14, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i != last; ++i) {
            const Box b = box_of(i);
            const u32 hx = hilbert_cell((b.min_x + b.max_x) / 2.0, ext.min_x, w);
            const u32 hy = hilbert_cell((b.min_y + b.max_y) / 2.0, ext.min_y, h);
            keys[i] = (static_cast<u64>(hilbert_index(hx, hy)) << 32) | i;
        }
    });
    parallel_sort(keys.begin(), keys.end());

    Box* boxes = t.buf_.at<Box>(kHeader);
    const auto set_id = [&](std::size_t pos, u64 id) {
        if (t.wide_ids_) t.buf_.at<u32>(t.ids_offset_)[pos] = static_cast<u32>(id);
        else t.buf_.at<std::uint16_t>(t.ids_offset_)[pos] = static_cast<std::uint16_t>(id);
    };
    parallel_blocks(n, 1 << 14, [&](std::size_t first, std::size_t last) {
        for (std::size_t pos = first; pos != last; ++pos) {
            const u64 id = keys[pos] & 0xffffffffu;
            boxes[pos] = box_of(static_cast<std::size_t>(id));
            set_id(pos, id);
        }
    });
    for (std::size_t l = 1; l < t.level_ends_.size(); ++l) {
        const std::size_t child_begin = l >= 2 ? t.level_ends_[l - 2] : 0;
        const std::size_t child_end = t.level_ends_[l - 1];
        const std::size_t parents = t.level_ends_[l] - child_end;
        parallel_blocks(parents, 1024, [&](std::size_t first_parent, std::size_t last_parent) {
            for (std::size_t j = first_parent; j != last_parent; ++j) {
                const std::size_t first = child_begin + j * kNodeSize;
                const std::size_t last = std::min(first + kNodeSize, child_end);
                Box b = kFoldStart;
                for (std::size_t c = first; c < last; ++c) b = fold_boxes(b, boxes[c]);
                boxes[child_end + j] = b;
                set_id(child_end + j, first);
            }
        });
    }
    return t;
}

PackedRTree PackedRTree::over_points(const PointSpans& points) {
    const double *xs = points.xs().data(), *ys = points.ys().data();
    return pack(points.size(), [&](std::size_t i) { return Box{xs[i], ys[i], xs[i], ys[i]}; }, true);
}

PackedRTree PackedRTree::over_parts(const PolygonLayout& layout) {
    const Buffer<Box> boxes = part_boxes_parallel(layout);
    PackedRTree t = pack(boxes.size(), [&](std::size_t i) { return boxes[i]; }, false);
    t.empty_parts_ = empty_parts(layout);
    return t;
}

void PackedRTree::nearest(double x, double y, u64 k, std::vector<Neighbor>& out,
                          std::vector<NeighborNode>& heap) const {
    if (k == 0 || nan_query(x, y)) return;
    const std::size_t base = out.size();
    u64 found = 0;
    for_each_nearest(x, y, heap, [&](u32 id, double d2) {
        out.push_back(Neighbor{id, d2});
        return ++found < k;
    });
    complete_nearest(out, base, static_cast<std::size_t>(std::min<u64>(k, n_)), n_, [&](auto&& take) {
        for (std::size_t pos = 0; pos < n_; ++pos) take(id_at(pos), item_dist2(pos, x, y));
    });
}

void PackedRTree::nearest(double x, double y, u64 k, std::vector<Neighbor>& out) const {
    std::vector<NeighborNode> heap;
    nearest(x, y, k, out, heap);
}

SearchQueueLease::SearchQueueLease() : queue_(&thread_scratch.search_queue) {
    if (thread_scratch.search_queue_taken) throw InternalError("R-tree search queue already in use on this thread");
    thread_scratch.search_queue_taken = true;
}

SearchQueueLease::~SearchQueueLease() { thread_scratch.search_queue_taken = false; }

NeighborQueueLease::NeighborQueueLease() : heap_(&thread_scratch.neighbor_queue) {
    if (thread_scratch.neighbor_queue_taken) {
        throw InternalError("R-tree neighbour queue already in use on this thread");
    }
    thread_scratch.neighbor_queue_taken = true;
}

NeighborQueueLease::~NeighborQueueLease() { thread_scratch.neighbor_queue_taken = false; }

}  // namespace vardelin
