#include "index/kdtree.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>


#include "core/parallel.hpp"
#include "core/vector_units.hpp"
#include "stats/collector.hpp"

namespace vardelin {

static_assert(SpatialIndex<PackedKdTree>);

namespace {

// Ids and interleaved coordinates reordered together while the tree is sorted.
struct SortState {
    u32* ids;
    double* coords;

    double at(std::size_t i, int axis) const noexcept { return coords[2 * i + static_cast<std::size_t>(axis)]; }
    void swap(std::size_t i, std::size_t j) const noexcept {
        std::swap(ids[i], ids[j]);
        std::swap(coords[2 * i], coords[2 * j]);
        std::swap(coords[2 * i + 1], coords[2 * j + 1]);
    }
};

// Floyd-Rivest selection: afterwards position k holds the value it would hold if [left, right]
// were sorted on `axis`, with no greater value before it and no smaller after it. The order is
// NaN last, which keeps the scans below in bounds when coordinates are NaN.
void select(const SortState& s, std::size_t k, std::size_t left, std::size_t right, int axis) {
    while (right > left) {
        if (right - left > 600) {
            // Narrow to a sample window expected to contain the k-th value, select there first.
            const double n = static_cast<double>(right - left + 1);
            const double m = static_cast<double>(k - left + 1);
            const double z = std::log(n);
            const double sz = 0.5 * std::exp(2.0 * z / 3.0);
            const double sd = 0.5 * std::sqrt(z * sz * (n - sz) / n) * (m - n / 2.0 < 0.0 ? -1.0 : 1.0);
            const double kd = static_cast<double>(k);
            const std::size_t new_left = std::max(left, saturating_cast<std::size_t>(std::floor(kd - m * sz / n + sd)));
            const std::size_t new_right =
                std::min(right, saturating_cast<std::size_t>(std::floor(kd + (n - m) * sz / n + sd)));
            select(s, k, new_left, new_right, axis);
        }
        const double t = s.at(k, axis);
        std::size_t i = left, j = right;
        s.swap(left, k);
        if (nan_last_less(t, s.at(right, axis))) s.swap(left, right);
        while (i < j) {
            s.swap(i, j);
            ++i, --j;
            while (nan_last_less(s.at(i, axis), t)) ++i;
            while (nan_last_less(t, s.at(j, axis))) --j;
        }
        if (!nan_last_less(s.at(left, axis), t) && !nan_last_less(t, s.at(left, axis))) {
            s.swap(left, j);
        } else {
            ++j;
            s.swap(j, right);
        }
        if (j <= k) left = j + 1;
        if (k <= j) {
            if (j == 0) break;
            right = j - 1;
        }
    }
}

// Median on the axis of this depth, then each side on the other axis, down to leaf ranges.
// The two sides are disjoint ranges, each sorted the same way whoever sorts it, so sorting
// large sides in parallel yields the very tree the sequential recursion builds.
constexpr std::size_t kParallelSpan = std::size_t{1} << 16;

void sort_subtree(const SortState& s, std::size_t left, std::size_t right, int axis) {
    while (right - left > PackedKdTree::kNodeSize) {
        const std::size_t m = (left + right) >> 1;
        select(s, m, left, right, axis);
        if (right - left > kParallelSpan) {
            run_both([&] { sort_subtree(s, left, m - 1, 1 - axis); }, [&] { sort_subtree(s, m + 1, right, 1 - axis); });
            return;
        }
        sort_subtree(s, left, m - 1, 1 - axis);
        left = m + 1;
        axis = 1 - axis;
    }
}

double extent_area(const Box& b) noexcept {
    if (!std::isfinite(b.min_x)) return 0.0;
    const double a = (b.max_x - b.min_x) * (b.max_y - b.min_y);
    return a > 0.0 ? a : 0.0;
}

// Room the first hits of a box search get.
constexpr std::size_t kFirstRoom = 256;

// The box searches keep every point of the box.
constexpr auto kAnyPoint = [](double, double) { return true; };

}  // namespace

PackedKdTree PackedKdTree::over_points(SharedArray<double> xs, SharedArray<double> ys) {
    PackedKdTree t;
    if (!xs || !ys) xs = ys = make_shared_array(Buffer<double>());
    const std::span<const double> x = view(xs), y = view(ys);
    const PointSpans points(x, y);
    const std::size_t n = points.size();
    t.n_ = n;
    t.wide_ids_ = n >= 65536;
    const std::size_t id_bytes = static_cast<std::size_t>(checked_mul(n, t.wide_ids_ ? 4 : 2));
    t.coords_offset_ = (kHeader + id_bytes + 7) / 8 * 8;
    t.buf_ = PackedBuffer(static_cast<std::size_t>(checked_add(t.coords_offset_, checked_mul(n, 16))));
    t.area_ = extent_area(compute_extent(points));

    std::uint8_t* header = t.buf_.at<std::uint8_t>(0);
    header[0] = 0xdb;  // marks the buffer as a k-d tree
    header[1] = t.wide_ids_ ? 4 : 2;
    const std::uint16_t node_size = kNodeSize;
    const u32 count = static_cast<u32>(n);
    std::memcpy(header + 2, &node_size, 2);
    std::memcpy(header + 4, &count, 4);
    t.buf_.zero(kHeader + id_bytes, t.coords_offset_ - kHeader - id_bytes);

    Buffer<u32> ids;
    ids.resize(n);
    double* coords = t.buf_.at<double>(t.coords_offset_);
    parallel_blocks(n, 1 << 15, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i != last; ++i) {
            ids[i] = static_cast<u32>(i);
            coords[2 * i] = x[i];
            coords[2 * i + 1] = y[i];
        }
    });
    if (n > 0) sort_subtree(SortState{ids.data(), coords}, 0, n - 1, 0);

    parallel_blocks(n, 1 << 15, [&](std::size_t first, std::size_t last) {
        if (t.wide_ids_) std::copy(ids.begin() + first, ids.begin() + last, t.buf_.at<u32>(kHeader) + first);
        else {
            std::uint16_t* narrow = t.buf_.at<std::uint16_t>(kHeader);
            for (std::size_t i = first; i != last; ++i) narrow[i] = static_cast<std::uint16_t>(ids[i]);
        }
    });
    t.xs_ = std::move(xs);
    t.ys_ = std::move(ys);
    return t;
}

