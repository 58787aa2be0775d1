#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "core/box.hpp"
#include "core/point_spans.hpp"
#include "core/polygon_layout.hpp"
#include "core/squares.hpp"
#include "index/spatial_index.hpp"

namespace vardelin {

// Every index ranks its items by squared distances in the squared form (`Neighbor::dist2`),
// which overflows beyond about 1e154 and underflows below about 1e-154: points 3e200, 1e200
// and 2e200 away all rank at +inf, in id order. Rather than slow every search down, the k keys
// a search returns are checked afterwards. When each lies where the squared form holds, or is a
// zero that the item really gives (the query on the point, or inside the box), the answer is
// exact: an item ranked after an in-range k-th key has an in-range key itself or one beyond it,
// and one ranked before a zero would have a zero of its own. Otherwise the query is ranked again
// over every item with keys carried past the exponent range. Ordinary data never leaves the
// range, so the check costs a comparison per result.

// The key by which the indexes rank box b for (x, y) (box_dist2's value where the squared form
// holds): a NaN in the box puts it at +inf, gaps whose squares leave the range are scaled.
SquareKey square_key_to_box(const Box& b, double x, double y) noexcept;

// The items a search ranks, read from the dataset rather than the index: the main points and
// those waiting beside them (ids main length + j), or the parts of a polygon dataset by the box
// of their exterior ring (a part without exterior coordinates, or with a non-finite vertex, lies
// nowhere).
class RankedItems {
public:
    static RankedItems points(const PointSpans& main, const PointSpans& waiting = {}) noexcept;
    // `boxes`, when given, are the parts' `part_box`es in part order.
    static RankedItems parts(const PolygonLayout& layout, std::span<const Box> boxes = {}) noexcept;

    std::size_t size() const noexcept;
    const PointSpans& main() const noexcept { return main_; }
    const PointSpans& waiting() const noexcept { return waiting_; }
    // The box item `id` ranks by; a NaN box for an item that lies nowhere.
    Box box(u32 id) const noexcept;

private:
    PointSpans main_, waiting_;
    PolygonLayout layout_;
    std::span<const Box> boxes_;
    bool parts_ = false;
};

// Whether a zero key of `id` is the item's own and not squares underflowed to it.
bool zero_is_exact(const RankedItems& items, u32 id, double x, double y) noexcept;

// Whether found[base..], an answer nearest first by the squared form's keys, is the exact one.
inline bool ranks_exactly(const std::vector<Neighbor>& found, std::size_t base, const RankedItems& items, double x,
                          double y) noexcept {
    for (std::size_t i = base; i < found.size(); ++i) {
        const double d2 = found[i].dist2;
        if (squared_form_holds(d2)) [[likely]] continue;
        if (d2 == 0.0 && zero_is_exact(items, found[i].id, x, y)) continue;
        return false;
    }
    return true;
}

// Replaces found[base..] by the `want` items nearest to (x, y) by exact keys, ties by ascending
// id (the order of `nearer`), each with its squared-form distance.
void rank_exactly(const RankedItems& items, double x, double y, std::size_t want, std::vector<Neighbor>& found,
                  std::size_t base);

// The check, and the exact ranking where it fails.
inline void make_ranking_exact(const RankedItems& items, double x, double y, std::size_t want,
                               std::vector<Neighbor>& found, std::size_t base) {
    if (!ranks_exactly(found, base, items, x, y)) rank_exactly(items, x, y, want, found, base);
}

}  // namespace vardelin
