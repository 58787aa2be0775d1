#pragma once
#include <algorithm>
#include <cmath>
#include <concepts>
#include <cstddef>
#include <limits>
#include <vector>

#include "core/box.hpp"
#include "core/squares.hpp"
#include "core/numeric.hpp"
#include "stats/types.hpp"

namespace vardelin {

// Every index answers with item ids: point positions, or part numbers of a polygon dataset.
// Ids fit in 32 bits (a dataset holds at most 4294967295 items); the list forms widen them.
struct Neighbor {
    u32 id;
    // Squared distance from the query point to the item's point or box, in the squared form:
    // +inf past about 1e154, 0 below about 1e-154. A search ranks by it; exact_ranking.hpp
    // checks an answer against that range and ranks again where it is left.
    double dist2;
};

// A point an index search found, with the coordinates the search read for its test.
struct PointHit {
    u32 id;
    double x, y;
};

// A NaN query point matches nothing, so no index ranks anything around it.
inline bool nan_query(double x, double y) noexcept { return std::isnan(x) || std::isnan(y); }

// Only a point with finite coordinates passes a distance test, even at distance +inf: a point
// at infinity is no nearer to anything than another.
inline bool finite_point(double x, double y) noexcept { return std::isfinite(x) && std::isfinite(y); }

// Gap from v to [lo, hi] on one axis, as every index ranks items (never for a `nan_query`). A NaN
// in the item's box puts the item infinitely far: a point with a NaN coordinate is never
// anyone's neighbour before a real one, and no distance is NaN. An infinite v against an
// infinite bound on its side compares equal and gives 0 rather than the NaN of inf - inf.
inline double axis_gap(double lo, double hi, double v) noexcept {
    if (std::isnan(lo) || std::isnan(hi)) return kInfinity;
    return lo > v ? lo - v : (hi < v ? v - hi : 0.0);
}

// Squared distance from (x, y) to a closed box: the one measure by which every index ranks
// its items and tree nodes, so that a search which re-ranks boxes the index found (the
// polygon kNN refinement) agrees with the index to the last bit.
inline double box_dist2(const Box& b, double x, double y) noexcept {
    const double gx = axis_gap(b.min_x, b.max_x, x), gy = axis_gap(b.min_y, b.max_y, y);
    return gx * gx + gy * gy;
}

inline double point_dist2(double px, double py, double x, double y) noexcept {
    const double gx = axis_gap(px, px, x), gy = axis_gap(py, py, y);
    return gx * gx + gy * gy;
}

// Nearest first, NaN last; equal distances by ascending id, so that the items every index
// leaves at +inf come out in the same order whichever index ranked them. An object, not a
// function, so that heaps and sorts given it inline the comparison.
struct Nearer {
    bool operator()(const Neighbor& a, const Neighbor& b) const noexcept {
        if (nan_last_less(a.dist2, b.dist2)) return true;
        if (nan_last_less(b.dist2, a.dist2)) return false;
        return a.id < b.id;
    }
};
inline constexpr Nearer nearer{};

// Keeps the `k` nearest of the candidates appended after `base`, in `nearer` order.
inline void keep_nearest(std::vector<Neighbor>& buf, std::size_t base, u64 k) {
    const auto first = buf.begin() + static_cast<std::ptrdiff_t>(base);
    const std::size_t have = buf.size() - base;
    const std::size_t keep = static_cast<std::size_t>(std::min<u64>(k, have));
    const auto mid = first + static_cast<std::ptrdiff_t>(keep);
    if (keep < have) std::nth_element(first, mid, buf.end(), nearer);
    std::sort(first, mid, nearer);
    buf.resize(base + keep);
}

// A search that skips what it cannot reach (the R-tree's items at +inf, the k-d tree's NaN
// points and points past its last radius) comes back short; the callers, such as the kNN joins
// that cut results into blocks of k, need min(k, n) ids from every index. The skipped items all
// lie beyond the ones found at a finite distance, so they follow those, ranked by `nearer` with
// any found at +inf. `out` after `base` is nearest first; `for_each_item(take)` calls
// take(id, squared distance) for every item of the index.
template <class ForEachItem>
void complete_nearest(std::vector<Neighbor>& out, std::size_t base, std::size_t want, std::size_t n,
                      ForEachItem&& for_each_item) {
    out.erase(std::find_if(out.begin() + static_cast<std::ptrdiff_t>(base), out.end(),
                           [](const Neighbor& m) { return !(m.dist2 < kInfinity); }),
              out.end());
    const std::size_t have = out.size() - base;
    if (have >= want) return;
    std::vector<bool> found(n);
    for (std::size_t i = base; i < out.size(); ++i) found[out[i].id] = true;
    const std::size_t rest = out.size();
    for_each_item([&](u32 id, double d2) {
        if (!found[id]) out.push_back(Neighbor{id, d2});
    });
    keep_nearest(out, rest, want - have);
}

inline std::vector<u64> ids_of(const std::vector<Neighbor>& found) {
    std::vector<u64> ids;
    ids.reserve(found.size());
    for (const Neighbor& n : found) ids.push_back(n.id);
    return ids;
}

// The list forms of the searches, the same for every index type: `range` appends (or returns)
// the ids of for_each_in_range, `nearest` returns the ids of the four-argument nearest. An index
// with a faster range of its own declares it and hides the appending form here.
template <class Index>
class ListSearches {
public:
    void range(const Box& q, std::vector<u64>& out) const {
        self().for_each_in_range(q, [&](u32 id) { out.push_back(id); });
    }
    std::vector<u64> range(const Box& q) const {
        std::vector<u64> out;
        self().range(q, out);
        return out;
    }
    std::vector<u64> nearest(double x, double y, u64 k) const {
        std::vector<Neighbor> found;
        self().nearest(x, y, k, found);
        return ids_of(found);
    }

private:
    const Index& self() const noexcept { return static_cast<const Index&>(*this); }
};

// What the four index types offer. `range` keeps the items whose point or box meets the closed
// query box, each once, in the index's own order; the two-argument form appends to the
// caller's buffer. `nearest` gives exactly min(k, size()) items nearest first, those at +inf
// last in ascending id, and nothing for a `nan_query`; the four-argument form appends (id, squared distance) pairs and may use
// the buffer's spare capacity past its end as scratch, so a batch join that reuses one buffer
// allocates nothing.
template <class I>
concept SpatialIndex = requires(const I& index, const Box& box, std::vector<u64>& ids,
                                std::vector<Neighbor>& found, double x, u64 k) {
    { index.size() } -> std::convertible_to<std::size_t>;
    { index.bytes() } -> std::convertible_to<u64>;
    index.range(box, ids);
    { index.range(box) } -> std::same_as<std::vector<u64>>;
    index.nearest(x, x, k, found);
    { index.nearest(x, x, k) } -> std::same_as<std::vector<u64>>;
};

}  // namespace vardelin
