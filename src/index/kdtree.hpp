#pragma once
#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>
#include <vector>

#include "core/memory.hpp"
#include "core/packed_buffer.hpp"
#include "core/shared_array.hpp"
#include "index/spatial_index.hpp"

namespace vardelin {

// The candidates of a nearest search, after `base` in the caller's buffer: those within the
// bound pile up, and once the pile is full the `want` nearest are kept and the bound narrows to
// the farthest of them. A heap would narrow it at every candidate, at a logarithm's cost each,
// where the pile costs a selection now and then. Entries (an `id` and a `dist2`) passed a
// comparison with the bound, so none is NaN, and the plain comparisons below are the order of
// `nearer`.
template <class Entry>
class NearestPile {
public:
    NearestPile(std::vector<Entry>& items, std::size_t base, std::size_t want, double bound2)
        : items_(items), base_(base), want_(want), full_(base + want + std::max<std::size_t>(want / 2, 4)),
          bound2_(bound2) {}

    static bool closer(const Entry& a, const Entry& b) noexcept {
        return a.dist2 < b.dist2 || (a.dist2 == b.dist2 && a.id < b.id);
    }
    double bound2() const noexcept { return bound2_; }
    void add(const Entry& e) { items_.push_back(e); }
    // After a leaf or a point has been added.
    void narrow() {
        if (items_.size() < full_) return;
        const auto kth = items_.begin() + static_cast<std::ptrdiff_t>(base_ + want_ - 1);
        std::nth_element(items_.begin() + static_cast<std::ptrdiff_t>(base_), kth, items_.end(), closer);
        bound2_ = kth->dist2;
        items_.resize(base_ + want_);
    }

private:
    std::vector<Entry>& items_;
    std::size_t base_, want_, full_;
    double bound2_;
};

// Static k-d tree in one contiguous buffer: an 8-byte header, the point id of every position
// (2 bytes below 65536 points, else 4), zero padding to 8 bytes, then x, y of every position.
// Positions [l, r] hold a subtree whose median m = (l + r) / 2 splits it on x at even depths and
// y at odd ones; ranges of at most kNodeSize + 1 positions are leaves scanned in full. Floats
// are ordered NaN last, so a NaN split keeps everything on its left.
class PackedKdTree : public ListSearches<PackedKdTree> {
public:
    using ListSearches::nearest;
    using ListSearches::range;

    static constexpr std::size_t kNodeSize = 64;

    static PackedKdTree over_points(SharedArray<double> xs, SharedArray<double> ys);
    // The Engine's builder hands over the dataset's histogram once, before the first search,
    // so nearest can start from the local density.
    void attach_histogram(const SpatialHistogram& histogram) { hist_ = histogram; }

    std::size_t size() const noexcept { return n_; }
    u64 bytes() const noexcept { return buf_.size() + (hist_ ? sizeof(hist_->counts) : 0); }
    double area() const noexcept { return area_; }
    const std::optional<SpatialHistogram>& histogram() const noexcept { return hist_; }

    // visit(u32 id, double x, double y) for every point inside the closed box, in the order the
    // walk meets them. The coordinates are the tree's own copies, read where the walk already
    // is: the shared arrays would cost a scattered load per point.
    template <class Visit>
    void for_each_point_in_range(const Box& q, Visit&& visit) const {
        if (has_nan(q)) return;  // no point can pass a comparison with NaN
        walk([&](double x, double y) { return point_in_box(x, y, q); },
             [&](double split, int axis) {
                 return axis == 0 ? Skip{split < q.min_x, q.max_x < split} : Skip{split < q.min_y, q.max_y < split};
             },
             visit);
    }

    // visit(u32 id) for every point inside the closed box, in the order the walk meets them.
    template <class Visit>
    void for_each_in_range(const Box& q, Visit&& visit) const {
        for_each_point_in_range(q, [&](u32 id, double, double) { visit(id); });
    }

    void range(const Box& q, std::vector<u64>& out) const;
    // Appends every point inside the closed box with its coordinates, in walk order.
    void point_range(const Box& q, std::vector<PointHit>& out) const;
    // Appends the ids of the points inside the closed box that the disc holds, in walk order:
    // the ids of point_range that pass the disc's test, in the same order.
    void disc_range(const Box& q, const Disc& disc, std::vector<u64>& out) const;
    void nearest(double x, double y, u64 k, std::vector<Neighbor>& out) const;

private:
    friend class KdTreeBatchNearest;

