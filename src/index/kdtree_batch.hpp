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
    // The table costs a pass over every point: a batch of few queries over many points would
    // pay more for it than its searches save, and searches as the tree's own nearest does.
    KdTreeBatchNearest(const PackedKdTree& tree, std::size_t queries);

    // A point a search found: its id, its position in the tree, its squared distance.
    struct Candidate {
        u32 id, pos;
        double dist2;
    };

    // One worker's searches. Queries taken in a space-filling order lie close to the one before:
    // the k points nearest the last query hold k points within their farthest distance from
    // this one, so a search starts from that bound, exact and with no density guess.
    class Run {
    public:
        explicit Run(const KdTreeBatchNearest& batch) noexcept : batch_(batch) {}
        // Appends the same min(k, size) pairs as the tree's own nearest, nearest first.
        void nearest(double x, double y, u64 k, std::vector<Neighbor>& out);

    private:
        const KdTreeBatchNearest& batch_;
        std::vector<Candidate> pile_;
        // The points of the last answer (x, y interleaved, as the tree holds them) while they
        // are what a search found, and the k they answered.
        std::vector<double> last_;
        u64 last_k_ = 0;
    };

    Run run() const noexcept { return Run(*this); }

private:
    // The box of the points of a span, NaN coordinates skipped; +inf / -inf bounds when a span
    // has no number on an axis, which puts it at an infinite distance.
    struct SpanBox {
        double min_x, min_y, max_x, max_y;
    };

    // Leaves in `pile` the `want` nearest within the bound and maybe more, in no order, or all
    // of them when fewer.
    template <class Id>
    void search(const Id* ids, double x, double y, double bound2, std::size_t want, std::vector<Candidate>& pile) const;
    SpanBox fill(const double* c, std::size_t node, std::size_t left, std::size_t right);

    // A batch with fewer queries than one per this many points builds no table.
    static constexpr std::size_t kPointsPerQuery = 256;

    const PackedKdTree& tree_;
    // Spans numbered as a heap: the root is 1, the sides of span i are 2i and 2i + 1. Empty
    // when the batch searches without it.
    Buffer<SpanBox> boxes_;
};

}  // namespace vardelin
