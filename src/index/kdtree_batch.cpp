#include "index/kdtree_batch.hpp"

#include <algorithm>
#include <cmath>

#include "core/parallel.hpp"

namespace vardelin {

namespace {

// Spans above this many points fill their two sides' boxes in parallel: each side writes only
// its own nodes, so the table is the same on any number of threads.
constexpr std::size_t kParallelSpan = std::size_t{1} << 16;

}  // namespace

KdTreeBatchNearest::KdTreeBatchNearest(const PackedKdTree& tree, std::size_t queries) : tree_(tree) {
    const std::size_t n = tree.n_;
    if (n == 0 || queries < n / kPointsPerQuery) return;
    // The larger side of a span of s points holds floor(s / 2), so the deepest leaf is reached
    // by halving the count until it fits a leaf.
    std::size_t depth = 0;
    for (std::size_t s = n; s - 1 > PackedKdTree::kNodeSize; s /= 2) ++depth;
    boxes_.resize(std::size_t{2} << depth);
    fill(tree.buf_.at<double>(tree.coords_offset_), 1, 0, n - 1);
}

KdTreeBatchNearest::SpanBox KdTreeBatchNearest::fill(const double* c, std::size_t node, std::size_t left,
                                                     std::size_t right) {
    SpanBox b;
    if (right - left <= PackedKdTree::kNodeSize) {
        // The accumulators are never NaN, so these comparisons are fmin/fmax that skip a NaN
        // coordinate, written so that the loop vectorises.
        double mnx = kInfinity, mny = kInfinity, mxx = -kInfinity, mxy = -kInfinity;
        for (std::size_t i = left; i <= right; ++i) {
            const double x = c[2 * i], y = c[2 * i + 1];
            mnx = x < mnx ? x : mnx;
            mxx = x > mxx ? x : mxx;
            mny = y < mny ? y : mny;
            mxy = y > mxy ? y : mxy;
        }
        b = {mnx, mny, mxx, mxy};
    } else {
        const std::size_t m = (left + right) >> 1;
        SpanBox lo, hi;
        const auto low = [&] { lo = fill(c, 2 * node, left, m - 1); };
        const auto high = [&] { hi = fill(c, 2 * node + 1, m + 1, right); };
        if (right - left > kParallelSpan) {
            run_both(low, high);
        } else {
            low();
            high();
        }
        const double x = c[2 * m], y = c[2 * m + 1];
        b.min_x = std::fmin(std::fmin(lo.min_x, hi.min_x), x);
        b.min_y = std::fmin(std::fmin(lo.min_y, hi.min_y), y);
        b.max_x = std::fmax(std::fmax(lo.max_x, hi.max_x), x);
        b.max_y = std::fmax(std::fmax(lo.max_y, hi.max_y), y);
    }
    boxes_[node] = b;
    return b;
}

// As the tree's own pass, but a span is pruned by the box of its points: every point inside
// differs from the query on each axis by at least the box's gap, computed as the point's
// difference is, and rounding is monotone, so no point computes a squared distance below the
// box's. A span is skipped only when that is strictly beyond the bound, so no tie is lost, and
// the `want` nearest by `nearer` are found whatever the bound, as long as so many lie within it.
template <class Id>
void KdTreeBatchNearest::search(const Id* ids, double x, double y, double bound2, std::size_t want,
                                std::vector<Candidate>& piled) const {
    const double* c = tree_.buf_.at<double>(tree_.coords_offset_);
    const SpanBox* boxes = boxes_.data();
    NearestPile<Candidate> pile(piled, 0, want, bound2);
    const auto take = [&](std::size_t i, double d2) {
        pile.add(Candidate{static_cast<u32>(ids[i]), static_cast<u32>(i), d2});
    };
    // The boxes hold no NaN, and an empty axis (+inf above -inf) gives an infinite gap.
    const auto gap2 = [&](std::size_t node) {
        const SpanBox& b = boxes[node];
        const double gx = b.min_x > x ? b.min_x - x : (x > b.max_x ? x - b.max_x : 0.0);
        const double gy = b.min_y > y ? b.min_y - y : (y > b.max_y ? y - b.max_y : 0.0);
        return gx * gx + gy * gy;
    };

    struct Span {
        std::size_t left, right, node;
        double gap2;
    };
    Span stack[PackedKdTree::kMaxDepth * 2];
    std::size_t top = 0;
    const auto push = [&](const Span& span) {
        if (span.gap2 > pile.bound2()) return;
        stack[top++] = span;
        PackedKdTree::request_span(ids, c, span.left, span.right);
    };
    push({0, tree_.n_ - 1, 1, gap2(1)});
    while (top) {
        const Span s = stack[--top];
        if (s.gap2 > pile.bound2()) continue;  // the bound narrowed since the push
        if (s.right - s.left <= PackedKdTree::kNodeSize) {
            PackedKdTree::leaf_within(c, s.left, s.right, x, y, pile.bound2(), take);
            pile.narrow();
            continue;
        }
        const std::size_t m = (s.left + s.right) >> 1;
        {
            const double dx = c[2 * m] - x, dy = c[2 * m + 1] - y;
            const double d2 = dx * dx + dy * dy;
            if (d2 <= pile.bound2()) {
                take(m, d2);
                pile.narrow();
            }
        }
        const Span low{s.left, m - 1, 2 * s.node, gap2(2 * s.node)};
        const Span high{m + 1, s.right, 2 * s.node + 1, gap2(2 * s.node + 1)};
        // The farther side goes on the stack first, so the nearer one is searched first.
        if (high.gap2 < low.gap2) {
            push(low);
            push(high);
        } else {
            push(high);
            push(low);
        }
    }
}

void KdTreeBatchNearest::Run::nearest(double x, double y, u64 k, std::vector<Neighbor>& out) {
    const PackedKdTree& tree = batch_.tree_;
    if (tree.n_ == 0 || k == 0 || nan_query(x, y)) return;
    const std::size_t want = static_cast<std::size_t>(std::min<u64>(k, tree.n_));
    if (want > PackedKdTree::kHeapLimit || batch_.boxes_.empty()) {
        tree.nearest(x, y, k, out);
        return;
    }
    // Past the last radius the tree's own search leaves the points to its final ranking.
    const double last2 = PackedKdTree::kLastRadius * PackedKdTree::kLastRadius;
    double bound2 = last2;
    if (last_k_ == k && !last_.empty()) {
        // Measured as every distance is, so the last answer's points are within it to the bit.
        double carried = 0.0;
        for (std::size_t j = 0; j < last_.size(); j += 2) {
            const double dx = last_[j] - x, dy = last_[j + 1] - y;
            const double d2 = dx * dx + dy * dy;
            carried = d2 > carried ? d2 : carried;
        }
        if (carried < bound2) bound2 = carried;
    }
    // Where queries lie farther apart than points, the last answer bounds loosely, and the
    // tree's own first circle (where the histogram knows the density) holds fewer candidates;
    // when it comes up short, the search runs again from the sure bound.
    const PackedKdTree::FirstRadius first = tree.first_radius(x, y, want);
    const bool empty_cell = tree.hist_ && !first.local;  // the tree's own search skips its circle there
    const double first2 = std::min(bound2, empty_cell ? last2 : first.r * first.r);
    const auto search = [&](double b2) {
        pile_.clear();
        if (tree.wide_ids_) batch_.search(tree.buf_.at<u32>(PackedKdTree::kHeader), x, y, b2, want, pile_);
        else batch_.search(tree.buf_.at<std::uint16_t>(PackedKdTree::kHeader), x, y, b2, want, pile_);
        return pile_.size();
    };
    std::size_t found = search(first2);
    if (found < want && first2 < bound2) found = search(bound2);
    last_k_ = k;
    last_.clear();
    const std::size_t base = out.size();
    Candidate* pile = pile_.data();
    const auto closer = NearestPile<Candidate>::closer;
    if (found >= want) {
        std::nth_element(pile, pile + (want - 1), pile + found, closer);
        std::sort(pile, pile + want, closer);
        const double* c = tree.buf_.at<double>(tree.coords_offset_);
        for (std::size_t j = 0; j < want; ++j) {
            out.push_back(Neighbor{pile[j].id, pile[j].dist2});
            last_.push_back(c[2 * std::size_t{pile[j].pos}]);
            last_.push_back(c[2 * std::size_t{pile[j].pos} + 1]);
        }
    } else {
        // Points the search cannot reach make up the rest: nothing of this answer carries.
        for (std::size_t j = 0; j < found; ++j) out.push_back(Neighbor{pile[j].id, pile[j].dist2});
    }
    tree.finish_nearest(x, y, want, out, base);
}

}  // namespace vardelin