namespace {

[[gnu::always_inline]] inline void leaf_scan_body(const double* __restrict c, std::size_t count, double x, double y,
                                                  double bound2, double* __restrict d2, u64* hits) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        const double dx = c[2 * i] - x, dy = c[2 * i + 1] - y;
        d2[i] = dx * dx + dy * dy;
    }
    u64 low = 0, high = 0;
    const std::size_t split = std::min<std::size_t>(count, 64);
    for (std::size_t i = 0; i < split; ++i) low |= u64{d2[i] <= bound2} << i;
    for (std::size_t i = split; i < count; ++i) high |= u64{d2[i] <= bound2} << (i - 64);
    hits[0] = low;
    hits[1] = high;
}

void leaf_scan_baseline(const double* __restrict c, std::size_t count, double x, double y, double bound2,
                        double* __restrict d2, u64* hits) noexcept {
    leaf_scan_body(c, count, x, y, bound2, d2, hits);
}

[[gnu::target("avx2")]] void leaf_scan_avx2(const double* __restrict c, std::size_t count, double x, double y,
                                            double bound2, double* __restrict d2, u64* hits) noexcept {
    leaf_scan_body(c, count, x, y, bound2, d2, hits);
}

}  // namespace

const PackedKdTree::LeafScan PackedKdTree::leaf_scan =
    widest_vector_unit() >= VectorUnit::Avx2 ? leaf_scan_avx2 : leaf_scan_baseline;

template <class Hit, class Make, class Keep>
void PackedKdTree::collect_in_box(const Box& q, std::vector<Hit>& out, const Make& make, const Keep& keep) const {
    if (has_nan(q)) return;  // no point can pass a comparison with NaN
    const auto passes = [&](double x, double y) { return point_in_box(x, y, q) && keep(x, y); };
    const auto skip = [&](double split, int axis) {
        return axis == 0 ? Skip{split < q.min_x, q.max_x < split} : Skip{split < q.min_y, q.max_y < split};
    };
    const auto take = [&](u32 id, double x, double y) { out.push_back(make(id, x, y)); };
    // Leaves are scanned without a branch per point: the hits of a leaf are scattered among
    // its points, and a mispredicted branch per hit costs more than the test.
    walk_leaves(passes, skip, take, [&](const auto* ids, const double* c, std::size_t left, std::size_t right) {
        Hit kept[kNodeSize + 1];
        std::size_t k = 0;
        for (std::size_t i = left; i <= right; ++i) {
            const double x = c[2 * i], y = c[2 * i + 1];
            kept[k] = make(static_cast<u32>(ids[i]), x, y);
            k += std::size_t{x >= q.min_x} & std::size_t{q.max_x >= x} & std::size_t{y >= q.min_y} &
                 std::size_t{q.max_y >= y} & std::size_t{keep(x, y)};
        }
        // Most searches find a few leaves' worth: starting with room for that spares the
        // regrowth from one hit upwards.
        if (k > out.capacity() - out.size()) out.reserve(std::max({out.size() + k, 2 * out.capacity(), kFirstRoom}));
        out.insert(out.end(), kept, kept + k);
    });
}

