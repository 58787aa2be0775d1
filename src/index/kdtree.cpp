#include "index/kdtree.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>


#include "core/parallel.hpp"
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
void sort_subtree(const SortState& s, std::size_t left, std::size_t right, int axis) {
    while (right - left > PackedKdTree::kNodeSize) {
        const std::size_t m = (left + right) >> 1;
        select(s, m, left, right, axis);
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

template <class Hit, class Make>
void PackedKdTree::collect_in_box(const Box& q, std::vector<Hit>& out, const Make& make) const {
    if (has_nan(q)) return;  // no point can pass a comparison with NaN
    const auto in_box = [&](double x, double y) { return point_in_box(x, y, q); };
    const auto skip = [&](double split, int axis) {
        return axis == 0 ? Skip{split < q.min_x, q.max_x < split} : Skip{split < q.min_y, q.max_y < split};
    };
    const auto take = [&](u32 id, double x, double y) { out.push_back(make(id, x, y)); };
    // Leaves are scanned without a branch per point: the hits of a leaf are scattered among
    // its points, and a mispredicted branch per hit costs more than the test.
    walk_leaves(in_box, skip, take, [&](const auto* ids, const double* c, std::size_t left, std::size_t right) {
        Hit kept[kNodeSize + 1];
        std::size_t k = 0;
        for (std::size_t i = left; i <= right; ++i) {
            kept[k] = make(static_cast<u32>(ids[i]), c[2 * i], c[2 * i + 1]);
            k += std::size_t{c[2 * i] >= q.min_x} & std::size_t{q.max_x >= c[2 * i]} & std::size_t{c[2 * i + 1] >= q.min_y} &
                 std::size_t{q.max_y >= c[2 * i + 1]};
        }
        // Most searches find a few leaves' worth: starting with room for that spares the
        // regrowth from one hit upwards.
        if (k > out.capacity() - out.size()) out.reserve(std::max({out.size() + k, 2 * out.capacity(), kFirstRoom}));
        out.insert(out.end(), kept, kept + k);
    });
}

void PackedKdTree::range(const Box& q, std::vector<u64>& out) const {
    collect_in_box(q, out, [](u32 id, double, double) { return u64{id}; });
}

void PackedKdTree::point_range(const Box& q, std::vector<PointHit>& out) const {
    collect_in_box(q, out, [](u32 id, double x, double y) { return PointHit{id, x, y}; });
}

double PackedKdTree::first_radius(double x, double y, std::size_t want) const noexcept {
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
    const double r = 1.5 * std::sqrt(static_cast<double>(want) / (density * std::numbers::pi));
    return r > 0.0 ? r : 1.0;
}

void PackedKdTree::nearest(double x, double y, u64 k, std::vector<Neighbor>& out) const {
    if (n_ == 0 || k == 0 || nan_query(x, y)) return;
    const std::size_t want = static_cast<std::size_t>(std::min<u64>(k, n_));
    const std::size_t base = out.size();
    // A first search bounded by a circle expected to hold 2.25 `want` points at the local
    // density prunes from the start; where the guess falls short (a sparse cell, a query far
    // from the data) the unbounded search follows, which no data layout can mislead.
    const double r = first_radius(x, y, want);
    const auto search = [&](double limit2) {
        out.resize(base);
        if (wide_ids_) nearest_ids(buf_.at<u32>(kHeader), x, y, want, limit2, out);
        else nearest_ids(buf_.at<std::uint16_t>(kHeader), x, y, want, limit2, out);
    };
    search(r * r);
    if (out.size() - base < want) search(kInfinity);
    const double *xs = xs_->data(), *ys = ys_->data();
    complete_nearest(out, base, want, n_, [&](auto&& take) {
        for (std::size_t i = 0; i < n_; ++i) take(static_cast<u32>(i), point_dist2(xs[i], ys[i], x, y));
    });
}

template <class Id>
void PackedKdTree::nearest_ids(const Id* ids, double x, double y, std::size_t want, double limit2,
                               std::vector<Neighbor>& out) const {
    // Depth-first branch and bound: the `want` nearest so far are kept, and a subtree is
    // entered only while the gap from the query to its side of the splits can still beat the
    // farthest of them. Points at an infinite or NaN distance never enter: the completion after
    // the search ranks them. Every point no farther than the final worst is met, so the answer
    // is the `want` first by `nearer` whatever the walk order. A few neighbours are kept sorted
    // on the stack; many, in a heap whose top is the farthest.
    const double* c = buf_.at<double>(coords_offset_);
    const std::size_t base = out.size();
    const auto heap_begin = [&] { return out.begin() + static_cast<std::ptrdiff_t>(base); };
    const auto closer = [](const Neighbor& a, const Neighbor& b) { return nearer(a, b); };
    const bool few = want <= kFewNeighbors;
    Neighbor kept[kFewNeighbors];
    std::size_t count = 0;
    double worst = limit2;
    const auto offer = [&](std::size_t i) {
        const double dx = c[2 * i] - x, dy = c[2 * i + 1] - y;
        const double d2 = dx * dx + dy * dy;
        if (!(d2 <= worst) || !(d2 < kInfinity)) return;
        const Neighbor candidate{static_cast<u32>(ids[i]), d2};
        if (few) {
            if (count == want && !closer(candidate, kept[count - 1])) return;
            std::size_t pos = count < want ? count++ : want - 1;
            for (; pos > 0 && closer(candidate, kept[pos - 1]); --pos) kept[pos] = kept[pos - 1];
            kept[pos] = candidate;
            if (count == want) worst = kept[want - 1].dist2;
            return;
        }
        if (out.size() - base < want) {
            out.push_back(candidate);
            std::push_heap(heap_begin(), out.end(), closer);
        } else {
            if (!closer(candidate, out[base])) return;
            std::pop_heap(heap_begin(), out.end(), closer);
            out.back() = candidate;
            std::push_heap(heap_begin(), out.end(), closer);
        }
        if (out.size() - base == want) worst = out[base].dist2;
    };
    struct Span {
        std::size_t left, right;
        int axis;
        double gap[2];  // gap from the query to the span's box on each axis, from the splits above
    };
    const auto bound = [](const Span& s) { return s.gap[0] * s.gap[0] + s.gap[1] * s.gap[1]; };
    Span stack[2 * kMaxDepth];
    std::size_t top = 0;
    stack[top++] = {0, n_ - 1, 0, {0.0, 0.0}};
    while (top) {
        const Span s = stack[--top];
        if (bound(s) > worst) continue;
        if (s.right - s.left <= kNodeSize) {
            for (std::size_t i = s.left; i <= s.right; ++i) offer(i);
            continue;
        }
        const std::size_t m = (s.left + s.right) >> 1;
        offer(m);
        const double diff = (s.axis == 0 ? x : y) - c[2 * m + s.axis];
        const Span left{s.left, m - 1, 1 - s.axis, {s.gap[0], s.gap[1]}};
        const Span right{m + 1, s.right, 1 - s.axis, {s.gap[0], s.gap[1]}};
        // The near side is searched first, so the far one is often pruned when it comes up. A
        // NaN split (numbers on its left) widens no gap, so it never prunes.
        Span far = diff < 0.0 ? right : left;
        const Span near = diff < 0.0 ? left : right;
        far.gap[s.axis] = std::fmax(s.gap[s.axis], std::fabs(diff));
        stack[top++] = far;
        stack[top++] = near;
        for (const Span& pushed : {far, near}) {
            if (pushed.right - pushed.left > kNodeSize) continue;
            for (std::size_t o = 2 * pushed.left; o <= 2 * pushed.right + 1; o += 8) __builtin_prefetch(c + o);
        }
    }
    if (few) out.insert(out.end(), kept, kept + count);
    else std::sort_heap(heap_begin(), out.end(), closer);
}

}  // namespace vardelin