    // Which sides of a median can hold no match: the left holds values <= the split, the right
    // values >= it. A comparison with a NaN split is false, so both sides are searched.
    struct Skip {
        bool left, right;
    };

    // One pass of nearest with radius r: out after `base` holds the `want` nearest points within
    // r and maybe more, in no order, or all of them when fewer.
    template <class Id>
    void nearest_pass(const Id* ids, double x, double y, double r, std::size_t want, std::vector<Neighbor>& out,
                      std::size_t base) const;


    // The same answer for many neighbours: all points within the radius, then a selection.
    void gather_nearest(double x, double y, double r, std::size_t want_n, std::vector<Neighbor>& out,
                        std::size_t base) const;
    // The radius of a search's first circle, expected to hold 2.25 k' points at the density
    // around the query: the histogram cell's (`local`) when it has points, else the extent's.
    struct FirstRadius {
        double r;
        bool local;
    };
    FirstRadius first_radius(double x, double y, std::size_t want_n) const noexcept;
    // The tail of every search that keeps its best candidates after `base` (at least the `want_n`
    // nearest found, in any order): they become the min(k, size) nearest of all, nearest first.
    void finish_nearest(double x, double y, std::size_t want_n, std::vector<Neighbor>& out, std::size_t base) const;
    // Ranks the points no pass reached (NaN, beyond the last radius) after the found ones.
    void complete_rest(double x, double y, std::size_t want_n, std::vector<Neighbor>& out, std::size_t base) const;
    // take(position, squared distance) for every point of the leaf [left, right] within the
    // squared bound, in leaf order. The distances and the marks of the hits are worked out for
    // the whole leaf in loops the vector units take; only the hits, which lie scattered among
    // the leaf's points, are visited after.
    template <class Take>
    static void leaf_within(const double* c, std::size_t left, std::size_t right, double x, double y, double bound2,
                            Take&& take) {
        double d2[kNodeSize + 1];
        u64 hits[2];
        leaf_scan(c + 2 * left, right - left + 1, x, y, bound2, d2, hits);
        for (std::size_t word = 0; word < 2; ++word) {
            for (u64 m = hits[word]; m != 0; m &= m - 1) {
                const std::size_t i = 64 * word + static_cast<std::size_t>(std::countr_zero(m));
                take(left + i, d2[i]);
            }
        }
    }
    // For the `count` <= kNodeSize + 1 points from c: d2[i] = (c[2i] - x)^2 + (c[2i + 1] - y)^2,
    // the same rounding as every other distance, and bit i of hits (64 to a word) set when
    // d2[i] <= bound2. Compiled for each vector unit; this is the one the CPU runs.
    using LeafScan = void (*)(const double* c, std::size_t count, double x, double y, double bound2, double* d2,
                              u64* hits) noexcept;
    static const LeafScan leaf_scan;

    static constexpr std::size_t kHeapLimit = 1024;
    // The last radius a nearest search reaches: past 1e15 the remaining points are unreachable
    // (NaN) or practically at infinity, and are ranked after the found ones.
    static constexpr double kLastRadius = 0x1p50;

    // Appends make(id, x, y) for every point inside the closed box that keep(x, y) keeps, in
    // walk order.
    template <class Hit, class Make, class Keep>
    void collect_in_box(const Box& q, std::vector<Hit>& out, const Make& make, const Keep& keep) const;

    // Depth-first walk: `hit(x, y)` tests a point, `skip(split, axis)` prunes the two sides,
    // visit(id, x, y) takes a hit.
    template <class Hit, class Prune, class Visit>
    void walk(Hit&& hit, Prune&& skip, Visit& visit) const {
        walk_leaves(hit, skip, visit, [&](const auto* ids, const double* c, std::size_t left, std::size_t right) {
            for (std::size_t i = left; i <= right; ++i) {
                if (hit(c[2 * i], c[2 * i + 1])) visit(static_cast<u32>(ids[i]), c[2 * i], c[2 * i + 1]);
            }
        });
    }

    // The same walk, with leaf(ids, coords, left, right) scanning each leaf range in full.
    template <class Hit, class Prune, class Visit, class Leaf>
    void walk_leaves(Hit& hit, Prune& skip, Visit& visit, Leaf&& leaf) const {
        if (n_ == 0) return;
        if (wide_ids_) walk_ids(buf_.at<u32>(kHeader), hit, skip, visit, leaf);
        else walk_ids(buf_.at<std::uint16_t>(kHeader), hit, skip, visit, leaf);
    }