void PackedKdTree::range(const Box& q, std::vector<u64>& out) const {
    collect_in_box(q, out, [](u32 id, double, double) { return u64{id}; }, kAnyPoint);
}

void PackedKdTree::point_range(const Box& q, std::vector<PointHit>& out) const {
    collect_in_box(q, out, [](u32 id, double x, double y) { return PointHit{id, x, y}; }, kAnyPoint);
}

// The walk tests each point with the plain comparison, which plain_over allows for a box of
// ordinary size and radius. Any other box (beyond the squares' range) takes the points of
// point_range's walk, in its order, through the exact test: a second copy of the walk for it
// would cost this unit the inlining of the nearest searches' helpers.
void PackedKdTree::disc_range(const Box& q, const Disc& disc, std::vector<u64>& out) const {
    if (!disc.plain_over(q)) {
        std::vector<PointHit> hits;
        point_range(q, hits);
        for (const PointHit& h : hits) {
            if (disc.holds(h.x, h.y)) out.push_back(h.id);
        }
        return;
    }
    collect_in_box(q, out, [](u32 id, double, double) { return u64{id}; },
                   [&](double x, double y) { return disc.holds_plainly(x, y); });
}

// The answer is the k' nearest points by `nearer` (distance, then id) among those within the
// radius, which are the k' nearest of all when there are k' of them: so the pass keeps the k'
// best seen so far in its pile, visits the nearer side of each split first, and skips every
// span whose region lies farther than the k'-th of them (or than the radius before it has k').
// A span's region is bounded by its ancestors' splits (the left side holds values <= a split,
// the right side values >= it); its gap on each axis is the difference to the nearest such
// split, taken as a point's difference is, and rounding is monotone, so no point inside
// computes a squared distance below the gap's. A span is skipped only when that is strictly
// beyond the bound, so no tie is lost; a NaN split bounds nothing (no comparison with it holds). Distances
// are the squared form's keys, as in every index, overflowing and underflowing alike: the pass is
// exact by those keys, and the callers rank again where the keys leave that form's range.
template <class Id>
void PackedKdTree::nearest_pass(const Id* ids, double x, double y, double r, std::size_t want,
                                std::vector<Neighbor>& out, std::size_t base) const {
    const double* c = buf_.at<double>(coords_offset_);
    NearestPile<Neighbor> pile(out, base, want, r * r);
    const auto take = [&](std::size_t i, double d2) { pile.add(Neighbor{static_cast<u32>(ids[i]), d2}); };

    struct Span {
        u32 left, right, axis;  // positions fit 32 bits: a tree holds at most 4294967295 points
        double gap_x, gap_y;    // from the query to the span's region, on each axis
    };
    const auto gap2 = [](const Span& s) { return s.gap_x * s.gap_x + s.gap_y * s.gap_y; };
    Span stack[kMaxDepth * 2];
    std::size_t top = 0;
    stack[top++] = {0, static_cast<u32>(n_ - 1), 0, 0.0, 0.0};
    // The bound may narrow between a push and its pop, so a span is tested at both.
    const auto push = [&](const Span& span) {
        if (gap2(span) > pile.bound2()) return;
        stack[top++] = span;
        request_span(ids, c, span.left, span.right);
    };
    while (top) {
        const Span s = stack[--top];
        if (gap2(s) > pile.bound2()) continue;
        if (s.right - s.left <= kNodeSize) {
            leaf_within(c, s.left, s.right, x, y, pile.bound2(), take);
            pile.narrow();
            continue;
        }
        const u32 m = static_cast<u32>((std::size_t{s.left} + s.right) >> 1);
        {
            const double dx = c[2 * std::size_t{m}] - x, dy = c[2 * std::size_t{m} + 1] - y;
            const double d2 = dx * dx + dy * dy;
            if (d2 <= pile.bound2()) {
                take(m, d2);
                pile.narrow();
            }
        }
        const double split = c[2 * std::size_t{m} + s.axis];
        const double qc = s.axis == 0 ? x : y;
        Span left{s.left, m - 1, 1 - s.axis, s.gap_x, s.gap_y};
        Span right{m + 1, s.right, 1 - s.axis, s.gap_x, s.gap_y};
        double& left_gap = s.axis == 0 ? left.gap_x : left.gap_y;
        double& right_gap = s.axis == 0 ? right.gap_x : right.gap_y;
        if (qc > split) left_gap = qc - split;
        if (qc < split) right_gap = split - qc;
        // The far side goes on the stack first, so the near side is searched first. A NaN
        // split keeps both sides (no comparison with it holds), as the range walk does.
        if (qc < split) {
            push(right);
            push(left);
        } else {
            push(left);
            push(right);
        }
    }
}

