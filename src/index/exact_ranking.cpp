#include "index/exact_ranking.hpp"

#include <algorithm>
#include <limits>

#include "core/error.hpp"
#include "index/part_boxes.hpp"

namespace vardelin {

namespace {

// Half the gap from v to [lo, hi], for gaps that overflow although both ends are finite; a NaN
// in the box puts it at +inf, as axis_gap does.
double axis_half_gap(double lo, double hi, double v) noexcept {
    if (std::isnan(lo) || std::isnan(hi)) return kInfinity;
    return lo > v ? lo * 0.5 - v * 0.5 : (hi < v ? v * 0.5 - hi * 0.5 : 0.0);
}

struct Ranked {
    SquareKey key;
    u32 id;
};

// The order of `nearer`, on exact keys.
bool ranked_before(const Ranked& a, const Ranked& b) noexcept {
    if (a.key < b.key) return true;
    if (b.key < a.key) return false;
    return a.id < b.id;
}

}  // namespace

SquareKey square_key_to_box(const Box& b, double x, double y) noexcept {
    const double gx = axis_gap(b.min_x, b.max_x, x), gy = axis_gap(b.min_y, b.max_y, y);
    const double d2 = gx * gx + gy * gy;
    if (squared_form_holds(d2)) return {0, d2};
    // A gap is infinite either because the box or the point lies at infinity, which halving
    // leaves infinite, or because two finite ends lie too far apart, which halving brings back.
    if (std::isinf(gx) || std::isinf(gy)) {
        return square_key_scaled(axis_half_gap(b.min_x, b.max_x, x), axis_half_gap(b.min_y, b.max_y, y), true);
    }
    return square_key_scaled(gx, gy, false);
}

RankedItems RankedItems::points(const PointSpans& main, const PointSpans& waiting) noexcept {
    RankedItems items;
    items.main_ = main;
    items.waiting_ = waiting;
    return items;
}

RankedItems RankedItems::parts(const PolygonLayout& layout, std::span<const Box> boxes) noexcept {
    RankedItems items;
    items.layout_ = layout;
    items.boxes_ = boxes;
    items.parts_ = true;
    return items;
}

std::size_t RankedItems::size() const noexcept {
    return parts_ ? layout_.part_count() : main_.size() + waiting_.size();
}

Box RankedItems::box(u32 id) const noexcept {
    if (parts_) {
        if (id >= layout_.part_count() || part_is_empty(layout_, id)) return kNowhereBox;
        return id < boxes_.size() ? boxes_[id] : part_box(layout_, id);
    }
    const std::size_t n = main_.size();
    if (id < n) return {main_.x(id), main_.y(id), main_.x(id), main_.y(id)};
    if (id - n >= waiting_.size()) return kNowhereBox;
    const double x = waiting_.x(id - n), y = waiting_.y(id - n);
    return {x, y, x, y};
}

bool zero_is_exact(const RankedItems& items, u32 id, double x, double y) noexcept {
    return point_in_box(x, y, items.box(id));
}

void rank_exactly(const RankedItems& items, double x, double y, std::size_t want, std::vector<Neighbor>& found,
                  std::size_t base) {
    const std::size_t n = items.size();
    if (n > kU32Max + 1) throw InternalError("exact ranking: item ids beyond 32 bits");
    want = std::min(want, n);
    std::vector<Ranked> all(n);
    for (std::size_t i = 0; i < n; ++i) {
        const u32 id = static_cast<u32>(i);
        all[i] = {square_key_to_box(items.box(id), x, y), id};
    }
    const auto mid = all.begin() + static_cast<std::ptrdiff_t>(want);
    if (want < n) std::nth_element(all.begin(), mid, all.end(), ranked_before);
    std::sort(all.begin(), mid, ranked_before);
    found.resize(base);
    for (auto it = all.begin(); it != mid; ++it) found.push_back(Neighbor{it->id, box_dist2(items.box(it->id), x, y)});
}

}  // namespace vardelin