    // The walk runs ahead of its scans: the leaves it reaches and the split points that hit wait
    // here in walk order and are scanned a batch at a time, after their lines were requested, so
    // that the misses of a batch overlap instead of each leaf waiting for the walk to reach it.
    template <class ScanLeaf, class TakePoint>
    class ScanQueue {
    public:
        ScanQueue(ScanLeaf scan_leaf, TakePoint take_point) noexcept
            : scan_leaf_(scan_leaf), take_point_(take_point) {}
        void leaf(std::size_t left, std::size_t right) { add({left, right}); }
        void point(std::size_t pos) { add({pos, kPoint}); }
        void drain() {
            for (std::size_t i = 0; i < size_; ++i) {
                if (pending_[i].right == kPoint) take_point_(pending_[i].left);
                else scan_leaf_(pending_[i].left, pending_[i].right);
            }
            size_ = 0;
        }

    private:
        struct Pending {
            std::size_t left, right;  // a leaf's span, or right == kPoint for the split point `left`
        };
        static constexpr std::size_t kPoint = ~std::size_t{0};
        static constexpr std::size_t kCapacity = 32;
        void add(const Pending& p) {
            pending_[size_++] = p;
            if (size_ == kCapacity) drain();
        }
        ScanLeaf scan_leaf_;
        TakePoint take_point_;
        Pending pending_[kCapacity];
        std::size_t size_ = 0;
    };

    template <class Id, class Hit, class Prune, class Visit, class Leaf>
    void walk_ids(const Id* ids, Hit& hit, Prune& skip, Visit& visit, Leaf& leaf) const {
        const double* c = buf_.at<double>(coords_offset_);
        const auto scan_leaf = [&](std::size_t left, std::size_t right) { leaf(ids, c, left, right); };
        const auto take_point = [&](std::size_t m) { visit(static_cast<u32>(ids[m]), c[2 * m], c[2 * m + 1]); };
        ScanQueue queue(scan_leaf, take_point);
        struct Span {
            std::size_t left, right;
            int axis;
        };
        Span stack[kMaxDepth];  // one pending sibling per level: depth <= log2(2^32 / 64) + 1
        std::size_t top = 0;
        stack[top++] = {0, n_ - 1, 0};
        // A span's lines are requested when it is stacked, so that they arrive while the walk is
        // elsewhere: a leaf's ids and coordinates, or the split point it must read to go down.
        const auto push = [&](const Span& span) {
            stack[top++] = span;
            request_span(ids, c, span.left, span.right);
        };
        while (top) {
            const Span s = stack[--top];
            if (s.right - s.left <= kNodeSize) {
                queue.leaf(s.left, s.right);
                continue;
            }
            const std::size_t m = (s.left + s.right) >> 1;
            if (hit(c[2 * m], c[2 * m + 1])) queue.point(m);
            const Skip side = skip(c[2 * m + s.axis], s.axis);
            if (!side.left) push({s.left, m - 1, 1 - s.axis});
            if (!side.right) push({m + 1, s.right, 1 - s.axis});
        }
        queue.drain();
    }

    // A span's split point and its children's: the walk reads the first next and one of the
    // others right after, and the children are where the misses are by then.
    static void request_split(const double* c, std::size_t left, std::size_t right) noexcept {
        const std::size_t m = (left + right) >> 1;
        request_line(c + 2 * m);
        request_line(c + 2 * ((left + m - 1) >> 1));
        request_line(c + 2 * ((m + 1 + right) >> 1));
    }

    template <class Id>
    static void request_leaf(const Id* ids, const double* c, std::size_t left, std::size_t right) noexcept {
        for (std::size_t o = 2 * left; o <= 2 * right + 1; o += 8) request_line(c + o);
        constexpr std::size_t kIdsPerLine = 64 / sizeof(Id);
        for (std::size_t i = left; i <= right; i += kIdsPerLine) request_line(ids + i);
        request_line(ids + right);
    }

    // What a walk reads first of a span it queues: a leaf whole, or the split points.
    template <class Id>
    static void request_span(const Id* ids, const double* c, std::size_t left, std::size_t right) noexcept {
        if (right - left > kNodeSize) request_split(c, left, right);
        else request_leaf(ids, c, left, right);
    }

    static constexpr std::size_t kHeader = 8;
    static constexpr std::size_t kMaxDepth = 64;

    PackedBuffer buf_;
    std::size_t n_ = 0;
    std::size_t coords_offset_ = kHeader;
    bool wide_ids_ = false;
    SharedArray<double> xs_, ys_;
    std::optional<SpatialHistogram> hist_;
    double area_ = 0;
};

}  // namespace vardelin