PackedKdTree::FirstRadius PackedKdTree::first_radius(double x, double y, std::size_t want_n) const noexcept {
    // Density around the query: the histogram cell's when it has points and an area, else the
    // whole extent's, else 1.
    double density = 0.0;
    bool local = false;
    if (hist_) {
        const int col = cell_of(x, hist_->min_x, hist_->cell_w, kHistogramSide);
        const int row = cell_of(y, hist_->min_y, hist_->cell_h, kHistogramSide);
        const u32 count = hist_->counts[static_cast<std::size_t>(row * kHistogramSide + col)];
        const double cell_area = hist_->cell_w * hist_->cell_h;
        if (count != 0 && cell_area > 0.0) {
            density = static_cast<double>(count) / cell_area;
            local = true;
        }
    }
    if (!local) density = area_ > 0.0 ? static_cast<double>(n_) / area_ : 1.0;
    // The first circle is expected to hold 2.25 k' points.
    double r = 1.5 * std::sqrt(static_cast<double>(want_n) / (density * std::numbers::pi));
    if (!(r > 0.0)) r = 1.0;
    return {r, local};
}

void PackedKdTree::nearest(double x, double y, u64 k, std::vector<Neighbor>& out) const {
    if (n_ == 0 || k == 0 || nan_query(x, y)) return;
    const std::size_t want_n = static_cast<std::size_t>(std::min<u64>(k, n_));
    const FirstRadius first = first_radius(x, y, want_n);
    double r = first.r;

    // The distances come from the tree's copies of the coordinates, the same values as the
    // shared arrays hold, without a scattered load per hit.
    const std::size_t base = out.size();
    if (want_n > kHeapLimit) {
        gather_nearest(x, y, r, want_n, out, base);
        return;
    }
    // A query in a cell the histogram finds empty lies away from the points: a circle sized by
    // the density of the whole extent would come up short, so the search starts with the last
    // radius, whose bound the pile narrows from the first leaf on.
    if (hist_ && !first.local) r = kLastRadius;
    for (;;) {
        out.resize(base);
        if (wide_ids_) nearest_pass(buf_.at<u32>(kHeader), x, y, r, want_n, out, base);
        else nearest_pass(buf_.at<std::uint16_t>(kHeader), x, y, r, want_n, out, base);
        // Past 1e15 the remaining points are unreachable (NaN) or practically at infinity.
        if (r > 1e15 || out.size() - base >= want_n) break;
        // A query far from the data would double its way out pass after pass: the second pass
        // takes every reachable point, and the heap and the gaps keep it to the k' nearest.
        r = kLastRadius;
    }
    finish_nearest(x, y, want_n, out, base);
}

void PackedKdTree::finish_nearest(double x, double y, std::size_t want_n, std::vector<Neighbor>& out,
                                  std::size_t base) const {
    keep_nearest(out, base, want_n);
    complete_rest(x, y, want_n, out, base);
}

// Many neighbours: a heap would cost a logarithm per point, so every point within the radius
// is gathered (leaves scanned without a branch per point) and the k' nearest selected after.
void PackedKdTree::gather_nearest(double x, double y, double r, std::size_t want_n, std::vector<Neighbor>& out,
                                  std::size_t base) const {
    for (;;) {
        out.resize(base);
        const double r2 = r * r;
        const auto within = [&](double px, double py) {
            const double dx = px - x, dy = py - y;
            return dx * dx + dy * dy <= r2;
        };
        const auto skip = [&](double split, int axis) {
            const double c = axis == 0 ? x : y;
            return Skip{split < c - r, c + r < split};
        };
        const auto take = [&](u32 id, double px, double py) {
            const double dx = px - x, dy = py - y;
            out.push_back(Neighbor{id, dx * dx + dy * dy});
        };
        walk_leaves(within, skip, take, [&](const auto* ids, const double* c, std::size_t left, std::size_t right) {
            leaf_within(c, left, right, x, y, r2,
                        [&](std::size_t i, double d2) { out.push_back(Neighbor{static_cast<u32>(ids[i]), d2}); });
        });
        if (r > 1e15 || out.size() - base >= want_n) break;
        r = r + r;
    }
    keep_nearest(out, base, want_n);
    complete_rest(x, y, want_n, out, base);
}

void PackedKdTree::complete_rest(double x, double y, std::size_t want_n, std::vector<Neighbor>& out,
                                 std::size_t base) const {
    const double *xs = xs_->data(), *ys = ys_->data();
    complete_nearest(out, base, want_n, n_, [&](auto&& take) {
        for (std::size_t i = 0; i < n_; ++i) take(static_cast<u32>(i), point_dist2(xs[i], ys[i], x, y));
    });
}

}  // namespace vardelin
