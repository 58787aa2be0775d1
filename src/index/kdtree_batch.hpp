#pragma once
#include <vector>

#include "core/shared_array.hpp"
#include "index/kdtree.hpp"

namespace vardelin {

// The nearest searches of one batch (a kNN join) over a k-d tree. The tree keeps no node boxes:
// a search prunes a span by the splits of its ancestors, and far from clustered points those
// bound regions that reach across empty space to points that lie far away, so a query there
// scans leaf after leaf in vain. A batch pays once, in its own time, for the box of the points
// of every span and prunes by those instead; the table is dropped with the batch, so the
// tree's layout and size stay as they are.
class KdTreeBatchNearest {
public:
    explicit KdTreeBatchNearest(const PackedKdTree& tree);

    // One worker's searches. Queries taken in a space-filling order lie close to the one before:
    // the k points nearest the last query lie within its k-th distance plus the distance between
    // the two, so a search starts from that bound, with no density guess, and searches again
    // without it in the rare case (rounding, far-out points) that it holds fewer than k.
    class Run {
    public:
        explicit Run(const KdTreeBatchNearest& batch) noexcept : batch_(batch) {}
        // Appends the same min(k, size) pairs as the tree's own nearest, nearest first.
        void nearest(double x, double y, u64 k, std::vector<Neighbor>& out);

    private:
        const KdTreeBatchNearest& batch_;
        bool has_last_ = false;
        u64 last_k_ = 0;
        double last_x_ = 0, last_y_ = 0, last_dist2_ = 0;
    };

    Run run() const noexcept { return Run(*this); }

private:
    // The box of the points of a span, NaN coordinates skipped; +inf / -inf bounds when a span
    // has no number on an axis, which puts it at an infinite distance.
    struct SpanBox {
        double min_x, min_y, max_x, max_y;
    };

    template <class Id>
    void search(const Id* ids, double x, double y, double bound2, std::size_t want, std::vector<Neighbor>& out,
                std::size_t base) const;
    SpanBox fill(const double* c, std::size_t node, std::size_t left, std::size_t right);

    const PackedKdTree& tree_;
    // Spans numbered as a heap: the root is 1, the sides of span i are 2i and 2i + 1.
    Buffer<SpanBox> boxes_;
};

}  // namespace vardelin
