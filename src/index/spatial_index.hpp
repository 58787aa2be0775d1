#pragma once
#include <algorithm>
#include <cmath>
#include <concepts>
#include <cstddef>
#include <limits>
#include <vector>

#include "core/numeric.hpp"
#include "stats/types.hpp"

namespace vardelin {

// Every index answers with item ids: point positions, or part numbers of a polygon dataset.
// Ids fit in 32 bits (a dataset holds at most 4294967295 items); the list forms widen them.
struct Neighbor {
    u32 id;
    double dist2;  // squared distance from the query point to the item's point or box
};

// A point an index search found, with the coordinates the search read for its test.
struct PointHit {
    u32 id;
    double x, y;
};

// Keeps the `k` nearest of the candidates appended after `base`, nearest first. Ties stay in
// the selection's order; a NaN distance ranks last so the order stays a strict weak order.
inline void keep_nearest(std::vector<Neighbor>& buf, std::size_t base, u64 k) {
    const auto first = buf.begin() + static_cast<std::ptrdiff_t>(base);
    const std::size_t have = buf.size() - base;
    const std::size_t keep = static_cast<std::size_t>(std::min<u64>(k, have));
    const auto closer = [](const Neighbor& a, const Neighbor& b) { return nan_last_less(a.dist2, b.dist2); };
    const auto mid = first + static_cast<std::ptrdiff_t>(keep);
    if (keep < have) std::nth_element(first, mid, buf.end(), closer);
    std::sort(first, mid, closer);
    buf.resize(base + keep);
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
// caller's buffer. `nearest` gives at most min(k, size()) items nearest first; the
// four-argument form appends (id, squared distance) pairs and may use the buffer's spare
// capacity past its end as scratch, so a batch join that reuses one buffer allocates nothing.
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
